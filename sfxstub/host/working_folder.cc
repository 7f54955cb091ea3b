#include "sfxstub/host/working_folder.h"

#include <cstring>

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
bool NameTaken(const WideString& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
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

internal::FolderCreatedHook g_folderCreatedHook = nullptr;

// The well-known accounts the list names, laid out as SID records (revision 1, the number of
// sub-authorities, the six-byte authority, the sub-authorities): constants, so nothing has to
// be allocated or freed for them.
struct WellKnownSid {
  BYTE revision;
  BYTE subAuthorityCount;
  BYTE authority[6];
  DWORD subAuthority[2];
};
constexpr WellKnownSid kSystem = {  // S-1-5-18
    1, 1, {0, 0, 0, 0, 0, 5}, {SECURITY_LOCAL_SYSTEM_RID}};
constexpr WellKnownSid kAdministrators = {  // S-1-5-32-544
    1, 2, {0, 0, 0, 0, 0, 5}, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
constexpr WellKnownSid kEveryone = {1, 1, {0, 0, 0, 0, 0, 1}, {SECURITY_WORLD_RID}};  // S-1-1-0
constexpr WellKnownSid kOwnerRights = {  // S-1-3-4
    1, 1, {0, 0, 0, 0, 0, 3}, {SECURITY_CREATOR_OWNER_RIGHTS_RID}};

// The calls that take these only read them (they copy them into the list, compare them, or
// keep a pointer in the descriptor that is only read).
PSID Sid(const WellKnownSid& sid) { return const_cast<WellKnownSid*>(&sid); }

// Whether the volume `path` lies on keeps access lists (NTFS, ReFS; not FAT). When that can't be
// told, it is taken to keep them, so every check is made.
bool KeepsAccessLists(const WideString& path) {
  wchar_t root[MAX_PATH + 1];
  DWORD flags = 0;
  return !GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1) ||
         !GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
         (flags & FILE_PERSISTENT_ACLS) != 0;
}

// Whether the folder behind `handle` (opened with READ_CONTROL) belongs to this account or to
// the owner the descriptor asked for.
bool OwnedByUs(HANDLE handle, const FolderSecurity& security) {
  DWORD buffer[64];  // a descriptor holding only the owner: 20 bytes and a SID of at most 68
  DWORD needed = 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return GetKernelObjectSecurity(handle, OWNER_SECURITY_INFORMATION, buffer, sizeof buffer,
                                 &needed) &&
         GetSecurityDescriptorOwner(buffer, &owner, &defaulted) && owner != nullptr &&
         (EqualSid(owner, security.user) || EqualSid(owner, security.owner));
}

// Whether the folder at `path` holds nothing but "." and "..".
bool IsEmptyFolder(const WideString& path) {
  // The working folder's path fits MAX_PATH characters with its terminator.
  wchar_t pattern[MAX_PATH + 2];
  std::memcpy(pattern, path.c_str(), path.size() * sizeof(wchar_t));
  std::memcpy(pattern + path.size(), L"\\*", 3 * sizeof(wchar_t));
  WIN32_FIND_DATAW entry;
  ScopedFind find(FindFirstFileW(pattern, &entry));
  if (!find.Valid()) return false;
  do {
    const wchar_t* name = entry.cFileName;
    if (!(name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)))) return false;
  } while (FindNextFileW(find.Get(), &entry));
  return true;
}

// The folder just created at `path`, with the descriptor it was given: pinned, checked, handed
// back. Whoever could swap it for a link or another folder between the creation and the pin
// (someone who may delete in the base folder) is caught by the checks.
int32_t TakeNewFolder(const std::string& path, const WideString& widePath,
                      const FolderSecurity& security, std::string* folder,
                      FolderIdentity* identity, ScopedHandle* pin) {
  // Renaming a folder takes an open with DELETE access, which this sharing refuses.
  ScopedHandle handle(CreateFileW(widePath.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!handle.Valid()) {
    const DWORD error = GetLastError();
    // Only an empty folder or a link itself goes: nothing anyone put there is lost.
    RemoveDirectoryW(widePath.c_str());
    return error != ERROR_SUCCESS ? static_cast<int32_t>(error) : kErrorCannotMake;
  }
  FolderIdentity found;
  if (!ReadFolderIdentity(handle.Get(), &found) || !IsEmptyFolder(widePath) ||
      (KeepsAccessLists(widePath) && !OwnedByUs(handle.Get(), security))) {
    return kErrorCannotMake;  // Not the folder made, or not as made: left as it is.
  }
  *folder = path;
  if (identity != nullptr) *identity = found;
  if (pin != nullptr) *pin = std::move(handle);
  return 0;
}

// Whether this process works through the Administrators group (elevated, or where there is no
// UAC). When that can't be told, it is taken to: the folder then belongs to Administrators, and
// an account outside the group fails to create it rather than gets a folder open to others.
bool WorksThroughAdministrators(PSID administrators) {
  BOOL member = TRUE;
  return !CheckTokenMembership(nullptr, administrators, &member) || member;
}

// `byteLimit` bounds the UTF-8 path with its terminating zero, for a caller's buffer.
int32_t CreateWorkingFolderWithin(const char* prefix, size_t byteLimit, std::string* folder,
                                  FolderIdentity* identity, ScopedHandle* pin) {
  folder->clear();
  if (identity != nullptr) *identity = FolderIdentity();
  if (pin != nullptr) pin->Reset();
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
  // Made before the folder: the folder never exists without it. Windows 9x has none.
  FolderSecurity security;
  const bool nt = PlatformId() == VER_PLATFORM_WIN32_NT;
  if (nt) {
    int32_t made = internal::MakeFolderSecurity(false, &security);
    if (made == 0 && WorksThroughAdministrators(Sid(kAdministrators))) {
      made = internal::MakeFolderSecurity(true, &security);
    }
    if (made != 0) return made;
  }
  CreateDirectoryW(wideBase.c_str(), nullptr);  // Normally there already.

  char digits[8];  // wsprintfA rather than the runtime's large printf; five digits
  wsprintfA(digits, "%05lu", static_cast<unsigned long>(GetCurrentThreadId() % 100000));
  const std::string stem = base + '\\' + prefixText;

  int32_t result = kErrorAlreadyExists;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string candidate = stem + letter + digits;
    const WideString wide = WidePath(candidate);
    if (NameTaken(wide)) continue;
    // Someone may take the name between the test and the creation: then it is taken too, and a
    // folder that was there before is never adopted.
    if (!CreateDirectoryW(wide.c_str(), nt ? &security.attributes : nullptr)) {
      result = static_cast<int32_t>(GetLastError());
      continue;
    }
    if (g_folderCreatedHook != nullptr) {
      g_folderCreatedHook(candidate, nt ? &security.attributes : nullptr);
    }
    if (!nt) {
      // Windows 9x opens no folders as files and has no access lists: the folder is used as made.
      *folder = candidate;
      return 0;
    }
    return TakeNewFolder(candidate, wide, security, folder, identity, pin);
  }
  return result;
}

}  // namespace

