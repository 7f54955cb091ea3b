#include "sfxstub/main/main_sequence.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "sfxstub/main/test_code_page.h"

namespace sfx {
namespace {

// Records every call in one log, so tests can check order as well as presence.
class FakeHost : public Host {
 public:
  std::vector<std::string> log;
  std::string modulePath = "D:\\dl\\setup.exe";
  int32_t modulePathResult = 0;
  std::string folderToCreate = "E:\\T\\_tr_sfx.tm~a01234";
  int32_t createResult = 0;
  // The results of the folder checks in turn, then 0.
  std::deque<int32_t> checks;
  int32_t copyResult = 0;
  // Scripted runs: {error number, exit code}; the last one repeats.
  std::deque<std::pair<int32_t, uint32_t>> runs{{0, 0}};
  std::vector<std::string> reports;
  std::vector<std::string> runArguments;
  NullProgressSink sink;

  void StartProgress() override { log.push_back("StartProgress"); }
  void StopProgress() override { log.push_back("StopProgress"); }
  ProgressSink* Progress() override { return &sink; }
  int32_t ModulePath(std::string* path) override {
    *path = modulePath;
    return modulePathResult;
  }
  int32_t CreateWorkingFolder(const char* prefix, std::string* folder) override {
    log.push_back(std::string("CreateWorkingFolder ") + prefix);
    *folder = folderToCreate;
    return createResult;
  }
  int32_t CheckWorkingFolder() override {
    log.push_back("CheckWorkingFolder");
    if (checks.empty()) return 0;
    const int32_t result = checks.front();
    checks.pop_front();
    return result;
  }
  int32_t CopyFileRetry(const std::string& source, const std::string& target) override {
    log.push_back("Copy " + source + " -> " + target);
    return copyResult;
  }
  void DeleteFileRetry(const std::string& path) override { log.push_back("Delete " + path); }
  int32_t RunAndWait(const std::string& program, const std::string& arguments,
                     uint32_t* exitCode) override {
    log.push_back("Run " + program);
    runArguments.push_back(arguments);
    const auto run = runs.front();
    if (runs.size() > 1) runs.pop_front();
    *exitCode = run.first == 0 ? run.second : 0;
    return run.first;
  }
  int32_t DeleteFolderFiles(const std::string& folderPattern, const char* filePattern,
                            bool recurse) override {
    log.push_back("DeleteFolderFiles " + folderPattern + " " + filePattern +
                  (recurse ? " recurse" : ""));
    return 0;
  }
  void ShowErrorReport(const std::string& text) override {
    log.push_back("ShowErrorReport");
    reports.push_back(text);
  }
  bool IsLeadByte(uint8_t byte) override { return IsTestLeadByte(byte); }

  int Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& entry : log) n += entry.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
  bool Has(const std::string& prefix) const { return Count(prefix) > 0; }
};

struct ArchiveScript {
  int32_t openResult = 0;
  int32_t extractMainResult = 0;
  int32_t extractFilesResult = 0;
  std::string commandTemplate = "/t \"%TMPPATH%\" %CMDLINE%";
  std::vector<std::string>* log = nullptr;
  ProgressSink* progress = nullptr;
  bool destroyed = false;
};

class FakeArchive : public PackageArchive {
 public:
  explicit FakeArchive(ArchiveScript* script) : script_(script) {}
  ~FakeArchive() override {
    script_->log->push_back("DestroyArchive");
    script_->destroyed = true;
  }
  Status Open(const std::string& path) override {
    script_->log->push_back("Open " + path);
    return Status(script_->openResult, Refusal::kNone);
  }
  Status ExtractMainProgram(const std::string& targetPath) override {
    script_->log->push_back("ExtractMainProgram " + targetPath);
    return Status(script_->extractMainResult, Refusal::kNone);
  }
  Status ExtractFiles(const std::string& folder) override {
    script_->log->push_back("ExtractFiles " + folder);
    return Status(script_->extractFilesResult, Refusal::kNone);
  }
  std::string CommandTemplate() const override { return script_->commandTemplate; }

 private:
  ArchiveScript* script_;
};

class MainSequenceTest : public ::testing::Test {
 protected:
  uint32_t Run(const std::string& tail = "") {
    script.log = &host.log;
    return RunMainSequence(
        host,
        [this](ProgressSink* progress) {
          script.progress = progress;
          return std::unique_ptr<PackageArchive>(new FakeArchive(&script));
        },
        tail);
  }

