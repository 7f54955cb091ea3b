#include "sfxstub/io/own_image_win32.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "sfxstub/io/wide_path_win32.h"
#include "sfxstub/io/win32_handle.h"
#include "tests/common/temp_dir.h"

namespace sfx {
namespace {

TEST(OwnImageTest, NtPathsInTheirWin32Form) {
  const struct {
    const wchar_t* nt;
    const wchar_t* win32;
  } cases[] = {
      {L"\\Device\\HarddiskVolume2\\Users\\x\\setup.exe",
       L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\Users\\x\\setup.exe"},
      {L"\\Device\\Mup\\server\\share\\setup.exe",
       L"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\setup.exe"},
      {L"\\??\\Z:\\tmp\\setup.exe", L"\\\\?\\Z:\\tmp\\setup.exe"},  // as Wine names an image
  };
  for (const auto& c : cases) {
    const std::wstring nt = c.nt;
    std::wstring win32(nt.size() + internal::kWin32PathRoom, L'#');
    internal::Win32PathOfNtPath(nt.data(), static_cast<DWORD>(nt.size()), &win32[0]);
    EXPECT_EQ(std::wstring(c.win32), win32.c_str());
  }
}

// What the stand-in for GetMappedFileNameW answers, one name per call; an empty name fails.
std::deque<std::wstring> g_names;

DWORD WINAPI ScriptedName(HANDLE, LPVOID, LPWSTR name, DWORD size) {
  std::wstring next = g_names.empty() ? L"" : g_names.front();
  if (!g_names.empty()) g_names.pop_front();
  if (next.empty() || next.size() >= size) return 0;
  next.copy(name, next.size());
  name[next.size()] = L'\0';
  return static_cast<DWORD>(next.size());
}

std::wstring NtName(const std::string& path) { return L"\\??\\" + std::wstring(path.begin(), path.end()); }

std::string ReadAll(HANDLE file) {
  char buffer[64];
  DWORD got = 0;
  return ReadFile(file, buffer, sizeof buffer, &got, nullptr) ? std::string(buffer, got) : "";
}

// The file the mapped name names is opened, not the one at the given path, and only when the
// image still has that name after the open; without a mapped name, the path is opened.
TEST(OwnImageTest, OpensWhatTheImageIsMappedFrom) {
  TempDir dir;
  const std::string image = dir.Write("renamed-away.exe", "the image");
  const std::string atName = dir.Write("setup.exe", "put at its name");
  const std::string other = dir.Write("other.exe", "another file");
  const struct {
    std::deque<std::wstring> names;
    const char* read;  // null: the open fails
    DWORD error;
  } cases[] = {
      {{NtName(image), NtName(image)}, "the image", 0},
      {{NtName(image), NtName(other)}, nullptr, ERROR_FILE_INVALID},  // renamed meanwhile
      {{NtName(dir.Path("gone.exe"))}, nullptr, ERROR_FILE_NOT_FOUND},  // no way back to the path
      {{L""}, "put at its name", 0},                                     // the system can't say
  };
  for (const auto& c : cases) {
    g_names = c.names;
    ScopedHandle file(internal::OpenImageWith(&ScriptedName, nullptr, atName));
    const DWORD error = GetLastError();
    if (c.read == nullptr) {
      EXPECT_FALSE(file.Valid()) << c.error;
      EXPECT_EQ(c.error, error);
    } else {
      ASSERT_TRUE(file.Valid()) << c.read;
      EXPECT_EQ(c.read, ReadAll(file.Get()));
    }
  }
  ScopedHandle byName(internal::OpenImageWith(nullptr, nullptr, atName));
  ASSERT_TRUE(byName.Valid());
  EXPECT_EQ("put at its name", ReadAll(byName.Get()));
}

// This test program's own image, as the system names it: opened for reading, and while held
// nobody can open it for writing.
TEST(OwnImageTest, TheRunningImageItself) {
  wchar_t own[MAX_PATH * 2];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH * 2);
  ASSERT_GT(length, 0u);
  const std::string path = Utf8FromWide(own, length);
  EXPECT_TRUE(IsOwnModulePath(path));
  EXPECT_FALSE(IsOwnModulePath(path + "x"));
  EXPECT_FALSE(IsOwnModulePath(""));
  ScopedHandle file(OpenOwnImage(path));
  ASSERT_TRUE(file.Valid()) << GetLastError();
  EXPECT_EQ("MZ", ReadAll(file.Get()).substr(0, 2));
  HANDLE writer = CreateFileW(own, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

}  // namespace
}  // namespace sfx
