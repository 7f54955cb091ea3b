#include "sfxstub/host/working_folder.h"

#include <aclapi.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "sfxstub/io/temp_folder_win32.h"
#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/io/win32_handle.h"

namespace sfx {

namespace {

// One letter and five digits.
constexpr size_t kUniqueLength = 6;

// Whether a file or folder of that name exists. A test that is refused (for lack of access, or
// any other reason than the name being absent) counts as "exists", so that name is never used.
bool NameTaken(const std::string& path) {
  if (GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// The platform's id; should the question fail, NT (whose calls are harmless to try).
DWORD PlatformId() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // 148
  return GetVersionExA(&version) ? version.dwPlatformId : VER_PLATFORM_WIN32_NT;
}

// The folder just created at `path`: opened as itself, checked, given its access list through
// the handle. Whoever could swap it for a link between the creation and the open (someone who
// may delete in the base folder) is caught by the check; after the access list is set, no other
// account can rename or delete it.
int32_t TakeNewFolder(const std::string& path, std::string* folder, FolderIdentity* identity) {
  if (PlatformId() != VER_PLATFORM_WIN32_NT) {
    // Windows 9x opens no folders as files and has no access lists: the folder is used as made.
    *folder = path;
    return 0;
  }
  ScopedHandle handle(OpenFolderItself(path, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES));
  DWORD listError = ERROR_SUCCESS;
  if (!handle.Valid()) {
    // No right to change the list here (a base folder that withholds it): the folder is still
    // used, with the list it inherited, as long as it is the real folder just made.
    listError = GetLastError();
    handle.Reset(OpenFolderItself(path, FILE_READ_ATTRIBUTES));
    if (!handle.Valid()) {
      const DWORD error = GetLastError();
      return error != ERROR_SUCCESS ? static_cast<int32_t>(error) : kErrorCannotMake;
    }
  }
  FolderIdentity found;
  if (!ReadFolderIdentity(handle.Get(), &found)) return kErrorCannotMake;
  const int32_t result = listError != ERROR_SUCCESS ? static_cast<int32_t>(listError)
                                                    : RestrictFolderAccess(handle.Get());
  *folder = path;
  if (identity != nullptr) *identity = found;
  return result;
}

// `byteLimit` bounds the UTF-8 path with its terminating zero, for a caller's buffer.
int32_t CreateWorkingFolderWithin(const char* prefix, size_t byteLimit, std::string* folder,
                                  FolderIdentity* identity) {
  folder->clear();
  if (identity != nullptr) *identity = FolderIdentity();
  const std::string base = TempFolderBase();
  const std::string prefixText = prefix != nullptr ? prefix : "";

  // base + '\' + prefix + six characters + terminating zero must fit MAX_PATH characters as the
  // system counts them (UTF-16 units), and the caller's bytes. The base is not normalised: one
  // that ends with a backslash gets a second one, which the file system accepts.
  WideString wideBase, widePrefix;
  if (!ToWide(base, &wideBase) || !ToWide(prefixText, &widePrefix)) {
    return kErrorNoUnicodeTranslation;
  }
  const size_t tail = 1 + kUniqueLength + 1;
  if (wideBase.size() + widePrefix.size() + tail > MAX_PATH ||
      base.size() + prefixText.size() + tail > byteLimit) {
    return kErrorFilenameExcedRange;
  }
  CreateDirectoryW(wideBase.c_str(), nullptr);  // Normally there already.

  char digits[8];  // wsprintfA rather than the runtime's large printf; five digits
  wsprintfA(digits, "%05lu", static_cast<unsigned long>(GetCurrentThreadId() % 100000));
  const std::string stem = base + '\\' + prefixText;

  int32_t result = kErrorAlreadyExists;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string candidate = stem + letter + digits;
    if (NameTaken(candidate)) continue;
    // Someone may take the name between the test and the creation: then it is taken too, and a
    // folder that was there before is never adopted.
    if (!CreateDirectoryW(WidePath(candidate).c_str(), nullptr)) {
      result = static_cast<int32_t>(GetLastError());
      continue;
    }
    return TakeNewFolder(candidate, folder, identity);
  }
  return result;
}

}  // namespace

int32_t CreateWorkingFolder(const char* prefix, std::string* folder, FolderIdentity* identity) {
  return CreateWorkingFolderWithin(prefix, static_cast<size_t>(-1), folder, identity);
}

int32_t CreateWorkingFolder(char* buffer, uint32_t size, const char* prefix) {
  if (buffer == nullptr || size == 0) return kErrorInvalidParameter;
  std::memset(buffer, 0, size);
  std::string folder;
  int32_t result = CreateWorkingFolderWithin(prefix, size, &folder, nullptr);
  // The limit above guarantees the path and its terminator fit.
  std::memcpy(buffer, folder.c_str(), folder.size());
  return result;
}

HANDLE OpenFolderItself(const std::string& path, DWORD access) {
  return CreateFileW(WidePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool ReadFolderIdentity(HANDLE handle, FolderIdentity* identity) {
  *identity = FolderIdentity();
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    SetLastError(kErrorDirectory);
    return false;
  }
  identity->known = true;
  identity->volumeSerial = info.dwVolumeSerialNumber;
  identity->indexHigh = info.nFileIndexHigh;
  identity->indexLow = info.nFileIndexLow;
  return true;
}

int32_t RestrictFolderAccess(HANDLE folder) {
  return internal::RestrictFolderAccess(folder, PlatformId(), L"advapi32.dll");
}

namespace internal {

int32_t RestrictFolderAccess(HANDLE folder, DWORD platformId, const wchar_t* libraryName) {
  // Windows 9x has no access lists: nothing to set.
  if (platformId != VER_PLATFORM_WIN32_NT) return 0;
  if (folder == nullptr || folder == INVALID_HANDLE_VALUE) return kErrorInvalidHandle;

  ScopedLibrary library(LoadLibraryW(libraryName));
  if (library.Get() == nullptr) return static_cast<int32_t>(GetLastError());
  auto setSecurityInfo = LookUpFunction<decltype(&::SetSecurityInfo)>(library.Get(), "SetSecurityInfo");
  auto setEntriesInAcl =
      LookUpFunction<decltype(&::SetEntriesInAclA)>(library.Get(), "SetEntriesInAclA");
  if (setSecurityInfo == nullptr || setEntriesInAcl == nullptr) return kErrorInvalidOrdinal;

  // The current account, from the process token.
  ScopedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) {
    return static_cast<int32_t>(GetLastError());
  }
  DWORD needed = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
  if (needed == 0) return static_cast<int32_t>(GetLastError());
  std::unique_ptr<BYTE[]> userBuffer(new (std::nothrow) BYTE[needed]);
  if (!userBuffer) return kErrorNotEnoughMemory;
  if (!GetTokenInformation(token.Get(), TokenUser, userBuffer.get(), needed, &needed)) {
    return static_cast<int32_t>(GetLastError());
  }
  PSID user = reinterpret_cast<TOKEN_USER*>(userBuffer.get())->User.Sid;

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
  ScopedSid system, administrators, everyone;
  if (!AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                system.Receive()) ||
      !AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                administrators.Receive()) ||
      !AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                everyone.Receive())) {
    return static_cast<int32_t>(GetLastError());
  }

  // Specific rights, not generic ones, so the list reads back as it was meant.
  struct Grant {
    PSID sid;
    DWORD rights;
  };
  const Grant grants[] = {
      {user, FILE_ALL_ACCESS},
      {system.Get(), FILE_ALL_ACCESS},
      {administrators.Get(), FILE_ALL_ACCESS},
      {everyone.Get(), FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
  };
  constexpr ULONG kGrants = sizeof grants / sizeof grants[0];
  EXPLICIT_ACCESS_A entries[kGrants];
  std::memset(entries, 0, sizeof entries);
  for (ULONG i = 0; i < kGrants; ++i) {
    entries[i].grfAccessPermissions = grants[i].rights;
    entries[i].grfAccessMode = GRANT_ACCESS;
    entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entries[i].Trustee.pMultipleTrustee = nullptr;
    entries[i].Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[i].Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    entries[i].Trustee.ptstrName = static_cast<LPSTR>(grants[i].sid);
  }

  // A new list, not merged into the inherited one: a base folder such as C:\TEMP may pass on
  // write access for every user, which is just what must not reach this folder.
  ScopedLocal newAcl;
  DWORD status = setEntriesInAcl(kGrants, entries, nullptr, reinterpret_cast<PACL*>(newAcl.Receive()));
  if (status != ERROR_SUCCESS) return static_cast<int32_t>(status);
  status = setSecurityInfo(folder, SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, static_cast<PACL>(newAcl.Get()), nullptr);
  return static_cast<int32_t>(status);
}

}  // namespace internal

}  // namespace sfx
