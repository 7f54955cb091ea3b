// The archive over a file system whose calls fail: every open, read and write the stub makes
// fails in turn, in Open, ExtractMainProgram and ExtractFiles. Whatever fails, the
// result is one of the documented error numbers, a failed target file is gone, the files written
// before it stay (for the clean-up), and a run that reports success has written exact copies.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "sfxstub/io/disk_stream.h"
#include "sfxstub/io/file_system.h"
#include "sfxstub/archive/sfx_archive.h"
#include "tests/common/status_printer.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer.h"
#include "tools/sfxpack/package_writer.h"

namespace sfx {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Counts the calls of each kind and fails the one numbered `failAt` (1-based) of `failKind`.
enum class Call { kOpen, kRead, kWrite };
struct Injector {
  Call failKind = Call::kRead;
  int failAt = 0;  // 0: nothing fails
  int failErrno = EIO;
  // A failed read returns 0 bytes rather than -1: the file has become shorter since it was
  // checked.
  bool failAsEnd = false;
  int counts[3] = {0, 0, 0};
  // Reads hand out at most this many bytes at a time (0: as many as asked), as a disk or a
  // network share may.
  uint32_t readLimit = 0;

  bool Fails(Call kind) {
    return ++counts[static_cast<int>(kind)] == failAt && kind == failKind;
  }
};

// The platform's file system with the injector's failures; opens for reading and creates both
// count as opens.
class FaultyFileSystem : public FileSystemWrapper {
 public:
  explicit FaultyFileSystem(Injector* injector)
      : FileSystemWrapper(FileSystem::Default()), injector_(injector) {}

  int OpenForReading(const char* path) override {
    if (Failed(Call::kOpen)) return -1;
    return FileSystemWrapper::OpenForReading(path);
  }
  int Create(const char* path) override {
    if (Failed(Call::kOpen)) return -1;
    return FileSystemWrapper::Create(path);
  }
  int64_t Read(int file, void* buffer, uint32_t count) override {
    if (Failed(Call::kRead)) return injector_->failAsEnd ? 0 : -1;
    if (injector_->readLimit != 0 && count > injector_->readLimit) count = injector_->readLimit;
    return FileSystemWrapper::Read(file, buffer, count);
  }
  int64_t Write(int file, const void* buffer, uint32_t count) override {
    if (Failed(Call::kWrite)) return -1;
    return FileSystemWrapper::Write(file, buffer, count);
  }

 private:
  bool Failed(Call kind) {
    if (!injector_->Fails(kind)) return false;
    errno = injector_->failErrno;
    return true;
  }

  Injector* injector_;
};

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What one run through the three steps came to (-2: the step did not run).
struct Outcome {
  Status open{-2, Refusal::kNone}, main{-2, Refusal::kNone}, files{-2, Refusal::kNone};
};

class FaultInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sfxpack::PackageInput input;
    input.stub = Bytes(0x60, 0);
    input.stub[0] = 'M';
    input.stub[1] = 'Z';
    input.stub[0x3C] = 0x40;
    input.stub[0x40] = 'P';
    input.stub[0x41] = 'E';
    input.mainProgram = Bytes(3000, 'm');
    for (int i = 0; i < 3; ++i) {
      sfxpack::PackageInput::File file;
      file.name = "file" + std::to_string(i);
      file.data = Bytes(5000 + 1000 * i, static_cast<uint8_t>('a' + i));
      file.kind = i == 1 ? sfxpack::PackageInput::Kind::kPackage : sfxpack::PackageInput::Kind::kRaw;
      input.files.push_back(file);
    }
    input.commandTemplate = "%CMDLINE%";
    Bytes package;
    const sfxpack::Status built = sfxpack::BuildPackage(input, test::TestTrailerSigner(), &package);
    ASSERT_TRUE(built.ok()) << built.reason();
    path = dir.Write("package.exe", package);
    key = test::TestSignerPublicKey();

