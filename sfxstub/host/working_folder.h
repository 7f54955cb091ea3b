// The working folder: a new folder with a unique name under the user's temporary folder that
// only its owner can change.
//
// The base is the value of "TEMP", else "TMP", else "C:\TEMP" (created when missing; the rule of
// temp_folder_win32.h, which the private copy of a network package follows too). Paths are
// UTF-8, used through the wide calls, so a base outside the ANSI code page works. The name is
// base, a backslash, the caller's prefix, one letter 'a'..'z' and the current thread's id modulo
// 100000 as five digits: with prefix "_tr_sfx.tm~" and thread 1234, "_tr_sfx.tm~a01234". The
// first letter whose name is free and whose folder could be created wins; a name whose existence
// cannot be tested counts as taken. A folder that existed before is never handed back.
//
// The folder is created with its final access list (a security descriptor made before the
// creation and given to it), so it never exists with the list it would inherit from the base:
// protected (nothing inherited), every entry inherited by what is created inside, and
//   - for an account that works through the Administrators group (an elevated administrator,
//     SYSTEM, an administrator where there is no UAC): full control for SYSTEM and
//     Administrators, owner Administrators, and read and execute for OWNER RIGHTS (whoever
//     owns a file made inside gets no implicit right to change its list), so the same user's
//     unelevated processes (which hold the group for denial only) get no more than everyone
//     else;
//   - for any other account: full control for the account itself, SYSTEM and Administrators,
//     owner the account;
//   - in both, read and execute for everyone else, so a setup program that starts again as
//     another account, or hands files to a service, still reads them.
// Other accounts can therefore neither plant files there nor replace, rename or delete it.
//
// Right after the creation the folder is opened as itself (never through a link at its name)
// without sharing delete access: the pin, which nobody can rename the folder past while it is
// held. Through it the folder is checked to be a real folder (no link), empty, and, on a volume
// that keeps access lists, owned by this account or the owner asked for. A folder that fails, or
// whose pin cannot be taken, is never handed back: nothing is extracted into a folder that is
// not known to be the one made. Its identity (volume serial and file id) is kept, so the stub can
// tell it from a link or another folder put at its name later. On Windows 9x (no access lists,
// no folder handles) the folder is made and handed back as before, without a descriptor, a pin
// or an identity.
#ifndef SFXSTUB_HOST_WORKING_FOLDER_H_
#define SFXSTUB_HOST_WORKING_FOLDER_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "sfxstub/io/win32_handle.h"

namespace sfx {

// What tells one folder from another on the same machine, whatever its name.
struct FolderIdentity {
  bool known = false;
  DWORD volumeSerial = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

// The same known folder. Two unknown identities are never the same folder.
inline bool operator==(const FolderIdentity& a, const FolderIdentity& b) {
  return a.known && b.known && a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh &&
         a.indexLow == b.indexLow;
}
inline bool operator!=(const FolderIdentity& a, const FolderIdentity& b) { return !(a == b); }

// Creates the folder; `folder` receives its path, or is left empty when no usable folder was
// created; `identity` (optional) receives its identity and `pin` (optional) the handle that
// holds it (closed at once when not asked for). Returns 0 or an error number:
//   206 (ERROR_FILENAME_EXCED_RANGE) when the path would not fit MAX_PATH characters with its
//       terminating zero (nothing is created then, not even the base folder);
//   the error of the call that failed to make the security descriptor (nothing is created);
//   the last creation failure, or 183 (ERROR_ALREADY_EXISTS), when all 26 names are taken;
//   the open's error number when the pin cannot be taken (the folder is removed again);
//   82 (ERROR_CANNOT_MAKE) when what stands at the new name is not a real folder (a link put
//       there in between, left alone), is not empty, or has another owner.
// No folder is handed back with an error.
int32_t CreateWorkingFolder(const char* prefix, std::string* folder,
                            FolderIdentity* identity = nullptr, ScopedHandle* pin = nullptr);

// The same for a caller's buffer of `size` bytes: the buffer is zero-filled first and the
// created path (UTF-8), with its terminating zero, must fit within `size` (else 206 and no
// folder).
int32_t CreateWorkingFolder(char* buffer, uint32_t size, const char* prefix);

// Opens the folder at `path` as itself: a link at that name is opened as the link, never
// followed. `access` is what the handle may do; other openers may read, write and delete.
// INVALID_HANDLE_VALUE on failure, with the last error set.
HANDLE OpenFolderItself(const std::string& path, DWORD access);

// The identity of the file or folder `info` describes.
inline FolderIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Reads the identity of what `handle` was opened on. False (last error set) when it can't be
// read, or when the object is not a real folder: a file, or a reparse point (a junction, a
// mount point or a symbolic link); 0 stands in `identity` then.
bool ReadFolderIdentity(HANDLE handle, FolderIdentity* identity);

// The working folder's security descriptor, made before the folder.
struct FolderSecurity {
  alignas(TOKEN_USER) BYTE userBuffer[128] = {};  // TOKEN_USER and a SID of at most 68 bytes
  PSID user = nullptr;                 // this account
  PSID owner = nullptr;                // user or Administrators
  DWORD acl[128] = {};                 // room for five entries of the largest SIDs
  SECURITY_DESCRIPTOR descriptor = {};
  SECURITY_ATTRIBUTES attributes = {};
};

namespace internal {

// Makes the descriptor described above, for an account that works through Administrators or
// not. 0 or the error number of the call that failed.
int32_t MakeFolderSecurity(bool administrators, FolderSecurity* security);

// Test seam: called right after the folder is created, with its path and the attributes the
// creation was given, before anything else is done to it (null: none).
using FolderCreatedHook = void (*)(const std::string& path, const SECURITY_ATTRIBUTES* given);
void SetFolderCreatedHookForTesting(FolderCreatedHook hook);

}  // namespace internal

}  // namespace sfx

#endif  // SFXSTUB_HOST_WORKING_FOLDER_H_