int32_t CreateWorkingFolder(const char* prefix, std::string* folder, FolderIdentity* identity,
                            ScopedHandle* pin) {
  return CreateWorkingFolderWithin(prefix, static_cast<size_t>(-1), folder, identity, pin);
}

int32_t CreateWorkingFolder(char* buffer, uint32_t size, const char* prefix) {
  if (buffer == nullptr || size == 0) return kErrorInvalidParameter;
  std::memset(buffer, 0, size);
  std::string folder;
  int32_t result = CreateWorkingFolderWithin(prefix, size, &folder, nullptr, nullptr);
  // The limit above guarantees the path and its terminator fit.
  std::memcpy(buffer, folder.c_str(), folder.size());
  return result;
}

HANDLE OpenFolderItself(const std::string& path, DWORD access) {
  return CreateFileW(WidePath(path).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
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
  *identity = IdentityOf(info);
  return true;
}

namespace internal {

int32_t MakeFolderSecurity(bool administrators, FolderSecurity* security) {
  // The current account, from the process token.
  if (security->user == nullptr) {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) {
      return static_cast<int32_t>(GetLastError());
    }
    DWORD needed = 0;
    if (!GetTokenInformation(token.Get(), TokenUser, security->userBuffer,
                             sizeof security->userBuffer, &needed)) {
      return static_cast<int32_t>(GetLastError());
    }
    security->user = reinterpret_cast<TOKEN_USER*>(security->userBuffer)->User.Sid;
  }

  // Specific rights, not generic ones, so the list reads back as it was meant. The account
  // itself only when it does not work through Administrators; then the owner of anything made
  // inside (which may be the user, by policy) gets no implicit right to change its access list
  // either: the OWNER RIGHTS entry takes the place of those rights (Windows Vista and later,
  // where there are unelevated processes of the same user; earlier systems match no one by it).
  constexpr DWORD kReadAndRun = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  struct Grant {
    PSID sid;
    DWORD rights;
  };
  const Grant grants[] = {
      {administrators ? nullptr : security->user, FILE_ALL_ACCESS},
      {Sid(kSystem), FILE_ALL_ACCESS},
      {Sid(kAdministrators), FILE_ALL_ACCESS},
      {administrators ? Sid(kOwnerRights) : nullptr, kReadAndRun},
      {Sid(kEveryone), kReadAndRun},
  };
  PACL acl = reinterpret_cast<PACL>(security->acl);
  if (!InitializeAcl(acl, sizeof security->acl, ACL_REVISION)) {
    return static_cast<int32_t>(GetLastError());
  }
  for (const Grant& grant : grants) {
    if (grant.sid != nullptr &&
        !AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                               grant.rights, grant.sid)) {
      return static_cast<int32_t>(GetLastError());
    }
  }
  // Protected: a base folder such as C:\TEMP may pass on write access for every user, which is
  // just what must not reach this folder.
  security->owner = administrators ? Sid(kAdministrators) : security->user;
  SECURITY_DESCRIPTOR* descriptor = &security->descriptor;
  if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
      !SetSecurityDescriptorOwner(descriptor, security->owner, FALSE)) {
    return static_cast<int32_t>(GetLastError());
  }
  security->attributes.nLength = sizeof security->attributes;
  security->attributes.lpSecurityDescriptor = descriptor;
  security->attributes.bInheritHandle = FALSE;  // the setup program has no use for any handle
  return 0;
}

void SetFolderCreatedHookForTesting(FolderCreatedHook hook) { g_folderCreatedHook = hook; }

}  // namespace internal

}  // namespace sfx
