#include "sfxstub/host/host_test_util.h"


#include <cstdio>
#include <vector>

#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/io/win32_handle.h"

namespace sfx {
namespace test {

std::string HostPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string result = "Z:" + path;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

std::string ReadTextFile(const std::string& path) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return std::string();
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
    text.append(chunk, got);
  }
  return text;
}

bool ReadChildReport(const std::string& path, ChildReport* report) {
  std::string text = ReadTextFile(path);
  std::string* fields[] = {&report->commandLine, &report->folder, &report->windowFound};
  size_t start = 0;
  for (std::string* field : fields) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) return false;
    field->assign(text, start, end - start);
    start = end + 1;
  }
  return true;
}

void RemoveTree(const std::string& path) {
  const WideString wide = WidePath(path);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(wide.c_str());
    return;
  }
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  ScopedFind find(FindFirstFileW((wide + L"\\*").c_str(), &data));
  if (find.Valid()) {
    do {
      std::string name = Utf8FromWide(data.cFileName);
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(find.Get(), &data));
  }
  find.Reset();
  for (const std::string& name : names) RemoveTree(path + "\\" + name);
  RemoveDirectoryW(wide.c_str());
}

ScratchFolder::ScratchFolder() {
  char base[MAX_PATH];
  DWORD length = GetTempPathA(sizeof base, base);
  std::string temp = (length > 0 && length < sizeof base) ? std::string(base, length) : "C:\\";
  if (temp.back() != '\\') temp += '\\';
  static unsigned counter = 0;
  for (;;) {
    char name[64];
    std::snprintf(name, sizeof name, "host_test_%lu_%u", GetCurrentProcessId(), counter++);
    path_ = temp + name;
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
  std::vector<wchar_t> buffer(32768);
  SetLastError(0);
  const WideString wideName = WidePath(name);
  DWORD length = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  hadOld_ = length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  if (hadOld_ && length < buffer.size()) old_ = Utf8FromWide(buffer.data(), length);
  SetEnvironmentVariableW(wideName.c_str(), value != nullptr ? WidePath(value).c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment() {
  SetEnvironmentVariableW(WidePath(name_).c_str(), hadOld_ ? WidePath(old_).c_str() : nullptr);
}

}  // namespace test
}  // namespace sfx
