#include "sfxstub/host/launch.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sfxstub/host/host_test_util.h"
#include "sfxstub/host/win32_handle.h"

namespace sfx {
namespace {

using test::ChildReport;
using test::Exists;
using test::ReadTextFile;
using test::ScopedEnvironment;
using test::ScratchFolder;
using test::WriteTextFile;

const std::string& ChildExe() {
  static const std::string path = test::HostPath(HOST_CHILD_EXE);
  return path;
}

// Runs the child with the given argument text and exit code.
class ChildRun {
 public:
  explicit ChildRun(const char* exitCode = "0")
      : reportPath_(scratch_.Join("report.bin")),
        report_("HOST_CHILD_REPORT", reportPath_.c_str()),
        exit_("HOST_CHILD_EXIT", exitCode) {}

  int32_t Run(const char* arguments, uint32_t* exitCode, void (*beforeResume)() = nullptr) {
    return RunAndWait(ChildExe().c_str(), arguments, exitCode, beforeResume);
  }
  bool Report(ChildReport* report) const { return test::ReadChildReport(reportPath_, report); }
  const std::string& reportPath() const { return reportPath_; }
  const ScratchFolder& scratch() const { return scratch_; }

 private:
  ScratchFolder scratch_;
  std::string reportPath_;
  ScopedEnvironment report_;
  ScopedEnvironment exit_;
};

TEST(RunAndWaitTest, ExitCodesPassThroughAsThirtyTwoBits) {
  struct Case {
    const char* text;
    uint32_t value;
  };
  const Case cases[] = {{"0", 0}, {"5", 5}, {"0x20000010", 0x20000010u},
                        {"0xC0000005", 0xC0000005u}, {"0xFFFFFFFF", 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    ChildRun child(c.text);
    uint32_t exitCode = 12345;
    EXPECT_EQ(0, child.Run("x", &exitCode)) << c.text;
    EXPECT_EQ(c.value, exitCode) << c.text;
  }
  // No destination for the exit code is fine.
  ChildRun child("7");
  EXPECT_EQ(0, child.Run("x", nullptr));
}

TEST(RunAndWaitTest, ArgumentTextArrivesExactly) {
  ChildRun child;
  const char* arguments = "/lang 1033  \"/srcpath \"C:\\a b\\\"\" %X tail ";
  ASSERT_EQ(0, child.Run(arguments, nullptr));
  ChildReport report;
  ASSERT_TRUE(child.Report(&report));
  EXPECT_EQ("\"" + ChildExe() + "\" " + arguments, report.commandLine);

  // An empty text still gives the blank; no text gives the quoted path alone.
  ASSERT_EQ(0, child.Run("", nullptr));
  ASSERT_TRUE(child.Report(&report));
  EXPECT_EQ("\"" + ChildExe() + "\" ", report.commandLine);
  ASSERT_EQ(0, child.Run(nullptr, nullptr));
  ASSERT_TRUE(child.Report(&report));
  EXPECT_EQ("\"" + ChildExe() + "\"", report.commandLine);
}

TEST(RunAndWaitTest, LongCommandLinesWholeOrNotAtAll) {
  ChildRun child;
  ChildReport report;
  // 1000 characters: far beyond the old 260-character buffer.
  std::string arguments(1000 - ChildExe().size() - 3, 'a');
  arguments.back() = 'z';
  ASSERT_EQ(0, child.Run(arguments.c_str(), nullptr));
  ASSERT_TRUE(child.Report(&report));
  EXPECT_EQ(1000u, report.commandLine.size());
  EXPECT_EQ('z', report.commandLine.back());

  // Exactly the limit: 32766 characters and the terminator.
  arguments.assign(kMaxCommandLine - 1 - ChildExe().size() - 3, 'b');
  DeleteFileA(child.reportPath().c_str());
  uint32_t exitCode = 99;
  int32_t result = child.Run(arguments.c_str(), &exitCode);
  EXPECT_NE(ERROR_FILENAME_EXCED_RANGE, result);
  if (result == 0) {
    ASSERT_TRUE(child.Report(&report));
    EXPECT_EQ(kMaxCommandLine - 1, report.commandLine.size());
  }

  // One more: refused before anything starts.
  arguments += 'c';
  DeleteFileA(child.reportPath().c_str());
  exitCode = 99;
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, child.Run(arguments.c_str(), &exitCode));
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, static_cast<int32_t>(GetLastError()));
  EXPECT_EQ(0u, exitCode);
  EXPECT_FALSE(Exists(child.reportPath()));
}

TEST(RunAndWaitTest, ChildStartsInCallersCurrentFolder) {
  ChildRun child;
  char saved[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof saved, saved), 0u);
  const std::string here = child.scratch().Join("cwd");
  ASSERT_TRUE(CreateDirectoryA(here.c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryA(here.c_str()));
  int32_t result = child.Run("x", nullptr);
  SetCurrentDirectoryA(saved);
  ASSERT_EQ(0, result);
  ChildReport report;
  ASSERT_TRUE(child.Report(&report));
  EXPECT_EQ(0, lstrcmpiA(here.c_str(), report.folder.c_str())) << report.folder;
}

TEST(RunAndWaitTest, FailuresToStart) {
  ScratchFolder scratch;
  uint32_t exitCode = 99;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RunAndWait(scratch.Join("missing.exe").c_str(), "x", &exitCode));
  EXPECT_EQ(0u, exitCode);

