#include "sfxstub/host/folder_cleanup.h"

#include <windows.h>

#include <cstring>

#include "sfxstub/archive/join_path.h"
#include "sfxstub/host/win32_handle.h"

namespace sfx {

namespace {

// The pattern up to and including its last backslash (or slash, or the colon of "C:name"),
// empty when it has none. The trail byte of a double-byte character can equal '\', so the scan
// steps over whole characters.
std::string FolderPart(const std::string& pattern) {
  size_t end = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < pattern.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') end = i + 1;
  }
  return pattern.substr(0, end);
}

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool IsFolder(const WIN32_FIND_DATAA& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Deletes the matching entries of one folder, then the folder. Returns the last failure.
int32_t CleanFolder(const std::string& folder, const char* filePattern, bool recurse) {
  int32_t result = 0;
  WIN32_FIND_DATAA data;
  ScopedFind entries(FindFirstFileA(JoinPath(folder, filePattern).c_str(), &data));
  if (entries.Valid()) {
    do {
      if (IsDotEntry(data.cFileName)) continue;
      const std::string path = JoinPath(folder, data.cFileName);
      if (recurse && IsFolder(data)) {
        int32_t status;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
          // A junction or folder link: entering it would delete files that live elsewhere.
          status = RemoveDirectoryA(path.c_str()) ? 0 : static_cast<int32_t>(GetLastError());
        } else {
          status = DeleteFolderFiles(path, filePattern, recurse);
        }
        if (status != 0) result = status;
      } else if (!DeleteFileA(path.c_str())) {
        // Also the way a subfolder goes without recursion: it fails and stays.
        result = static_cast<int32_t>(GetLastError());
      }
    } while (FindNextFileA(entries.Get(), &data));
  }
  entries.Close();  // The search keeps the folder busy.
  if (!RemoveDirectoryA(folder.c_str())) result = static_cast<int32_t>(GetLastError());
  return result;
}

}  // namespace

int32_t DeleteFolderFiles(const std::string& folderPattern, const char* filePattern,
                          bool recurse) {
  if (filePattern == nullptr) filePattern = "*.*";
  const std::string parent = FolderPart(folderPattern);
  int32_t result = 0;
  WIN32_FIND_DATAA data;
  ScopedFind folders(FindFirstFileA(folderPattern.c_str(), &data));
  if (!folders.Valid()) return 0;  // Nothing matches: nothing to do.
  do {
    if (!IsFolder(data) || IsDotEntry(data.cFileName)) continue;
    int32_t status = CleanFolder(parent + data.cFileName, filePattern, recurse);
    if (status != 0) result = status;
  } while (FindNextFileA(folders.Get(), &data));
  return result;
}

}  // namespace sfx
