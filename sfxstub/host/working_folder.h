// The working folder: a new folder with a unique name under the user's temporary folder, opened
// to every account.
//
// The base is the value of "TEMP", else "TMP", else "C:\TEMP" (created when missing). The name is
// base, a backslash, the caller's prefix, one letter 'a'..'z' and the current thread's id modulo
// 100000 as five digits: with prefix "_tr_sfx.tm~" and thread 1234, "_tr_sfx.tm~a01234". The
// first letter whose name is free and whose folder could be created wins; a name whose existence
// cannot be tested counts as taken. A folder that existed before is never handed back.
#ifndef SFXSTUB_HOST_WORKING_FOLDER_H_
#define SFXSTUB_HOST_WORKING_FOLDER_H_

#include <windows.h>
#include <accctrl.h>

#include <cstdint>
#include <string>

namespace sfx {

// Creates the folder; `folder` receives its path, or is left empty when no folder was created.
// Returns 0 or an error number:
//   206 (ERROR_FILENAME_EXCED_RANGE) when the path would not fit MAX_PATH characters with its
//       terminating zero (nothing is created then, not even the base folder);
//   the last creation failure, or 183 (ERROR_ALREADY_EXISTS), when all 26 names are taken;
//   otherwise the result of GrantEveryoneFullAccess on the new folder (the folder exists even
//   when that fails).
int32_t CreateWorkingFolder(const char* prefix, std::string* folder);

// The same for a caller's buffer of `size` characters: the buffer is zero-filled first and the
// created path, with its terminating zero, must fit within `size` (else 206 and no folder).
int32_t CreateWorkingFolder(char* buffer, uint32_t size, const char* prefix);

// Merges an entry into the object's access list that grants GENERIC_ALL to the World SID
// (S-1-1-0), inherited by subfolders and files. The security functions are looked up at run time
// in "advapi32.dll". Returns 0 at once on a platform that is not NT, 182 (ERROR_INVALID_ORDINAL)
// when one of the functions is missing, else the first failing call's error number.
int32_t GrantEveryoneFullAccess(const char* path, SE_OBJECT_TYPE objectType);

namespace internal {
// GrantEveryoneFullAccess with the platform id and the library named by the caller, so tests can
// reach the ways out that a current NT system never takes.
int32_t GrantEveryoneFullAccess(const char* path, SE_OBJECT_TYPE objectType, DWORD platformId,
                                const char* libraryName);
}  // namespace internal

}  // namespace sfx

#endif  // SFXSTUB_HOST_WORKING_FOLDER_H_
