#include "sfxstub/host/folder_cleanup.h"

#include <windows.h>

#include <cwchar>

#include "sfxstub/io/join_path.h"
#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/io/win32_handle.h"

namespace sfx {

namespace {

// The pattern up to and including its last backslash (or slash, or the colon of "C:name"),
// empty when it has none. Paths are UTF-8, whose multi-byte characters hold no byte below 0x80,
// so no part of another character is taken for a separator.
std::string FolderPart(const std::string& pattern) {
  const size_t last = pattern.find_last_of("\\/:");
  return last == std::string::npos ? std::string() : pattern.substr(0, last + 1);
}

bool IsDotEntry(const wchar_t* name) {
  return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

bool IsFolder(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Removes a folder link itself. RemoveDirectoryW never enters it: a junction or a folder
// symbolic link goes, and what it points to stays as it was.
int32_t RemoveLink(const std::string& path) {
  return RemoveDirectoryW(WidePath(path).c_str()) ? 0 : static_cast<int32_t>(GetLastError());
}

// Deletes the matching entries of one folder. Returns the last failure.
int32_t CleanEntries(const std::string& folder, const char* filePattern, bool recurse) {
  int32_t result = 0;
  WIN32_FIND_DATAW data;
  ScopedFind entries(FindFirstFileW(WidePath(JoinPath(folder, filePattern)).c_str(), &data));
  if (entries.Valid()) {
    do {
      if (IsDotEntry(data.cFileName)) continue;
      const std::string path = JoinPath(folder, Utf8FromWide(data.cFileName));
      int32_t status = 0;
      if (IsFolder(data) && IsLink(data.dwFileAttributes)) {
        // A junction or folder link: entering it would delete files that live elsewhere.
        status = RemoveLink(path);
      } else if (recurse && IsFolder(data)) {
        status = DeleteFolderFiles(path, filePattern, recurse);
      } else if (!DeleteFileW(WidePath(path).c_str())) {
        // DeleteFileW removes a file link itself. It is also the way a subfolder goes without
        // recursion: it fails and stays.
        status = static_cast<int32_t>(GetLastError());
      }
      if (status != 0) result = status;
    } while (FindNextFileW(entries.Get(), &data));
  }
  return result;
}

// Deletes the matching entries of one folder, then the folder. Returns the last failure.
int32_t CleanFolder(const std::string& folder, const char* filePattern, bool recurse) {
  int32_t result = CleanEntries(folder, filePattern, recurse);
  if (!RemoveDirectoryW(WidePath(folder).c_str())) result = static_cast<int32_t>(GetLastError());
  return result;
}

}  // namespace

int32_t DeleteFolderFiles(const std::string& folderPattern, const char* filePattern,
                          bool recurse) {
  if (filePattern == nullptr) filePattern = "*.*";
  const std::string parent = FolderPart(folderPattern);
  int32_t result = 0;
  WIN32_FIND_DATAW data;
  ScopedFind folders(FindFirstFileW(WidePath(folderPattern).c_str(), &data));
  if (!folders.Valid()) return 0;  // Nothing matches: nothing to do.
  do {
    if (!IsFolder(data) || IsDotEntry(data.cFileName)) continue;
    const std::string path = parent + Utf8FromWide(data.cFileName);
    int32_t status = IsLink(data.dwFileAttributes) ? RemoveLink(path)
                                                   : CleanFolder(path, filePattern, recurse);
    if (status != 0) result = status;
  } while (FindNextFileW(folders.Get(), &data));
  return result;
}

int32_t DeleteWorkingFolder(const std::string& folder, const FolderIdentity& identity,
                            const char* filePattern, bool recurse) {
  if (!identity.known) return DeleteFolderFiles(folder, filePattern, recurse);
  if (filePattern == nullptr) filePattern = "*.*";

  // Opened as itself and without FILE_SHARE_DELETE: while this handle lives, nobody can rename
  // the folder away (that needs DELETE access on it), so the name keeps meaning this folder
  // while its entries are deleted by name.
  ScopedHandle pin(CreateFileW(WidePath(folder).c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!pin.Valid() && GetLastError() == ERROR_SHARING_VIOLATION) {
    // Someone holds it with DELETE access: it can't be pinned, but it can still be checked.
    pin.Reset(OpenFolderItself(folder, FILE_READ_ATTRIBUTES | SYNCHRONIZE));
  }
  if (!pin.Valid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? 0
               : static_cast<int32_t>(error);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(pin.Get(), &info)) return static_cast<int32_t>(GetLastError());
  if (IsLink(info.dwFileAttributes)) {
    // The folder was replaced by a link: remove the link and nothing else.
    pin.Reset();
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? RemoveLink(folder)
               : (DeleteFileW(WidePath(folder).c_str()) ? 0 : static_cast<int32_t>(GetLastError()));
  }
  FolderIdentity found;
  if (!ReadFolderIdentity(pin.Get(), &found) || found != identity) {
    return kErrorDirectory;  // Not ours: touch nothing.
  }
  int32_t result = CleanEntries(folder, filePattern, recurse);
  // The pin must go before the folder can be removed. What could stand at the name after it
  // went is no threat: RemoveDirectoryW removes only an empty folder or a link itself.
  pin.Reset();
  if (!RemoveDirectoryW(WidePath(folder).c_str())) result = static_cast<int32_t>(GetLastError());
  return result;
}

}  // namespace sfx