  FakeHost host;
  ArchiveScript script;
};

TEST_F(MainSequenceTest, SuccessfulRunInOrder) {
  EXPECT_EQ(0u, Run("/x"));
  const std::vector<std::string> expected = {
      "StartProgress",
      "Open D:\\dl\\setup.exe",
      "CreateWorkingFolder _tr_sfx.tm~",
      "CheckWorkingFolder",
      "ExtractMainProgram E:\\T\\_tr_sfx.tm~a01234\\setup.ovr",
      "CheckWorkingFolder",
      "ExtractFiles E:\\T\\_tr_sfx.tm~a01234",
      "CheckWorkingFolder",
      "Copy E:\\T\\_tr_sfx.tm~a01234\\setup.ovr -> E:\\T\\_tr_sfx.tm~a01234\\tarvo.setup",
      "Run E:\\T\\_tr_sfx.tm~a01234\\tarvo.setup",
      "Delete E:\\T\\_tr_sfx.tm~a01234\\tarvo.setup",
      "StopProgress",
      "DeleteFolderFiles E:\\T\\_tr_sfx.tm~a01234 *.*",
      "DestroyArchive",
  };
  EXPECT_EQ(expected, host.log);
  ASSERT_EQ(1u, host.runArguments.size());
  EXPECT_EQ("/t \"E:\\T\\_tr_sfx.tm~a01234\" /x /srcpath \"D:\\dl\"", host.runArguments[0]);
  EXPECT_EQ(&host.sink, script.progress);
  EXPECT_TRUE(host.reports.empty());
}

TEST_F(MainSequenceTest, RestartThenSuccessRunsTwice) {
  host.runs = {{0, RestartExitCode}, {0, 0}};
  EXPECT_EQ(0u, Run());
  EXPECT_EQ(2, host.Count("Run "));
  EXPECT_EQ(2, host.Count("Copy "));
  EXPECT_EQ(2, host.Count("Delete "));
  EXPECT_TRUE(host.reports.empty());
}

TEST_F(MainSequenceTest, AtMostThreeRuns) {
  host.runs = {{0, RestartExitCode}};
  EXPECT_EQ(RestartExitCode, Run());
  EXPECT_EQ(3, host.Count("Run "));
  EXPECT_TRUE(host.reports.empty());
}

TEST_F(MainSequenceTest, SetupProgramExitCodesPassThroughWithoutReport) {
  host.runs = {{0, 5}};
  EXPECT_EQ(5u, Run());
  EXPECT_EQ(1, host.Count("Run "));
  EXPECT_TRUE(host.reports.empty());

  host.runs = {{0, 0xC0000005u}};
  host.log.clear();
  EXPECT_EQ(0xC0000005u, Run());
  EXPECT_TRUE(host.reports.empty());
}

TEST_F(MainSequenceTest, StartFailureInSecondPassIsReportedAsSpawning) {
  host.runs = {{0, RestartExitCode}, {193, 0}};
  EXPECT_EQ(193u, Run());
  EXPECT_EQ(2, host.Count("Run "));
  ASSERT_EQ(1u, host.reports.size());
  EXPECT_EQ("An error 193 (000000C1) has occured.\nLast performed operation was:\nspawning\n\n",
            host.reports[0]);
  // The launch copy is deleted and the folder cleaned after the report.
  EXPECT_TRUE(host.Has("DeleteFolderFiles"));
}

TEST_F(MainSequenceTest, OpenFailureCreatesAndDeletesNothing) {
  script.openResult = 1006;
  EXPECT_EQ(1006u, Run());
  ASSERT_EQ(1u, host.reports.size());
  EXPECT_EQ(
      "An error 1006 (000003EE) has occured.\nLast performed operation was:\n"
      "opening the self-extract archive\n\nTry to download setup file again.\n"
      "If you use Internet Explorer, clear it's cache before downloading:\n"
      "Start->Control Panel->Internet Options and Delete Temporary Internet Files.\n\n",
      host.reports[0]);
  EXPECT_FALSE(host.Has("CreateWorkingFolder"));
  EXPECT_FALSE(host.Has("DeleteFolderFiles"));
  EXPECT_FALSE(host.Has("ExtractMainProgram"));
  EXPECT_TRUE(script.destroyed);
}

TEST_F(MainSequenceTest, MinusOneIsShownAsAllOnes) {
  script.openResult = -1;
  EXPECT_EQ(0xFFFFFFFFu, Run());
  ASSERT_EQ(1u, host.reports.size());
  EXPECT_EQ(0u, host.reports[0].find("An error -1 (FFFFFFFF) has occured.\n"));
}

TEST(FormatErrorReportTest, NumbersAtTheEdgesOfTheirRange) {
  const struct {
    int32_t result;
    const char* start;
  } cases[] = {
      {0, "An error 0 (00000000) has occured.\n"},
      {10, "An error 10 (0000000A) has occured.\n"},
      {0x7FFFFFFF, "An error 2147483647 (7FFFFFFF) has occured.\n"},
      {INT32_MIN, "An error -2147483648 (80000000) has occured.\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(0u, FormatErrorReport(c.result, kPhaseSpawn).find(c.start)) << c.result;
  }
}

TEST_F(MainSequenceTest, ExtractionFailuresNameTheirPhase) {
  script.extractMainResult = 82;
  EXPECT_EQ(82u, Run());
  ASSERT_EQ(1u, host.reports.size());
  EXPECT_EQ("An error 82 (00000052) has occured.\nLast performed operation was:\n"
            "extracting main exe\n\n",
            host.reports[0]);
  EXPECT_FALSE(host.Has("ExtractFiles"));
  EXPECT_TRUE(host.Has("DeleteFolderFiles E:\\T\\_tr_sfx.tm~a01234"));

  host.log.clear();
  host.reports.clear();
  script.extractMainResult = 0;
  script.extractFilesResult = 5;
  EXPECT_EQ(5u, Run());
  ASSERT_EQ(1u, host.reports.size());
  EXPECT_EQ("An error 5 (00000005) has occured.\nLast performed operation was:\n"
            "extracting files\n\n",
            host.reports[0]);
  EXPECT_FALSE(host.Has("Run "));
  EXPECT_TRUE(host.Has("DeleteFolderFiles"));
}

TEST_F(MainSequenceTest, ProgressStopsBeforeReportAndReportBeforeCleanUp) {
  script.extractFilesResult = 112;
  Run();
  std::vector<std::string> tail(host.log.end() - 4, host.log.end());
  const std::vector<std::string> expected = {"StopProgress", "ShowErrorReport",
                                             "DeleteFolderFiles E:\\T\\_tr_sfx.tm~a01234 *.*",
                                             "DestroyArchive"};
  EXPECT_EQ(expected, tail);
}

// A folder that was not created fails phase 1 with 82 whatever the creation reported (path not
// found, access denied, already exists, name too long, or nothing at all), and nothing is
// extracted into the current folder.
TEST_F(MainSequenceTest, NoWorkingFolderFailsPhaseOneWithCannotMake) {
  for (int32_t created : {3, 5, 183, 206, 0}) {
    host.folderToCreate = "";
    host.createResult = created;
    host.log.clear();
    host.reports.clear();
    EXPECT_EQ(82u, Run()) << created;
    EXPECT_FALSE(host.Has("ExtractMainProgram")) << created;
    EXPECT_FALSE(host.Has("DeleteFolderFiles")) << created;
    ASSERT_EQ(1u, host.reports.size()) << created;
    EXPECT_EQ("An error 82 (00000052) has occured.\nLast performed operation was:\n"
              "extracting main exe\n\n",
              host.reports[0]);
  }
}

// A folder found replaced (the check's 267) before an extraction or a run stops there, in that
// phase: nothing more is written into it or started from it, and the clean-up still runs (the
// host leaves what is not its folder alone).
TEST_F(MainSequenceTest, ReplacedFolderStopsTheNextExtractionOrRun) {
  const struct {
    int failingCheck;  // 1: before setup.ovr, 2: before the files, 3 and 4: before each run
    const char* phase;
    int runs;
  } cases[] = {
      {1, "extracting main exe", 0},
      {2, "extracting files", 0},
      {3, "spawning", 0},
      {4, "spawning", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failingCheck);
    host = FakeHost();
    host.runs = {{0, RestartExitCode}, {0, 0}};
    host.checks.assign(c.failingCheck - 1, 0);
    host.checks.push_back(267);
    EXPECT_EQ(267u, Run());
    ASSERT_EQ(1u, host.reports.size());
    EXPECT_EQ(std::string("An error 267 (0000010B) has occured.\nLast performed operation was:\n") +
                  c.phase + "\n\n",
              host.reports[0]);
    EXPECT_EQ(c.failingCheck, host.Count("CheckWorkingFolder"));
    EXPECT_EQ(c.failingCheck > 1, host.Has("ExtractMainProgram"));
    EXPECT_EQ(c.failingCheck > 2, host.Has("ExtractFiles"));
    EXPECT_EQ(c.runs, host.Count("Run "));
    EXPECT_EQ(c.runs, host.Count("Copy "));
    EXPECT_TRUE(host.Has("DeleteFolderFiles"));
  }
}

// A launch copy that could not be made starts nothing (whatever may stand at its name): the
// copy's error ends the spawning phase.
TEST_F(MainSequenceTest, LaunchCopyFailureStartsNothing) {
  host.copyResult = 112;
  EXPECT_EQ(112u, Run());
  EXPECT_FALSE(host.Has("Run "));
  EXPECT_TRUE(host.Has("Delete E:\\T\\_tr_sfx.tm~a01234\\tarvo.setup"));
  ASSERT_EQ(1u, host.reports.size());
  EXPECT_EQ("An error 112 (00000070) has occured.\nLast performed operation was:\nspawning\n\n",
            host.reports[0]);
}

TEST_F(MainSequenceTest, AccessListFailureIsNotActedUpon) {
  host.createResult = 1307;  // folder made, access list not changed
  EXPECT_EQ(0u, Run());
  EXPECT_TRUE(host.reports.empty());
  EXPECT_EQ(1, host.Count("Run "));
}

TEST_F(MainSequenceTest, ModulePathFailureFailsOpening) {
  host.modulePathResult = 122;
  EXPECT_EQ(122u, Run());
  EXPECT_FALSE(host.Has("Open "));
  ASSERT_EQ(1u, host.reports.size());
  EXPECT_NE(std::string::npos, host.reports[0].find("opening the self-extract archive"));
}

TEST_F(MainSequenceTest, QuietSwitchesSuppressTheWindowButNotTheReport) {
  script.openResult = 2;
  Run("/verysilent");
  EXPECT_FALSE(host.Has("StartProgress"));
  EXPECT_TRUE(host.Has("StopProgress"));
  EXPECT_EQ(1u, host.reports.size());

  for (const char* tail : {"/silent", "a \"/silently\"", "/oem"}) {
    host.log.clear();
    Run(tail);
    EXPECT_FALSE(host.Has("StartProgress")) << tail;
  }
  host.log.clear();
  Run("/SILENT");
  EXPECT_TRUE(host.Has("StartProgress"));
}

TEST_F(MainSequenceTest, SourceFolderReachesTheCommandLine) {
  script.commandTemplate = "";
  host.modulePath = "C:\\setup.exe";
  Run();
  ASSERT_EQ(1u, host.runArguments.size());
  EXPECT_EQ(" /srcpath \"C:\"", host.runArguments[0]);
}

TEST_F(MainSequenceTest, LongModulePathIsNeitherCutNorOverrun) {
  const std::string folder = "C:\\" + std::string(300, 'd');
  host.modulePath = folder + "\\setup.exe";
  script.commandTemplate = "";
  Run();
  EXPECT_TRUE(host.Has("Open " + host.modulePath));
  ASSERT_EQ(1u, host.runArguments.size());
  EXPECT_EQ(" /srcpath \"" + folder + "\"", host.runArguments[0]);
}

TEST(SourceFolderOfTest, CutsAtTheLastRealBackslash) {
  const LeadByteTest dbcs = DoubleByteCodePage();
  EXPECT_EQ("C:", SourceFolderOf("C:\\setup.exe", dbcs));
  EXPECT_EQ("setup.exe", SourceFolderOf("setup.exe", dbcs));
  EXPECT_EQ("\\\\srv\\share", SourceFolderOf("\\\\srv\\share\\a.exe", dbcs));
  // "\x95\\" is one double-byte character, not a folder separator.
  EXPECT_EQ("C:\\d", SourceFolderOf("C:\\d\\\x95\\.exe", dbcs));
  EXPECT_EQ("C:\\d\\\x95", SourceFolderOf("C:\\d\\\x95\\.exe", SingleByteCodePage()));
}

}  // namespace
}  // namespace sfx
