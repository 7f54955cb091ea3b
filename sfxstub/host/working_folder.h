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
// Right after the creation the folder is opened as itself (never through a link at its name),
// checked to be a real folder, and given its access list through that handle: full control for
// the current account, SYSTEM and Administrators, read and execute for everyone else (so a setup
// program that starts again as another account, or hands files to a service, still reads them),
// all inherited by what is created inside, nothing inherited from the base folder. Other
// accounts can therefore neither plant files there nor replace, rename or delete the folder.
// Its identity (volume serial and file id) is kept, so the clean-up can tell it from a link or
// another folder put at its name later. On Windows 9x (no access lists, no folder handles) the
// folder is handed back as made, with 0 and an unknown identity.
#ifndef SFXSTUB_HOST_WORKING_FOLDER_H_
#define SFXSTUB_HOST_WORKING_FOLDER_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace sfx {

// What tells one folder from another on the same machine, whatever its name.
struct FolderIdentity {
  bool known = false;
  DWORD volumeSerial = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

// Creates the folder; `folder` receives its path, or is left empty when no usable folder was
// created; `identity` (optional) receives its identity. Returns 0 or an error number:
//   206 (ERROR_FILENAME_EXCED_RANGE) when the path would not fit MAX_PATH characters with its
//       terminating zero (nothing is created then, not even the base folder);
//   the last creation failure, or 183 (ERROR_ALREADY_EXISTS), when all 26 names are taken;
//   the open's error number, or 82 (ERROR_CANNOT_MAKE) when what stands at the new name is not
//       a real folder (a link put there in between): no folder is handed back then;
//   otherwise the error of opening the folder to change its list, or the result of
//       RestrictFolderAccess (the folder is handed back even when these fail, with the access
//       list it inherited from the base folder).
int32_t CreateWorkingFolder(const char* prefix, std::string* folder,
                            FolderIdentity* identity = nullptr);

// The same for a caller's buffer of `size` bytes: the buffer is zero-filled first and the
// created path (UTF-8), with its terminating zero, must fit within `size` (else 206 and no
// folder).
int32_t CreateWorkingFolder(char* buffer, uint32_t size, const char* prefix);

// Opens the folder at `path` as itself: a link at that name is opened as the link, never
// followed. `access` is what the handle may do; other openers may read, write and delete.
// INVALID_HANDLE_VALUE on failure, with the last error set.
HANDLE OpenFolderItself(const std::string& path, DWORD access);

// Reads the identity of what `handle` was opened on. False (last error set) when it can't be
// read, or when the object is not a real folder: a file, or a reparse point (a junction, a
// mount point or a symbolic link); 0 stands in `identity` then.
bool ReadFolderIdentity(HANDLE handle, FolderIdentity* identity);

// Replaces the access list of the folder behind `handle` (opened with READ_CONTROL | WRITE_DAC)
// by the working folder's list described above. The security functions SetEntriesInAclA and
// SetSecurityInfo are looked up at run time in "advapi32.dll". Returns 0 at once on a platform
// that is not NT, 182 (ERROR_INVALID_ORDINAL) when one of them is missing, else the first
// failing call's error number.
int32_t RestrictFolderAccess(HANDLE folder);

namespace internal {
// RestrictFolderAccess with the platform id and the library named by the caller, so tests can
// reach the ways out that a current NT system never takes.
int32_t RestrictFolderAccess(HANDLE folder, DWORD platformId, const wchar_t* libraryName);
}  // namespace internal

}  // namespace sfx

#endif  // SFXSTUB_HOST_WORKING_FOLDER_H_