  // Text is no program. Windows says ERROR_BAD_EXE_FORMAT (193); accept what the platform says
  // as long as it is a failure.
  const std::string bogus = scratch.Join("bogus.exe");
  ASSERT_TRUE(WriteTextFile(bogus, "this is not a program\r\n"));
  exitCode = 99;
  int32_t result = RunAndWait(bogus.c_str(), "x", &exitCode);
  EXPECT_NE(0, result);
  EXPECT_EQ(0u, exitCode);
  RecordProperty("bad_program_error", result);
  std::printf("not a valid program: error %d\n", static_cast<int>(result));
}

// Set by the test, checked and flagged by the callback.
std::string g_reportPath;
int g_beforeResumeCalls = 0;
bool g_childHadRun = true;

void CheckChildNotYetRunning() {
  ++g_beforeResumeCalls;
  // The child is created but suspended: give it every chance to run, then see it has not.
  Sleep(300);
  g_childHadRun = Exists(g_reportPath);
}

TEST(RunAndWaitTest, BeforeResumeRunsWhileChildIsSuspended) {
  ChildRun child("3");
  g_reportPath = child.reportPath();
  g_beforeResumeCalls = 0;
  g_childHadRun = true;
  uint32_t exitCode = 0;
  ASSERT_EQ(0, child.Run("x", &exitCode, &CheckChildNotYetRunning));
  EXPECT_EQ(1, g_beforeResumeCalls);
  EXPECT_FALSE(g_childHadRun);
  EXPECT_TRUE(Exists(child.reportPath()));
  EXPECT_EQ(3u, exitCode);

  // Not called when nothing was created.
  g_beforeResumeCalls = 0;
  RunAndWait(child.scratch().Join("missing.exe").c_str(), "x", nullptr, &CheckChildNotYetRunning);
  EXPECT_EQ(0, g_beforeResumeCalls);
}

// Starts host_holder on `path` for `ms` milliseconds and returns once the file is held.
class Holder {
 public:
  Holder(const std::string& path, int ms) {
    std::string eventName = "host_holder_ready_" + std::to_string(GetCurrentProcessId());
    ready_.Reset(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    std::string exe = test::HostPath(HOST_HOLDER_EXE);
    std::string line = "\"" + exe + "\" \"" + path + "\" " + std::to_string(ms) + " " + eventName;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
      return;
    }
    process_.Reset(info.hProcess);
    CloseHandle(info.hThread);
    HANDLE waits[2] = {ready_.Get(), process_.Get()};
    held_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
  }
  ~Holder() { Wait(); }

  bool held() const { return held_; }
  void Wait() {
    if (process_.Valid()) WaitForSingleObject(process_.Get(), 30000);
  }

 private:
  ScopedHandle ready_;
  ScopedHandle process_;
  bool held_ = false;
};

TEST(RetryTest, CopyWaitsForABriefHolder) {
  ScratchFolder scratch;
  const std::string source = scratch.Join("setup.ovr");
  const std::string target = scratch.Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(source, "new program"));
  ASSERT_TRUE(WriteTextFile(target, "old program"));
  Holder holder(target, 1000);
  ASSERT_TRUE(holder.held());
  CopyFileRetry(source.c_str(), target.c_str());
  EXPECT_EQ("new program", ReadTextFile(target));
}

TEST(RetryTest, CopyGivesUpOnALongHolder) {
  ScratchFolder scratch;
  const std::string source = scratch.Join("setup.ovr");
  const std::string target = scratch.Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(source, "new program"));
  ASSERT_TRUE(WriteTextFile(target, "old program"));
  Holder holder(target, 3000);
  ASSERT_TRUE(holder.held());
  DWORD start = GetTickCount();
  CopyFileRetry(source.c_str(), target.c_str());
  DWORD elapsed = GetTickCount() - start;
  holder.Wait();
  EXPECT_EQ("old program", ReadTextFile(target));
  // Sanity only: it did retry for a while rather than give up at once.
  EXPECT_GE(elapsed, 1000u);
}

TEST(RetryTest, DeleteWaitsForABriefHolder) {
  ScratchFolder scratch;
  const std::string target = scratch.Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(target, "program"));
  Holder holder(target, 1000);
  ASSERT_TRUE(holder.held());
  DeleteFileRetry(target.c_str());
  holder.Wait();
  EXPECT_FALSE(Exists(target));
}

}  // namespace
}  // namespace sfx