    // What a clean run writes, to compare every other run against.
    Injector none;
    expected = Run(&none, "clean");
    ASSERT_EQ(Status::Ok(), expected.open);
    ASSERT_EQ(Status::Ok(), expected.main);
    ASSERT_EQ(Status::Ok(), expected.files);
    for (int i = 0; i < 3; ++i) {
      names.push_back("file" + std::to_string(i));
      contents.push_back(ReadAll(JoinTargetPath(dir.Path("clean"), names.back())));
    }
    mainProgram = ReadAll(JoinTargetPath(dir.Path("clean"), "setup.ovr"));
    ASSERT_EQ(Bytes(3000, 'm'), mainProgram);
    for (int k = 0; k < 3; ++k) cleanCounts[k] = none.counts[k];
  }

  Outcome Run(Injector* inj, const std::string& folderName) {
    const std::string folder = dir.Path(folderName);
    fs::create_directory(folder);
    FaultyFileSystem fileSystem(inj);
    Outcome o;
    SfxArchive archive(key, nullptr, &fileSystem);
    o.open = archive.Open(path);
    if (!o.open.ok()) return o;
    o.main = archive.ExtractMainProgram(JoinTargetPath(folder, "setup.ovr"));
    if (!o.main.ok()) return o;
    o.files = archive.ExtractFiles(folder);
    return o;
  }

  // Checks one faulty run's folder and numbers against the contract. The refusals are the
  // reasons ExtractMainProgram and ExtractFiles must give when the injected failure stops them
  // (kNone: not checked).
  void Check(const Outcome& o, const std::string& folderName, int32_t injected,
             Refusal mainRefusal = Refusal::kNone, Refusal filesRefusal = Refusal::kNone) {
    const std::string folder = dir.Path(folderName);
    const std::set<int32_t> openErrors = {kErrorFileNotFound, kErrorFileInvalid};
    if (!o.open.ok()) {
      EXPECT_TRUE(openErrors.count(o.open.code())) << o.open.ToString();
      EXPECT_TRUE(fs::is_empty(folder));
      return;
    }
    const std::string mainPath = JoinTargetPath(folder, "setup.ovr");
    if (!o.main.ok()) {
      const int32_t code = o.main.code();
      EXPECT_TRUE(code == kErrorFileInvalid || code == kErrorCannotMake) << o.main.ToString();
      if (mainRefusal != Refusal::kNone) {
        EXPECT_EQ(mainRefusal, o.main.reason()) << o.main.ToString();
      }
      EXPECT_FALSE(fs::exists(mainPath)) << "a partial main program remains";
      return;
    }
    EXPECT_EQ(mainProgram, ReadAll(mainPath));
    // The files before the failing one are whole; the failing one and those after are absent.
    size_t written = 0;
    while (written < names.size() && fs::exists(JoinTargetPath(folder, names[written]))) {
      EXPECT_EQ(contents[written], ReadAll(JoinTargetPath(folder, names[written])))
          << names[written] << " was written wrong";
      ++written;
    }
    for (size_t i = written; i < names.size(); ++i) {
      EXPECT_FALSE(fs::exists(JoinTargetPath(folder, names[i]))) << names[i];
    }
    const int32_t code = o.files.code();
    if (code == 0) {
      EXPECT_EQ(names.size(), written);
    } else {
      EXPECT_LT(written, names.size());
      EXPECT_TRUE(code == injected || code == kErrorDiskFull || code == kErrorNotEnoughMemory)
          << o.files.ToString();
      if (filesRefusal != Refusal::kNone) {
        EXPECT_EQ(filesRefusal, o.files.reason()) << o.files.ToString();
      }
    }
  }

  TempDir dir;
  std::string path;
  DsaPublicKey key;
  Outcome expected;
  std::vector<std::string> names;
  std::vector<Bytes> contents;
  Bytes mainProgram;
  int cleanCounts[3] = {0, 0, 0};
};

