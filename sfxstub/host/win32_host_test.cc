#include "sfxstub/host/win32_host.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "sfxstub/host/host_test_util.h"
#include "sfxstub/host/launch.h"

namespace sfx {
namespace {

using test::ChildReport;
using test::ScopedEnvironment;
using test::ScratchFolder;

// A module path of 600 characters, served by fakes of GetModuleFileNameW, in a folder whose name
// the Western code page cannot hold ("Загрузки"): it comes back whole, in UTF-8.
const std::wstring& LongPath() {
  static const std::wstring path = L"C:\\" + std::wstring(572, L'p') +
                                   L"\\\u0417\u0430\u0433\u0440\u0443\u0437\u043A\u0438\\setup.exe";
  return path;
}
const std::string kLongPathUtf8 = "C:\\" + std::string(572, 'p') +
                                  "\\\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB8\\setup.exe";

// Windows XP: a buffer that is too small is filled to its end, without a terminator, and its
// size is returned.
DWORD WINAPI OldStyleName(HMODULE, LPWSTR buffer, DWORD size) {
  const std::wstring& path = LongPath();
  if (path.size() < size) {
    std::wmemcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  std::wmemcpy(buffer, path.data(), size);
  return size;
}

// Later systems: cut, terminated, ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI NewStyleName(HMODULE, LPWSTR buffer, DWORD size) {
  const std::wstring& path = LongPath();
  if (path.size() < size) {
    std::wmemcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  std::wmemcpy(buffer, path.data(), size - 1);
  buffer[size - 1] = L'\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

DWORD WINAPI FailingName(HMODULE, LPWSTR, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return 0;
}

DWORD WINAPI EndlessName(HMODULE, LPWSTR buffer, DWORD size) {
  std::wmemset(buffer, L'e', size);
  return size;
}

TEST(Win32HostTest, ModulePathIsNeverCut) {
  std::string path;
  EXPECT_EQ(0, internal::ModulePathWith(&OldStyleName, &path));
  EXPECT_EQ(kLongPathUtf8, path);
  path.clear();
  EXPECT_EQ(0, internal::ModulePathWith(&NewStyleName, &path));
  EXPECT_EQ(kLongPathUtf8, path);

  path = "unchanged";
  EXPECT_EQ(ERROR_ACCESS_DENIED, internal::ModulePathWith(&FailingName, &path));
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, internal::ModulePathWith(&EndlessName, &path));
  EXPECT_EQ("unchanged", path);

  // The real thing names this test program.
  Win32Host host(GetModuleHandleA(nullptr));
  ASSERT_EQ(0, host.ModulePath(&path));
  EXPECT_NE(std::string::npos, path.find("host_win32_test.exe")) << path;
}

// The folder the host made passes its check, the launch copy is held from its copy to its
// deletion, and the clean-up takes both.
TEST(Win32HostFolderTest, LaunchCopyIsHeldUntilItIsDeleted) {
  ScratchFolder temp;
  ScopedEnvironment setTemp("TEMP", temp.path().c_str());
  Win32Host host(GetModuleHandleA(nullptr));
  std::string folder;
  ASSERT_EQ(0, host.CreateWorkingFolder("_tr_sfx.tm~", &folder));
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(0, host.CheckWorkingFolder());
  const std::string main = folder + "\\setup.ovr", copy = folder + "\\tarvo.setup";
  ASSERT_TRUE(test::WriteTextFile(main, "program"));
  ASSERT_EQ(0, host.CopyFileRetry(main, copy));
  EXPECT_FALSE(DeleteFileA(copy.c_str()));
  host.DeleteFileRetry(copy);
  EXPECT_FALSE(test::Exists(copy));
  ASSERT_EQ(0, host.CopyFileRetry(main, copy));
  EXPECT_EQ(0, host.DeleteFolderFiles(folder, "*.*", false));
  EXPECT_FALSE(test::Exists(folder));
}

// The progress window is running until the setup program is about to run, and never after.
class Win32HostRunTest : public ::testing::Test {
 protected:
  Win32HostRunTest()
      : reportPath_(scratch_.Join("report.bin")),
        report_("HOST_CHILD_REPORT", reportPath_.c_str()),
        findClass_("HOST_CHILD_FIND_CLASS", "AniProgressClass"),
        findProcess_("HOST_CHILD_FIND_PROCESS", std::to_string(GetCurrentProcessId()).c_str()),
        exit_("HOST_CHILD_EXIT", "0x20000010"),
        host_(GetModuleHandleA(nullptr)) {
    InitCommonControls();
  }
  ~Win32HostRunTest() override { host_.StopProgress(); }

  ScratchFolder scratch_;
  std::string reportPath_;
  ScopedEnvironment report_;
  ScopedEnvironment findClass_;
  ScopedEnvironment findProcess_;  // other tests' windows on the same desktop do not count
  ScopedEnvironment exit_;
  Win32Host host_;
};

TEST_F(Win32HostRunTest, SetupProgramNeverSeesTheProgressWindow) {
  const std::string child = test::HostPath(HOST_CHILD_EXE);
  host_.StartProgress();
  // The child does see a running window, so its "0" below means something.
  ASSERT_EQ(0, RunAndWait(child.c_str(), "control", nullptr));
  ChildReport report;
  ASSERT_TRUE(test::ReadChildReport(reportPath_, &report));
  EXPECT_EQ("1", report.windowFound);

  uint32_t exitCode = 0;
  ASSERT_EQ(0, host_.RunAndWait(child, "/srcpath \"x\"", &exitCode));
  EXPECT_EQ(0x20000010u, exitCode);
  ASSERT_TRUE(test::ReadChildReport(reportPath_, &report));
  EXPECT_EQ("0", report.windowFound);
  EXPECT_EQ("\"" + child + "\" /srcpath \"x\"", report.commandLine);
  // Stopping again is harmless.
  host_.StopProgress();
}

}  // namespace
}  // namespace sfx
