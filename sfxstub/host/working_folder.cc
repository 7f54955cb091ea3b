#include "sfxstub/host/working_folder.h"

#include <aclapi.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "sfxstub/host/win32_handle.h"

namespace sfx {

namespace {

constexpr char kFallbackBase[] = "C:\\TEMP";
// One letter and five digits.
constexpr size_t kUniqueLength = 6;

// Reads an environment variable whatever its length. False when it is unset or empty.
bool ReadEnvironment(const char* name, std::string* value) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      value->assign(buffer.data(), length);
      return true;
    }
    // Too small: `length` is the size needed, terminator included.
    buffer.resize(length);
  }
}

// Whether a file or folder of that name exists. A test that is refused (for lack of access, or
// any other reason than the name being absent) counts as "exists", so that name is never used.
bool NameTaken(const std::string& path) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

int32_t CreateWorkingFolderWithin(const char* prefix, size_t limit, std::string* folder) {
  folder->clear();
  std::string base;
  if (!ReadEnvironment("TEMP", &base) && !ReadEnvironment("TMP", &base)) base = kFallbackBase;
  const std::string prefixText = prefix != nullptr ? prefix : "";

  // base + '\' + prefix + six characters + terminating zero must fit. The base is not
  // normalised: one that ends with a backslash gets a second one, which the file system accepts.
  if (base.size() + 1 + prefixText.size() + kUniqueLength + 1 > limit) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  CreateDirectoryA(base.c_str(), nullptr);  // Normally there already.

  char digits[8];
  std::snprintf(digits, sizeof digits, "%05lu",
                static_cast<unsigned long>(GetCurrentThreadId() % 100000));
  const std::string stem = base + '\\' + prefixText;

  int32_t result = ERROR_ALREADY_EXISTS;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string candidate = stem + letter + digits;
    if (NameTaken(candidate)) continue;
    // Someone may take the name between the test and the creation: then it is taken too, and a
    // folder that was there before is never adopted.
    if (!CreateDirectoryA(candidate.c_str(), nullptr)) {
      result = static_cast<int32_t>(GetLastError());
      continue;
    }
    *folder = candidate;
    return GrantEveryoneFullAccess(candidate.c_str(), SE_FILE_OBJECT);
  }
  return result;
}

// GetProcAddress's result as the function type it really has.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

int32_t CreateWorkingFolder(const char* prefix, std::string* folder) {
  return CreateWorkingFolderWithin(prefix, MAX_PATH, folder);
}

int32_t CreateWorkingFolder(char* buffer, uint32_t size, const char* prefix) {
  if (buffer == nullptr || size == 0) return ERROR_INVALID_PARAMETER;
  std::memset(buffer, 0, size);
  std::string folder;
  int32_t result = CreateWorkingFolderWithin(prefix, size, &folder);
  // The limit above guarantees the path and its terminator fit.
  std::memcpy(buffer, folder.c_str(), folder.size());
  return result;
}

int32_t GrantEveryoneFullAccess(const char* path, SE_OBJECT_TYPE objectType) {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // 148
  // Should the question fail, assume NT: trying to open the folder is harmless.
  DWORD platformId = GetVersionExA(&version) ? version.dwPlatformId : VER_PLATFORM_WIN32_NT;
  return internal::GrantEveryoneFullAccess(path, objectType, platformId, "advapi32.dll");
}

namespace internal {

int32_t GrantEveryoneFullAccess(const char* path, SE_OBJECT_TYPE objectType, DWORD platformId,
                                const char* libraryName) {
  // Windows 9x has no access lists: nothing to open.
  if (platformId != VER_PLATFORM_WIN32_NT) return 0;
  if (path == nullptr) return ERROR_INVALID_PARAMETER;

  ScopedLibrary library(LoadLibraryA(libraryName));
  if (library.Get() == nullptr) return static_cast<int32_t>(GetLastError());
  auto getNamedSecurityInfo =
      LookUp<decltype(&::GetNamedSecurityInfoA)>(library.Get(), "GetNamedSecurityInfoA");
  auto setNamedSecurityInfo =
      LookUp<decltype(&::SetNamedSecurityInfoA)>(library.Get(), "SetNamedSecurityInfoA");
  auto setEntriesInAcl =
      LookUp<decltype(&::SetEntriesInAclA)>(library.Get(), "SetEntriesInAclA");
  if (getNamedSecurityInfo == nullptr || setNamedSecurityInfo == nullptr ||
      setEntriesInAcl == nullptr) {
    return ERROR_INVALID_ORDINAL;
  }

  // SetNamedSecurityInfoA wants a writable name.
  std::vector<char> name;
  try {
    name.assign(path, path + std::strlen(path) + 1);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }

  PACL currentAcl = nullptr;  // Points into `descriptor`.
  ScopedLocal descriptor;
  DWORD status = getNamedSecurityInfo(name.data(), objectType, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &currentAcl, nullptr,
                                      descriptor.Receive<void>());
  if (status != ERROR_SUCCESS) return static_cast<int32_t>(status);

  SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
  ScopedSid everyone;
  if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                everyone.Receive())) {
    return static_cast<int32_t>(GetLastError());
  }

  EXPLICIT_ACCESS_A entry;
  std::memset(&entry, 0, sizeof entry);
  entry.grfAccessPermissions = GENERIC_ALL;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.pMultipleTrustee = nullptr;
  entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
  entry.Trustee.ptstrName = static_cast<LPSTR>(everyone.Get());

  // The entries the folder already has (inherited from its parent) stay; ours is merged in.
  ScopedLocal newAcl;
  status = setEntriesInAcl(1, &entry, currentAcl, newAcl.Receive<ACL>());
  if (status != ERROR_SUCCESS) return static_cast<int32_t>(status);

  status = setNamedSecurityInfo(name.data(), objectType, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, newAcl.As<ACL>(), nullptr);
  return static_cast<int32_t>(status);
}

}  // namespace internal

}  // namespace sfx