TEST_F(FaultInjectionTest, EveryCallFailingInTurnGivesADocumentedError) {
  struct Kind {
    Call call;
    int error;
    bool asEnd;
    int32_t win32;
    Refusal main, files;  // the reasons of the extraction steps the failure stops
  };
  // EIO has no Win32 counterpart of its own and shows up as 120; ENOSPC is the full disk. A read
  // of nothing means the file has become shorter than its signed range: 1006, and the main
  // program's block is then zeros past that point, which its package check refuses. Every read
  // an extraction makes is of the package, every write and open of a target.
  const Refusal unreadable = Refusal::kMainProgramUnreadable, copyRead = Refusal::kPackageReadFailed;
  const Kind kinds[] = {
      {Call::kOpen, EACCES, false, 5, Refusal::kCannotCreateTarget, Refusal::kCannotCreateTarget},
      {Call::kRead, EIO, false, 120, unreadable, copyRead},
      {Call::kRead, EIO, true, kErrorFileInvalid, Refusal::kBadMainPackage, copyRead},
      {Call::kWrite, ENOSPC, false, 112, Refusal::kCannotWriteTarget, Refusal::kCannotWriteTarget}};
  int runs = 0;
  for (const Kind& kind : kinds) {
    const int calls = cleanCounts[static_cast<int>(kind.call)];
    ASSERT_GT(calls, 0);
    for (int n = 1; n <= calls; ++n) {
      SCOPED_TRACE("call kind " + std::to_string(static_cast<int>(kind.call)) +
                   (kind.asEnd ? " (end of file)" : "") + " number " + std::to_string(n));
      Injector inj;
      inj.failKind = kind.call;
      inj.failAt = n;
      inj.failErrno = kind.error;
      inj.failAsEnd = kind.asEnd;
      const std::string folder = "run" + std::to_string(++runs);
      Outcome o = Run(&inj, folder);
      // The failure is never swallowed: one of the steps reports it.
      EXPECT_TRUE(!o.open.ok() || !o.main.ok() || !o.files.ok()) << "an injected failure was lost";
      Check(o, folder, kind.win32, kind.main, kind.files);
    }
  }
}

TEST_F(FaultInjectionTest, ReadsThatMoveFewerBytesStillGiveWholeFiles) {
  // A read may return less than asked for without being at the end of the file; blocks taken
  // out of the program's own file must still be whole.
  Injector inj;
  inj.readLimit = 1000;
  Outcome o = Run(&inj, "short");
  EXPECT_EQ(Status::Ok(), o.open);
  EXPECT_EQ(Status::Ok(), o.main);
  EXPECT_EQ(Status::Ok(), o.files);
  Check(o, "short", 0);
}

TEST_F(FaultInjectionTest, AReadFailureWhileCopyingIsReportedNotWrittenAsZeros) {
  // The last read of a clean run copies the last listed file: failing it must fail that file
  // with the read's error number and reason (not a write's) rather than write a block of zeros.
  Injector inj;
  inj.failKind = Call::kRead;
  inj.failAt = cleanCounts[static_cast<int>(Call::kRead)];
  inj.failErrno = ENOMEM;
  Outcome o = Run(&inj, "lastread");
  EXPECT_EQ(Status::Ok(), o.open);
  EXPECT_EQ(Status::Ok(), o.main);
  EXPECT_EQ(Status(kErrorNotEnoughMemory, Refusal::kPackageReadFailed), o.files);
  EXPECT_TRUE(fs::exists(JoinTargetPath(dir.Path("lastread"), "file1")));
  EXPECT_FALSE(fs::exists(JoinTargetPath(dir.Path("lastread"), "file2")));

  Injector io;
  io.failKind = Call::kRead;
  io.failAt = cleanCounts[static_cast<int>(Call::kRead)];
  io.failErrno = EACCES;
  o = Run(&io, "lastread-access");
  EXPECT_EQ(Status(5, Refusal::kPackageReadFailed), o.files);
  EXPECT_FALSE(fs::exists(JoinTargetPath(dir.Path("lastread-access"), "file2")));
}

// Every file the archive touches goes through its file system: the times it sets and the
// failed target it removes, as well as the opens, reads and writes.
class WatchingFileSystem : public FaultyFileSystem {
 public:
  using FaultyFileSystem::FaultyFileSystem;
  int SetTimes(int file, uint32_t time) override {
    times.push_back(time);
    return FaultyFileSystem::SetTimes(file, time);
  }
  int Remove(const char* path) override {
    removed.push_back(path);
    return FaultyFileSystem::Remove(path);
  }
  std::vector<uint32_t> times;
  std::vector<std::string> removed;
};

TEST_F(FaultInjectionTest, TimesAndRemovalsGoThroughTheFileSystem) {
  Injector inj;
  inj.failKind = Call::kWrite;
  inj.failAt = cleanCounts[static_cast<int>(Call::kWrite)];  // the last write: file2's
  inj.failErrno = ENOSPC;
  WatchingFileSystem fileSystem(&inj);
  const std::string folder = dir.Path("watched");
  fs::create_directory(folder);
  SfxArchive archive(key, nullptr, &fileSystem);
  ASSERT_EQ(Status::Ok(), archive.Open(path));
  ASSERT_EQ(Status::Ok(), archive.ExtractMainProgram(JoinTargetPath(folder, "setup.ovr")));
  EXPECT_EQ(Status(kErrorDiskFull, Refusal::kCannotWriteTarget), archive.ExtractFiles(folder));
  // file0 and file1 got their records' times; the failed file2 was removed by its name (every
  // create removes what stands at the name first, too).
  EXPECT_EQ(2u, fileSystem.times.size());
  ASSERT_FALSE(fileSystem.removed.empty());
  EXPECT_EQ(JoinTargetPath(folder, "file2"), fileSystem.removed.back());
  EXPECT_FALSE(fs::exists(JoinTargetPath(folder, "file2")));
}

