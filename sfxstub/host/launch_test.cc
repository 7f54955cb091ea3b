#include "sfxstub/host/launch.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sfxstub/host/host_test_util.h"
#include "sfxstub/io/win32_handle.h"

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

  // Characters no ANSI code page holds together (Polish, Cyrillic, Japanese) arrive as they were.
  const char* unicode = "/srcpath \"D:\\\xC5\x81\xC3\xB3" "d\xC5\xBA \xD0\x97\xD0\xB0 \xE6\x9D\xB1\xE4\xBA\xAC\"";
  ASSERT_EQ(0, child.Run(unicode, nullptr));
  ASSERT_TRUE(child.Report(&report));
  EXPECT_EQ("\"" + ChildExe() + "\" " + unicode, report.commandLine);
  // Text that is not UTF-8 starts nothing.
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, child.Run("caf\xE9", nullptr));
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

  // The limit counts characters as the system does, not UTF-8 bytes: as many two-byte
  // characters are no more.
  std::string wide;
  for (size_t i = 0; i < arguments.size(); ++i) wide += "\xC5\x81";
  EXPECT_NE(ERROR_FILENAME_EXCED_RANGE, child.Run(wide.c_str(), nullptr));

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

// Holds a file open without sharing, as a virus scanner or a slow setup program might, until
// the retry loop has paused `releaseAfter` times (never, for -1). The retries call Pause instead
// of sleeping, so the tests take no real time and no second process.
struct PauseHolder {
  ScopedHandle file;
  int pauses = 0;
  int releaseAfter = -1;
};
PauseHolder* g_holder = nullptr;

void HolderPause(uint32_t milliseconds) {
  EXPECT_EQ(kRetryPauseMs, milliseconds);
  if (++g_holder->pauses == g_holder->releaseAfter) g_holder->file.Reset();
}

class RetryTest : public ::testing::Test {
 protected:
  void Hold(const std::string& path, int releaseAfter) {
    holder.file.Reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.file.Valid());
    holder.releaseAfter = releaseAfter;
    g_holder = &holder;
  }
  void TearDown() override { g_holder = nullptr; }

  ScratchFolder scratch;
  PauseHolder holder;
};

TEST_F(RetryTest, CopyWaitsForABriefHolder) {
  const std::string source = scratch.Join("setup.ovr");
  const std::string target = scratch.Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(source, "new program"));
  ASSERT_TRUE(WriteTextFile(target, "old program"));
  Hold(target, 3);
  EXPECT_EQ(0, CopyFileRetry(source.c_str(), target.c_str(), nullptr, &HolderPause));
  EXPECT_EQ(3, holder.pauses);
  EXPECT_EQ("new program", ReadTextFile(target));
}

TEST_F(RetryTest, CopyGivesUpOnALongHolder) {
  const std::string source = scratch.Join("setup.ovr");
  const std::string target = scratch.Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(source, "new program"));
  ASSERT_TRUE(WriteTextFile(target, "old program"));
  Hold(target, -1);
  ScopedHandle held;
  EXPECT_NE(0, CopyFileRetry(source.c_str(), target.c_str(), &held, &HolderPause));
  EXPECT_FALSE(held.Valid());
  // Every attempt failed, and each was followed by a pause (the last one too).
  EXPECT_EQ(kRetryAttempts, holder.pauses);
  holder.file.Reset();
  EXPECT_EQ("old program", ReadTextFile(target));
}

TEST_F(RetryTest, DeleteWaitsForABriefHolder) {
  const std::string target = scratch.Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(target, "program"));
  Hold(target, 1);
  DeleteFileRetry(target.c_str(), &HolderPause);
  EXPECT_EQ(1, holder.pauses);
  EXPECT_FALSE(Exists(target));
}

TEST_F(RetryTest, NothingInTheWayNeedsNoPause) {
  const std::string source = scratch.Join("setup.ovr");
  const std::string target = scratch.Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(source, "new program"));
  g_holder = &holder;
  EXPECT_EQ(0, CopyFileRetry(source.c_str(), target.c_str(), nullptr, &HolderPause));
  DeleteFileRetry(source.c_str(), &HolderPause);
  EXPECT_EQ(0, holder.pauses);
  EXPECT_EQ("new program", ReadTextFile(target));
  EXPECT_FALSE(Exists(source));
}

// The launch copy is held from the copy to its deletion: nobody can write, rename or delete it
// meanwhile, and it still starts. It carries the source's bytes and last write time.
TEST(LaunchCopyTest, HeldCopyCannotBeChangedAndStillRuns) {
  ChildRun child("7");
  const std::string copy = child.scratch().Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(copy, "an older copy"));
  ScopedHandle held;
  ASSERT_EQ(0, CopyFileRetry(ChildExe().c_str(), copy.c_str(), &held));
  ASSERT_TRUE(held.Valid());
  EXPECT_EQ(ReadTextFile(ChildExe()), ReadTextFile(copy));
  WIN32_FILE_ATTRIBUTE_DATA source, made;
  ASSERT_TRUE(GetFileAttributesExA(ChildExe().c_str(), GetFileExInfoStandard, &source));
  ASSERT_TRUE(GetFileAttributesExA(copy.c_str(), GetFileExInfoStandard, &made));
  EXPECT_EQ(0, CompareFileTime(&source.ftLastWriteTime, &made.ftLastWriteTime));

  HANDLE writer = CreateFileA(copy.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(DeleteFileA(copy.c_str()));
  EXPECT_FALSE(MoveFileA(copy.c_str(), child.scratch().Join("moved").c_str()));

  uint32_t exitCode = 0;
  EXPECT_EQ(0, RunAndWait(copy.c_str(), "x", &exitCode));
  EXPECT_EQ(7u, exitCode);
  held.Reset();
  EXPECT_TRUE(DeleteFileA(copy.c_str()));
}

// A copy that fails hands back its error and holds nothing (the main sequence then starts
// nothing); what stood at the name is left for the deletion that follows.
TEST(LaunchCopyTest, FailedCopyHoldsNothing) {
  ScratchFolder scratch;
  const std::string copy = scratch.Join("tarvo.setup");
  ASSERT_TRUE(WriteTextFile(copy, "a planted program"));
  ScopedHandle held;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            CopyFileRetry(scratch.Join("missing").c_str(), copy.c_str(), &held, [](uint32_t) {}));
  EXPECT_FALSE(held.Valid());
  EXPECT_TRUE(Exists(copy));
}

}  // namespace
}  // namespace sfx