// The blocks of the catalog and the main program: a read that fails part-way through fails the
// block, with the read's error, rather than handing out a block whose rest is zeros.
TEST(DiskStreamFaultTest, AFailedReadFailsTheWholeBlock) {
  TempDir dir;
  const std::string path = dir.Write("f.bin", std::string(1000, 'x'));
  Injector inj;
  inj.failKind = Call::kRead;
  inj.failAt = 2;  // the first 100 bytes come, the next read fails
  inj.readLimit = 100;
  inj.failErrno = EACCES;
  FaultyFileSystem fileSystem(&inj);
  DiskStream s(&fileSystem);
  ASSERT_TRUE(s.OpenRead(path.c_str()));
  EXPECT_FALSE(s.ReadBlock(1000));
  EXPECT_EQ(5u, s.LastError());
}

#if !defined(_WIN32)
// Swaps the file at `path` for `replacement` right after the first open of it, as someone who
// can rename files in the package's folder could do between the check and the extraction.
// Native only: Windows refuses to rename a file the runtime holds open, though it lets a running
// program's own file be renamed, which is the case that matters for the stub.
class SwappingFileSystem : public FileSystemWrapper {
 public:
  SwappingFileSystem(std::string path, Bytes replacement)
      : FileSystemWrapper(FileSystem::Default()), path_(std::move(path)),
        replacement_(std::move(replacement)) {}

  int OpenForReading(const char* path) override {
    const int handle = FileSystemWrapper::OpenForReading(path);
    if (handle != -1 && !swapped_ && path_ == path) {
      swapped_ = true;
      fs::rename(path_, path_ + ".old");
      std::ofstream(path_, std::ios::binary)
          .write(reinterpret_cast<const char*>(replacement_.data()),
                 static_cast<std::streamsize>(replacement_.size()));
    }
    return handle;
  }
  bool swapped() const { return swapped_; }

 private:
  std::string path_;
  Bytes replacement_;
  bool swapped_ = false;
};

TEST_F(FaultInjectionTest, AFileSwappedAfterTheCheckIsNeverExtracted) {
  // The replacement is the package with one byte of file0 changed: same length, same trailer,
  // but not what was signed.
  Bytes tampered = ReadAll(path);
  const Bytes run(5000, 'a');
  auto at = std::search(tampered.begin(), tampered.end(), run.begin(), run.end());
  ASSERT_NE(tampered.end(), at);
  at[100] = 'Z';
  SwappingFileSystem swap(path, tampered);
  const std::string folder = dir.Path("swapped");
  fs::create_directory(folder);
  Status open, files(-2, Refusal::kNone);
  {
    SfxArchive archive(key, nullptr, &swap);
    open = archive.Open(path);
    if (open.ok()) files = archive.ExtractFiles(folder);
  }
  ASSERT_TRUE(swap.swapped());
  if (open.ok() && files.ok()) {
    EXPECT_EQ(contents[0], ReadAll(JoinTargetPath(folder, "file0"))) << "unsigned bytes extracted";
  }
}

// The setup program runs with handle inheritance on; the stub's own file handles stay behind.
TEST(DiskStreamInheritTest, HandlesAreNotInherited) {
  TempDir dir;
  const std::string path = dir.Write("file", std::string("x"));
  DiskStream read, created;
  ASSERT_TRUE(read.OpenRead(path.c_str()));
  ASSERT_TRUE(created.Create(dir.Path("new").c_str()));
  int open = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(entry.path(), ec);
    if (ec || (target != fs::path(path) && target != fs::path(dir.Path("new")))) continue;
    ++open;
    const int fd = std::stoi(entry.path().filename().string());
    EXPECT_NE(0, fcntl(fd, F_GETFD) & FD_CLOEXEC) << target;
  }
  EXPECT_EQ(2, open);
}
#endif

}  // namespace
}  // namespace sfx
