// sfxpack as a release engineer meets it: inputs that are not what they should be, outputs that
// must not destroy anything, packages the stub would refuse, messages, conventions, and memory
// that does not grow with the input.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sfxstub/signing/signature_verify.h"
#include "tests/common/minimal_pe.h"
#include "tests/common/signing_samples.h"
#include "tests/common/stand_in_stub.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer.h"
#include "tests/common/test_signer_key.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/package_writer.h"
#include "tools/sfxpack/sfxpack_runner.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;
using test::PackArgs;
using test::RunResult;
using test::RunSfxpack;
using test::ShellQuote;

const std::string kPrivateKey = test::PrivateKeyPath();
const std::string kPublicKey = test::PublicKeyPath();

// `image` with a key slot that holds the test signer's key (or `key`) appended.
Bytes Carrying(Bytes image, const sfx::DsaPublicKey& key = sfx::TestSignerKey().pub) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&key);
  image.insert(image.end(), std::begin(sfx::kKeySlotMarker), std::end(sfx::kKeySlotMarker));
  image.insert(image.end(), bytes, bytes + sizeof key);
  return image;
}

// A key that is not the test signer's (pack and the slot search do not check its numbers).
sfx::DsaPublicKey OtherKey() {
  sfx::DsaPublicKey key = sfx::TestSignerKey().pub;
  key.y[127] ^= 1;
  return key;
}

bool NoTempFiles(const std::string& folder) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.path().filename().string().find(".sfxpack-") != std::string::npos) return false;
  }
  return true;
}

// Starts sfxpack with `args` in a child process; its pid, or -1.
pid_t Start(std::vector<std::string> args) {
  std::string exe = SFXPACK_EXE;
  std::vector<char*> argv = {&exe[0]};
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

// Waits until `child` has a temporary output file in `folder` (true), or has ended (false, with
// its `status`).
bool AwaitTempFile(pid_t child, const std::string& folder, int* status) {
  for (int polls = 0; polls < 20000; ++polls) {
    if (!NoTempFiles(folder)) return true;
    if (::waitpid(child, status, WNOHANG) == child) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

class SfxpackCli : public ::testing::Test {
 protected:
  void SetUp() override {
    stub = dir.Write("stub.exe", sfx::test::StandInStub(&sfx::TestSignerKey().pub));
    Bytes program = sfx::MinimalPeImage(0x80);
    program.resize(30000, 0x5A);
    main = dir.Write("setup.exe", program);
    text = dir.Write("readme.txt", std::string("read me\r\n"));
  }
  PackArgs Pack(const std::string& output) const { return PackArgs(stub, kPrivateKey, main, output); }
  std::string MakePackage(const std::string& name) {
    const std::string path = dir.Path(name);
    const RunResult run = RunSfxpack(Pack(path).File("readme.txt", text));
    EXPECT_EQ(0, run.status) << run.output;
    return path;
  }
  // A package built in memory, for what pack itself refuses to make.
  std::string BuildRaw(const std::string& name, const std::string& mode,
                       const std::vector<std::string>& names) {
    PackageBuilder builder(sfx::test::TestTrailerSigner());
    const Bytes stubBytes = sfx::TempDir::Read(stub);
    builder.AddStub(stubBytes.data(), stubBytes.size());
    std::vector<CatalogEntry> entries;
    for (const std::string& n : names) {
      CatalogEntry entry;
      entry.name = n;
      builder.AddRawFile(reinterpret_cast<const uint8_t*>("x"), 1, &entry.range);
      entries.push_back(entry);
    }
    const Bytes program = sfx::TempDir::Read(main);
    ObjectRange range;
    builder.AddPackageFile(program.data(), program.size(), &range);
    const Status built = builder.Finish(MakeCatalog(mode, "/q", range, entries));
    EXPECT_TRUE(built.ok()) << built.reason();
    return dir.Write(name, builder.TakeBytes());
  }

  sfx::TempDir dir;
  std::string stub, main, text;
};

// A folder or a device where a key or an input belongs ends in a message and exit 2, in every
// command (it used to abort with an uncaught exception, or read /dev/zero forever).
TEST_F(SfxpackCli, FoldersAndDevicesAsInputsAreRefusedWithAReason) {
  const std::string package = MakePackage("p.exe");
  const std::string folder = dir.path();
  const std::vector<std::vector<std::string>> runs = {
      Pack(dir.Path("a.exe")).Set("--key", folder),
      {"sign", "--kind", "binary", "--key", folder, text, "-o", dir.Path("s")},
      {"verify", "--key", folder, package},
      {"list", "--key", folder, package},
      {"extract", "--key", folder, package, "--to", dir.Path("x")},
      {"authenticode", "--cert", text, "--cert-key", text, "--key", folder, package, "-o", dir.Path("y")},
      {"verify", "--key", "/dev/zero", package},
      {"verify", folder},
      {"list", folder},
      {"sign", "--kind", "md5", "/dev/zero", "-o", dir.Path("z")},
      Pack(dir.Path("b.exe")).Set("--stub", folder),
  };
  for (const std::vector<std::string>& args : runs) {
    const RunResult run = RunSfxpack(args);
    SCOPED_TRACE(args[0] + " " + args[1] + " " + args.back());
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_EQ(0u, run.output.find("sfxpack: ")) << run.output;
    EXPECT_TRUE(run.Has("folder") || run.Has("not a regular file")) << run.output;
  }
  EXPECT_TRUE(NoTempFiles(dir.path()));
}

// The key, the stub or any other input is never overwritten; an existing output only with
// --force; a failed run leaves the old output as it was.
TEST_F(SfxpackCli, OutputsNeverReplaceInputsAndExistingFilesOnlyWithForce) {
  const std::string keyCopy = dir.Write("kcopy.pem", sfx::TempDir::Read(kPrivateKey));
  const Bytes keyBytes = sfx::TempDir::Read(keyCopy);
  RunResult run = RunSfxpack(Pack(keyCopy).Set("--key", keyCopy).Add({"--force"}));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("same file as the input")) << run.output;
  EXPECT_EQ(keyBytes, sfx::TempDir::Read(keyCopy));

  const Bytes stubBytes = sfx::TempDir::Read(stub);
  run = RunSfxpack(Pack(stub).Add({"--force"}));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_EQ(stubBytes, sfx::TempDir::Read(stub));

  const std::string existing = dir.Write("old.exe", std::string("old"));
  run = RunSfxpack(Pack(existing));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("already exists (use --force")) << run.output;
  EXPECT_EQ(Bytes({'o', 'l', 'd'}), sfx::TempDir::Read(existing));
  run = RunSfxpack(Pack(existing).Add({"--force"}));
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(sfx::VerifySignedFile(existing.c_str(), sfx::TestSignerKey().pub));

  // Nor a listed file (--file a=X -o X --force).
  const Bytes textBytes = sfx::TempDir::Read(text);
  run = RunSfxpack(Pack(text).File("a", text).Add({"--force"}));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("same file as the input")) << run.output;
  EXPECT_EQ(textBytes, sfx::TempDir::Read(text));

  // sign: -o naming the input is refused; in place the file keeps its mode.
  const std::string script = dir.Write("run.sh", std::string("echo hi\n"));
  ::chmod(script.c_str(), 0750);
  run = RunSfxpack({"sign", "--kind", "binary", "--key", kPrivateKey, script, "-o", script});
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("leave out -o")) << run.output;
  run = RunSfxpack({"sign", "--kind", "binary", "--key", kPrivateKey, script});
  EXPECT_EQ(0, run.status) << run.output;
  struct stat st;
  ASSERT_EQ(0, ::stat(script.c_str(), &st));
  EXPECT_EQ(0750u, st.st_mode & 07777);
  EXPECT_TRUE(sfx::VerifySignedFile(script.c_str(), sfx::TestSignerKey().pub));

  // extract: files that stand in the folder are kept unless --force.
  const std::string package = MakePackage("p.exe");
  const std::string to = dir.Path("to");
  std::filesystem::create_directory(to);
  dir.Write("to/readme.txt", std::string("mine"));
  run = RunSfxpack({"extract", package, "--key", kPublicKey, "--to", to});
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_EQ(Bytes({'m', 'i', 'n', 'e'}), sfx::TempDir::Read(to + "/readme.txt"));
  run = RunSfxpack({"extract", package, "--key", kPublicKey, "--to", to, "--force", "--decode"});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_EQ(sfx::TempDir::Read(text), sfx::TempDir::Read(to + "/readme.txt"));
  EXPECT_TRUE(NoTempFiles(dir.path()));
}

// An interrupted pack, sign or extract leaves neither a partial file under the final name nor
// its temporary file. The signal comes once the temporary file exists; whenever it comes, what
// stands under the final name is either nothing or the whole file.
TEST_F(SfxpackCli, InterruptedRunsLeaveNoPartialFileAndNoTemporaryFile) {
  const std::string big = dir.Path("big.bin");
  ASSERT_EQ(0, ::truncate(dir.Write("big.bin", std::string()).c_str(), 200ll << 20));
  const std::string package = dir.Path("big.exe");
  const std::string to = dir.Path("to");
  const std::vector<std::vector<std::string>> runs = {
      Pack(package).Add({"--raw", "big.bin=" + big, "-q"}),
      {"sign", "--kind", "binary", "--key", kPrivateKey, big, "-o", dir.Path("big.signed"), "-q"},
      {"extract", package, "--key", kPublicKey, "--to", to, "-q"},
  };
  const std::vector<std::string> outputs = {package, dir.Path("big.signed"), to + "/big.bin"};
  for (size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(runs[i][0]);
    const pid_t child = Start(runs[i]);
    ASSERT_GE(child, 0);
    int status = 0;
    if (AwaitTempFile(child, dir.path(), &status)) {
      ::kill(child, SIGTERM);
      ::waitpid(child, &status, 0);
    }
    EXPECT_TRUE(NoTempFiles(dir.path()));
    if (std::filesystem::exists(outputs[i])) {
      // Finished before the signal: then it is whole.
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // The next run needs this one's output whole.
    if (i == 0 && !std::filesystem::exists(package)) {
      ASSERT_EQ(0, RunSfxpack(runs[0]).status);
    }
  }
}

// An output that someone else makes while pack writes is left as it is (without --force): the
// check before the work found the name free, the commit finds it taken.
TEST_F(SfxpackCli, AnOutputThatAppearsMeanwhileIsNotReplaced) {
  const std::string big = dir.Write("big.bin", std::string());
  ASSERT_EQ(0, ::truncate(big.c_str(), 200ll << 20));
  const std::string package = dir.Path("big.exe");
  const pid_t child = Start(Pack(package).Raw("big.bin", big).Add({"-q"}));
  ASSERT_GE(child, 0);
  int status = 0;
  ASSERT_TRUE(AwaitTempFile(child, dir.path(), &status)) << "pack ended before it wrote";
  dir.Write("big.exe", std::string("mine"));
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
  EXPECT_EQ(Bytes({'m', 'i', 'n', 'e'}), sfx::TempDir::Read(package));
  EXPECT_TRUE(NoTempFiles(dir.path()));
}

// Exit 1 says only that the stub would refuse the package; whatever fails on this machine is
// exit 2: an output folder that is a file, a write that hits a file-size limit (EFBIG) or a full
// disk (ENOSPC, on a small tmpfs where a mount namespace can be had). Nothing is left behind.
TEST_F(SfxpackCli, ExitCodesSayWhoseFaultItIs) {
  const std::string package = MakePackage("p.exe");
  const std::string notAFolder = dir.Write("file", std::string("x"));
  // 8 KiB per file, less than the 30000-byte main program; the signal that would end the
  // process instead of failing the write is ignored, as a CI runner's limit leaves it.
  const std::string limit = "trap '' XFSZ; ulimit -f 8; ";
  struct Case {
    std::vector<std::string> args;
    std::string prefix, has;
  };
  const std::vector<Case> cases = {
      {{"extract", "--key", kPublicKey, package, "--to", notAFolder}, "", "--to " + notAFolder + " is not a folder"},
      {{"extract", "--key", kPublicKey, package, "--to", dir.Path("big")}, limit, "File too large"},
      {Pack(dir.Path("big.exe")).Raw("setup.bin", main), limit, "File too large"},
      {{"sign", "--kind", "binary", "--key", kPrivateKey, main, "-o", dir.Path("big.signed")}, limit, "File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.prefix);
    const RunResult run = RunSfxpack(c.args, c.prefix);
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_TRUE(run.Has(c.has)) << run.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path("big.exe")));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("big.signed")));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("big/setup.ovr")));

  const std::string full = dir.Path("full");
  std::filesystem::create_directory(full);
  if (test::RunShell("unshare -rm sh -c 'mount -t tmpfs -o size=16k tmpfs " + ShellQuote(full) + "'").status != 0) {
    std::printf("no mount namespace here: the full-disk case did not run (EFBIG stands in for it)\n");
  } else {
    std::string extract = ShellQuote(SFXPACK_EXE);
    for (const std::string& a : std::vector<std::string>{"extract", "--key", kPublicKey, package, "--to", full}) {
      extract += " " + ShellQuote(a);
    }
    const RunResult run = test::RunShell("unshare -rm sh -c " + ShellQuote("mount -t tmpfs -o size=16k tmpfs " +
                                         ShellQuote(full) + " && " + extract));
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_TRUE(run.Has("No space left on device")) << run.output;
  }
  EXPECT_TRUE(NoTempFiles(dir.path()));
}

#if defined(__SANITIZE_ADDRESS__)
#define SFXPACK_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SFXPACK_UNDER_SANITIZER 1
#endif
#endif

// Inputs far larger than the memory the tool may use: pack, sign, verify, list and extract
// stream them (they used to hold them whole, up to three times over). Each runs with less
// address space than its input, and the largest of them must stay under 64 MiB resident.
// (A sanitizer reserves terabytes of address space for itself: there the inputs are smaller
// and only the streaming paths are exercised.)
TEST_F(SfxpackCli, LargeInputsNeedNoMoreMemoryThanSmallOnes) {
#ifdef SFXPACK_UNDER_SANITIZER
  const long long size = 40ll << 20;
  const std::string limit;
#else
  const long long size = 300ll << 20;
  const std::string limit = "ulimit -v 262144; ";  // 256 MiB of address space, less than the input
#endif
  const std::string big = dir.Write("big.bin", std::string());
  ASSERT_EQ(0, ::truncate(big.c_str(), size));
  const std::string package = dir.Path("big.exe");
  RunResult run = RunSfxpack(Pack(package).Add({"--raw", "big.bin=" + big, "--file", "zeros.bin=" + big}), limit);
  ASSERT_EQ(0, run.status) << run.output;
  run = RunSfxpack({"verify", "--key", kPublicKey, package}, limit);
  EXPECT_EQ(0, run.status) << run.output;
  run = RunSfxpack({"list", "--key", kPublicKey, package}, limit);
  EXPECT_EQ(0, run.status) << run.output;
  run = RunSfxpack({"extract", "--key", kPublicKey, package, "--to", dir.Path("to"), "--decode"}, limit);
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_EQ(static_cast<uintmax_t>(size), std::filesystem::file_size(dir.Path("to/zeros.bin")));
  run = RunSfxpack({"sign", "--kind", "binary", "--key", kPrivateKey, big, "-o", dir.Path("s")}, limit);
  EXPECT_EQ(0, run.status) << run.output;
#ifndef SFXPACK_UNDER_SANITIZER
  // The peak resident size of the largest process this test program has waited for (the
  // commands above, through their shells).
  struct rusage usage;
  ASSERT_EQ(0, ::getrusage(RUSAGE_CHILDREN, &usage));
  EXPECT_LT(usage.ru_maxrss, 64 << 10) << "KiB";
#endif

  // Size limits come from the inputs' sizes, before anything is read.
  ASSERT_EQ(0, ::truncate(big.c_str(), 4500ll << 20));
  run = RunSfxpack(Pack(dir.Path("huge.exe")).Add({"--raw", "big.bin=" + big}), limit);
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("too large")) << run.output;
}

// The inputs of the pack tests below: stubs and main programs the stub accepts or refuses.
class PackInputsTest : public SfxpackCli {
 protected:
  void SetUp() override {
    SfxpackCli::SetUp();
    out = dir.Path("out.exe");
    data = dir.Write("data.bin", std::string(2000, 'd'));
    missing = dir.Path("missing.exe");
    keyless = dir.Write("keyless.exe", sfx::MinimalPeImage(0x200));
    const sfx::DsaPublicKey other = OtherKey();
    otherKeyed = dir.Write("other.exe", sfx::test::StandInStub(&other));
    twoSlots = dir.Write("two.exe", sfx::test::StandInStub(nullptr, 0x600, 0, 2));
    finished = MakePackage("finished.exe");
    emptyMain = dir.Write("empty.exe", std::string());
    hugeMain = dir.Write("huge.exe", std::string());
    ASSERT_EQ(0, ::truncate(hugeMain.c_str(), (256ll << 20) + 1));
    // Stubs with an Authenticode certificate table (PE32, PE32+), and one that declares only
    // four data directories, so that what stands where entry 4 would be is no certificate table.
    using sfx::test::MakePe;
    using sfx::PeKind;
    tabled = dir.Write("tabled.exe", Carrying(MakePe(0x400, 0x1000, 16, 0, PeKind::kPe32)));
    tabledPlus = dir.Write("tabled64.exe", Carrying(MakePe(0x400, 0x1000, 16, 0, PeKind::kPe32Plus)));
    fourDirectories = dir.Write("four.exe", Carrying(MakePe(0x400, 0x1000, 4, 0, PeKind::kPe32)));
    // A stub over 1 MiB whose key straddles the end of the first piece it is read in.
    straddling = dir.Write("large.exe", Carrying(sfx::MinimalPeImage((1 << 20) - 100)));
  }

  std::string out, data, missing, keyless, otherKeyed, twoSlots, finished, emptyMain, hugeMain;
  std::string tabled, tabledPlus, fourDirectories, straddling;
};

// Everything the stub refuses at run time is refused when packing, with the reason, and so is
// every input pack can't use; nothing is written then.
TEST_F(PackInputsTest, PackRefusesWhatTheStubWouldRefuse) {
  struct Refusal {
    std::vector<std::string> args;
    std::string message;
  };
  std::vector<Refusal> refusals;
  auto name = [&](const std::string& listed, const std::string& message) {
    refusals.push_back({Pack(out).File(listed, text), message});
  };
  for (const char* n : {".", "..", ".. ", "CON", "nul.txt", "com1.log", "a:b", "c:x"}) {
    name(n, "refused by the stub");
  }
  // The stub writes these, but Windows would store them under another name.
  for (const char* n : {"x.", "x "}) name(n, "arrive as 'x'");
  for (const char* n : {"a*b", "a?b", "a<b", "a>b", "a|b", "a\"b"}) name(n, "Windows does not allow");
  name("a\x01" "b", "control character");
  name("a\x7F" "b", "control character");  // DEL
  name(std::string(256, 'n'), "longer than 255");
  name("sub/readme.txt", "path separator");
  name("a\\b", "path separator");
  name("", "empty file name");
  name("SETUP.OVR", "--allow-reserved-names");
  name("tarvo.setup", "--allow-reserved-names");
  refusals.insert(refusals.end(), {
      {Pack(out).File("Read.TXT", text).File("read.txt", text), "duplicate"},
      {Pack(out).File("readme.txt", text).Raw("readme.txt", data), "duplicate"},
      {Pack(out).Add({"--file", "readme.txt"}), "NAME=PATH"},
      {Pack(out).Set("--cmdline", std::string(32768, 'x')), "at most 32767"},
      // The main program: a PE image, not empty, at most 256 MiB (checked from its size).
      {Pack(out).Set("--main", text), "is not a program"},
      {Pack(out).Set("--main", emptyMain), "is not a program"},
      {Pack(out).Set("--main", hugeMain), "256 MiB"},
      {Pack(out).Set("--main", missing), "cannot read --main"},
      // The stub: a plain PE image that carries the signing key.
      {Pack(out).Set("--stub", text), "not a PE file"},
      {Pack(out).Set("--stub", missing), "cannot read --stub"},
      {Pack(out).Set("--stub", otherKeyed), "not the key built into --stub"},
      {Pack(out).Set("--stub", keyless), "carries no key slot"},
      {Pack(out).Set("--stub", twoSlots), "marker occurs 2 times"},
      {Pack(out).Set("--stub", twoSlots).Add({"--allow-other-key"}), "marker occurs 2 times"},
      {Pack(out).Set("--stub", finished), "sfxpack authenticode"},
      {Pack(out).Set("--stub", tabled), "signed already"},
      {Pack(out).Set("--stub", tabledPlus), "signed already"},
      {Pack(out).Set("--key", text), "not a PEM or DER key file"},
      // The resources: what they are made of, and a stub they can be set in.
      {Pack(out).Add({"--icon", text}), "is not an icon file: it does not start with an icon directory"},
      {Pack(out).Add({"--icon", missing}), "cannot read --icon"},
      {Pack(out).Add({"--version-info", "Version=1"}), "unknown key 'Version'"},
      {Pack(out).Add({"--version-info", "FileVersion=1.2.3.4.5"}), "more than four numbers"},
      {Pack(out).Add({"--execution-level", "admin"}), "none of asInvoker, highestAvailable"},
      {Pack(out).Add({"--execution-level", "asInvoker"}), "stub.exe: the image has no resources"},
      {{"pack", "--stub", stub}, "required"},
      {Pack(out).Add({"--arch", "x64"}), "with --stub it has nothing to pick"},
      {{"pack", "--bogus"}, "unknown option"},
      // Without the stub's checks the names must still make files.
      {Pack(out).File("a/b", text).Add({"--skip-stub-checks"}), "path separator"},
  });
  for (const Refusal& refusal : refusals) {
    const RunResult run = RunSfxpack(refusal.args);
    SCOPED_TRACE(refusal.args.back().substr(0, 80) + " -> " + refusal.message);
    EXPECT_EQ(2, run.status) << run.output.substr(0, 300);
    EXPECT_TRUE(run.Has(refusal.message)) << run.output.substr(0, 300);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  EXPECT_TRUE(NoTempFiles(dir.path()));
}

// What the flags allow is packed, and warned about; the longest name Windows takes is taken, and
// so are stubs the refusals above must not catch.
TEST_F(PackInputsTest, PackTakesWhatTheStubTakes) {
  const std::vector<std::vector<std::string>> allowed = {
      Pack(out).Set("--stub", otherKeyed).Add({"--allow-other-key"}),
      Pack(out).File("Read.TXT", text).File("read.txt", data).Add({"--allow-duplicates"}),
      Pack(out).File("readme.txt", text).Raw("readme.txt", data).Add({"--allow-duplicates"}),
      Pack(out).File(std::string(255, 'n'), text),
      Pack(out).Set("--stub", fourDirectories),
      Pack(out).Set("--stub", straddling),
      // Only the stub's own end-to-end tests make packages it refuses, and must ask for them.
      Pack(out).File("a?b", text).Add({"--skip-stub-checks"}),
  };
  for (const std::vector<std::string>& args : allowed) {
    const RunResult run = RunSfxpack(args);
    EXPECT_EQ(0, run.status) << run.output;
    std::filesystem::remove(out);
  }
  EXPECT_TRUE(NoTempFiles(dir.path()));
  const RunResult run = RunSfxpack(Pack(out).File("setup.ovr", text).File("caf\xC3\xA9.txt", text)
                                       .Add({"--allow-reserved-names"}));
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(run.Has("ANSI code page")) << run.output;
  EXPECT_TRUE(run.Has("repository's TEST key")) << run.output;
}

// --codepage stores the names and the template, written in UTF-8, in a Windows code page, and
// refuses what that code page lacks.
TEST_F(SfxpackCli, CodePageStoresTextAsThatCodePageReadsIt) {
  const std::string out = dir.Path("cp.exe");
  RunResult run = RunSfxpack(Pack(out)
                                 .Set("--cmdline", "/name=Andr\xC3\xA9 %CMDLINE%")
                                 .Add({"--codepage", "1252"})
                                 .Raw("caf\xC3\xA9.txt", text));
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(run.Has("code page 1252")) << run.output;  // the warning says how it reads
  run = RunSfxpack({"list", "--key", kPublicKey, out});
  EXPECT_TRUE(run.Has("caf\xE9.txt")) << run.output;
  EXPECT_TRUE(run.Has("command template: /name=Andr\xE9 %CMDLINE%")) << run.output;
  std::filesystem::remove(out);

  run = RunSfxpack(Pack(out).Add({"--codepage", "1252"}).Raw("\xC5\x81\xC3\xB3" "d\xC5\xBA.txt", text));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("'\xC5\x81' (U+0141), which code page 1252 cannot represent")) << run.output;
  EXPECT_FALSE(std::filesystem::exists(out));
  run = RunSfxpack(Pack(dir.Path("bad.exe")).Add({"--codepage", "cp1252"}));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("Windows code page number")) << run.output;
}

// What the shared reader does with names pack refuses: it refuses to extract them.
TEST_F(SfxpackCli, NamesPackRefusesAreRefusedByTheReaderToo) {
  for (const char* name : {"..", "CON", "nul.txt", ".. "}) {
    const std::string package = BuildRaw("bad.exe", "extract", {name});
    const RunResult run = RunSfxpack({"extract", "--key", kPublicKey, package, "--to", dir.Path("x")});
    SCOPED_TRACE(name);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_TRUE(run.Has("ERROR_INVALID_PARAMETER")) << run.output;
    std::filesystem::remove(package);
  }
  // A trailing dot stays in the folder (Windows strips it): the stub writes it, and so does
  // extract, under the name as stored.
  const std::string package = BuildRaw("dot.exe", "extract", {"x."});
  const RunResult run = RunSfxpack({"extract", "--key", kPublicKey, package, "--to", dir.Path("x")});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(std::filesystem::exists(dir.Path("x/x."))) << run.output;
}

// Each failure says what it is: unreadable, unsigned or truncated, signed by another key or
// changed, or a good signature over an archive the reader refuses (with the number's meaning).
TEST_F(SfxpackCli, MessagesTellWhatIsWrong) {
  const std::string package = MakePackage("p.exe");
  Bytes bytes = sfx::TempDir::Read(package);

  RunResult run = RunSfxpack({"verify", "--key", kPublicKey, dir.path()});
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("cannot read")) << run.output;

  const std::string truncated = dir.Write("truncated.exe", Bytes(bytes.begin(), bytes.end() - 100));
  run = RunSfxpack({"verify", "--key", kPublicKey, truncated});
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_TRUE(run.Has("no signature: not a package, or truncated")) << run.output;

  Bytes changed = bytes;
  changed[300] ^= 1;
  const std::string changedPath = dir.Write("changed.exe", changed);
  run = RunSfxpack({"verify", "--key", kPublicKey, changedPath});
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_TRUE(run.Has("signature does not match: signed with another key, or changed after signing"))
      << run.output;

  const std::string otherMode = BuildRaw("mode.exe", "install", {"a.txt"});
  for (const char* command : {"verify", "list"}) {
    run = RunSfxpack({command, "--key", kPublicKey, otherMode});
    SCOPED_TRACE(command);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_TRUE(run.Has("the signature is good")) << run.output;
    EXPECT_TRUE(run.Has("error 87 (ERROR_INVALID_PARAMETER")) << run.output;
  }
  run = RunSfxpack({"extract", "--key", kPublicKey, changedPath, "--to", dir.Path("x")});
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_TRUE(run.Has("error 1006 (ERROR_FILE_INVALID")) << run.output;

  run = RunSfxpack({"verify", "--key", dir.Path("missing.pem"), package});
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(run.Has("No such file or directory")) << run.output;

  // A stored name can't fake a line of the listing.
  const std::string tricky = BuildRaw("tricky.exe", "extract", {"a\nsignature: good\tb"});
  run = RunSfxpack({"list", "--key", kPublicKey, tricky});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(run.Has("a\\nsignature: good\\tb")) << run.output;
  run = RunSfxpack({"list", "--json", "--key", kPublicKey, tricky});
  EXPECT_TRUE(run.Has("\"name\":\"a\\u000asignature: good\\u0009b\"")) << run.output;
}

// A package whose signature verifies with the key, under a stub that does not carry that key,
// is one the stub refuses: verify, list and extract say so.
TEST_F(SfxpackCli, TheStubMustCarryTheKeyTheSignatureVerifiesWith) {
  const sfx::DsaPublicKey other = OtherKey();
  const std::string otherKeyed = dir.Write("other-stub.exe", sfx::test::StandInStub(&other));
  const std::string package = dir.Path("other.exe");
  RunResult run = RunSfxpack(Pack(package).Set("--stub", otherKeyed).Add({"--allow-other-key"}));
  ASSERT_EQ(0, run.status) << run.output;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"verify", "--key", kPublicKey, package},
           {"list", "--key", kPublicKey, package},
           {"extract", "--key", kPublicKey, package, "--to", dir.Path("x")}}) {
    SCOPED_TRACE(args[0]);
    run = RunSfxpack(args);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_TRUE(run.Has("the signature verifies with the key, but the package's stub does not carry "
                        "that key")) << run.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path("x")));
}

// --decode drops a raw file's own trailer only when it verifies with the key; a raw file without
// one, or with one that does not verify, is written as stored, and the summary says so.
TEST_F(SfxpackCli, DecodeKeepsRawFilesWhoseTrailerDoesNotVerify) {
  PackageBuilder builder(sfx::test::TestTrailerSigner());
  const Bytes stubBytes = sfx::TempDir::Read(stub);
  builder.AddStub(stubBytes.data(), stubBytes.size());
  Bytes forged(100, 'f');
  forged.resize(forged.size() + 40, 0x11);
  forged.insert(forged.end(), sfx::kBinaryDsaMagic, sfx::kBinaryDsaMagic + 8);
  const Bytes bare(10, 'b');
  std::vector<CatalogEntry> entries(2);
  entries[0].name = "forged.bin";
  builder.AddObject(forged.data(), forged.size(), &entries[0].range);
  entries[1].name = "bare.bin";
  builder.AddObject(bare.data(), bare.size(), &entries[1].range);
  const Bytes program = sfx::TempDir::Read(main);
  ObjectRange range;
  builder.AddPackageFile(program.data(), program.size(), &range);
  ASSERT_TRUE(builder.Finish(MakeCatalog("extract", "/q", range, entries)).ok());
  const std::string package = dir.Write("raw.exe", builder.TakeBytes());
  const RunResult run = RunSfxpack({"extract", "--key", kPublicKey, package, "--to", dir.Path("x"), "--decode"});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(run.Has("0 package file(s) inflated, 0 raw file(s) without their own signature trailer, "
                      "2 raw file(s) as stored")) << run.output;
  EXPECT_EQ(forged, sfx::TempDir::Read(dir.Path("x/forged.bin")));
  EXPECT_EQ(bare, sfx::TempDir::Read(dir.Path("x/bare.bin")));
}

// One parser for every command: --opt=value, "--", -h/--help everywhere, help COMMAND,
// --version, a repeated option refused, a near miss suggested; keygen takes NAME.pem.
TEST_F(SfxpackCli, CommandLineConventions) {
  for (const char* command :
       {"pack", "list", "extract", "verify", "sign", "keygen", "authenticode", "stub"}) {
    SCOPED_TRACE(command);
    RunResult run = RunSfxpack({command, "--help"});
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_EQ(0u, run.output.find(std::string("usage: sfxpack ") + command)) << run.output;
    EXPECT_EQ(run.output, RunSfxpack({command, "-h"}).output);
    EXPECT_EQ(run.output, RunSfxpack({"help", command}).output);
  }
  RunResult run = RunSfxpack({"--version"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.output.find("sfxpack ")) << run.output;

  run = RunSfxpack({"pakc"});
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(run.Has("did you mean 'pack'")) << run.output;
  run = RunSfxpack(Pack(dir.Path("o.exe")).Add({"--key", kPrivateKey}));
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(run.Has("--key is given more than once")) << run.output;
  run = RunSfxpack({"list", "--jsno", "x"});
  EXPECT_TRUE(run.Has("did you mean --json")) << run.output;
  run = RunSfxpack({"help", "help"});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_EQ(0u, run.output.find("usage: sfxpack COMMAND")) << run.output;
  // A one-letter option takes its value attached, as "-oFILE".
  run = RunSfxpack({"sign", "--kind", "md5", text, "-o" + dir.Path("attached.txt")});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(std::filesystem::exists(dir.Path("attached.txt")));

  run = RunSfxpack({"pack", "--stub=" + stub, "--key=" + kPrivateKey, "--main=" + main, "--cmdline=/a=b",
                 "--output=" + dir.Path("eq.exe")});
  EXPECT_EQ(0, run.status) << run.output;
  run = RunSfxpack({"list", "--key", kPublicKey, dir.Path("eq.exe")});
  EXPECT_TRUE(run.Has("command template: /a=b")) << run.output;

  const std::string dashed = dir.Write("-dashed.txt", std::string("x"));
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  run = RunSfxpack({"sign", "--kind", "md5", "--", "-dashed.txt"});
  std::filesystem::current_path(cwd);
  EXPECT_EQ(0, run.status) << run.output;

  run = RunSfxpack({"keygen", dir.Path("mykey.pem")});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(std::filesystem::exists(dir.Path("mykey.pem")));
  EXPECT_TRUE(std::filesystem::exists(dir.Path("mykey.pub.pem")));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("mykey.pem.pem")));
}

// An encrypted PKCS#8 key is read with the passphrase in a file, and signs exactly as the plain
// key does.
TEST_F(SfxpackCli, EncryptedKeysAreReadWithAPassphraseFile) {
  const std::string pass = dir.Write("pass.txt", std::string("correct horse\n"));
  const std::string encrypted = dir.Path("enc.pem");
  ASSERT_EQ(0, test::RunShell("openssl pkcs8 -topk8 -v2 aes256 -in " + ShellQuote(kPrivateKey) +
                               " -out " + ShellQuote(encrypted) + " -passout file:" +
                               ShellQuote(pass)).status);
  const std::string plain = MakePackage("plain.exe");
  PackArgs args = Pack(dir.Path("enc.exe")).File("readme.txt", text).Set("--key", encrypted);
  RunResult run = RunSfxpack(args);
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("give its passphrase with --key-pass-file")) << run.output;
  run = RunSfxpack(args.Set("--key-pass-file", dir.Write("wrong.txt", std::string("wrong\n"))));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(run.Has("wrong passphrase")) << run.output;
  run = RunSfxpack(args.Set("--key-pass-file", pass));
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_EQ(sfx::TempDir::Read(plain), sfx::TempDir::Read(dir.Path("enc.exe")));
}

// Long work shows a progress line on a terminal's stderr, never when asked to be quiet, and
// never when stderr is not a terminal.
TEST_F(SfxpackCli, ProgressOnlyOnATerminal) {
  if (test::RunShell("command -v script >/dev/null").status != 0) {
    GTEST_SKIP() << "no script(1) for a terminal";
  }
  // sfxpack with `args` on a terminal (script(1)) or not; what it wrote.
  auto run = [](const std::vector<std::string>& args, bool terminal) {
    std::string command = ShellQuote(SFXPACK_EXE);
    for (const std::string& a : args) command += " " + ShellQuote(a);
    if (terminal) command = "script -qec " + ShellQuote(command) + " /dev/null";
    const RunResult result = test::RunShell(command);
    EXPECT_EQ(0, result.status) << result.output;
    return result.output;
  };
  const std::string input = dir.Write("input.bin", std::string(8 << 20, 'p'));
  auto sign = [&](std::vector<std::string> flags, bool terminal) {
    flags.insert(flags.begin(), {"sign", "--kind", "md5", input, "-o", dir.Path("signed" + std::to_string(std::rand()))});
    return run(flags, terminal);
  };
  EXPECT_NE(std::string::npos, sign({}, true).find("sign: 100% of 8.0 MiB"));
  // pack reads its inputs twice (salt, then write): each pass is one line of the inputs' size.
  const std::string packed = run(Pack(dir.Path("progress8.exe")).Raw("input.bin", input), true);
  EXPECT_NE(std::string::npos, packed.find("pack, salting (1 of 2): 100% of 8.0 MiB")) << packed;
  EXPECT_NE(std::string::npos, packed.find("pack, writing (2 of 2): 100% of 8.0 MiB")) << packed;
  EXPECT_EQ(std::string::npos, packed.find("16.0 MiB")) << packed;
  EXPECT_EQ(std::string::npos, sign({"--quiet"}, true).find("% of"));
  EXPECT_EQ(std::string::npos, sign({}, false).find("% of"));

  // verify and list follow the check, which reads the whole package once.
  const std::string package = MakePackage("progress.exe");
  auto check = [&](const std::string& command, std::vector<std::string> flags) {
    flags.insert(flags.begin(), {command, "--key", kPublicKey, package});
    return run(flags, true);
  };
  EXPECT_NE(std::string::npos, check("verify", {}).find("check: 100% of"));
  EXPECT_NE(std::string::npos, check("list", {}).find("check: 100% of"));
  EXPECT_EQ(std::string::npos, check("list", {"-q"}).find("% of"));
  EXPECT_EQ(std::string::npos, check("verify", {"--json"}).find("% of"));
}

// Every --json run prints one object on one line, whatever happens, with its exit code and, on
// failure, its reason; the documented fields are there.
TEST_F(SfxpackCli, JsonAlwaysPrintsOneObject) {
  const std::string package = MakePackage("p.exe");
  Bytes changed = sfx::TempDir::Read(package);
  changed[300] ^= 1;
  const std::string damaged = dir.Write("damaged.exe", changed);
  const std::string bare = dir.Write("bare.bin", std::string("x"));
  const std::string wrongPin(64, 'a');
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::vector<std::string> has;
  };
  const std::string testKey = "\"key\":{\"fingerprint\":\"" + KeyFingerprint(sfx::TestSignerKey().pub) +
                              "\",\"source\":\"--key\",\"path\":\"" + kPublicKey + "\",\"test_key\":true}";
  const std::vector<Case> cases = {
      {{"verify", "--json", "--key", kPublicKey, package}, 0,
       {"{\"file\":\"" + package + "\",\"trailer\":\"binary\",\"signed_length\":",
        "\"verdict\":\"valid\",\"reason\":null,\"package\":true,\"archive_error\":null,\"salted\":true,",
        testKey + ",\"error\":null,"}},
      // A damaged package is still a package, and the reader says why it refuses it.
      {{"verify", "--json", "--key", kPublicKey, damaged}, 1,
       {"\"verdict\":\"mismatch\"", "\"package\":true,\"archive_error\":{\"code\":1006,\"text\":\"error 1006 (",
        "the closing signature does not verify\"}", "\"error\":\"signature does not match"}},
      {{"verify", "--json", "--key", kPublicKey, bare}, 1,
       {"\"trailer\":null,\"signed_length\":null,\"verdict\":\"no-signature\"", "\"package\":false"}},
      {{"verify", "--json", dir.path()}, 2, {"{\"file\":\"" + dir.path() + "\",\"key\":null,\"error\":\"cannot read FILE"}},
      {{"verify", "--json"}, 2, {"{\"file\":null,\"key\":null,\"error\":\"verify: no file given"}},
      {{"verify", "--json", "--bogus", package}, 2, {"\"error\":\"verify: unknown option '--bogus'"}},
      {{"verify", "--json", "--expect-fingerprint", wrongPin, "--key", kPublicKey, package}, 2,
       {"\"error\":\"the key checked with (--key " + kPublicKey + ") has the fingerprint"}},
      {{"list", "--json", "--key", kPublicKey, package}, 0,
       {"\"signature\":\"good\"", "\"mode\":\"extract\",\"command_template\":\"/q\",\"main_program\":{",
        "\"inflated_size\":30000},\"files\":[{\"name\":\"readme.txt\",", "\"kind\":\"package\"}],",
        testKey + ",\"error\":null,"}},
      {{"list", "--json", "--key", kPublicKey, damaged}, 1,
       {"\"signature\":\"bad\",\"archive_error\":{\"code\":1006,", "\"error\":\"" + damaged + " is not a valid package"}},
      {{"list", "--json", "--key", dir.path(), package}, 2, {"\"key\":null,\"error\":\"cannot read --key"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const RunResult run = test::RunSfxpackStdout(c.args);
    EXPECT_EQ(c.exit, run.status) << run.output;
    EXPECT_EQ(0u, run.output.find('{')) << run.output;
    EXPECT_EQ(run.output.size() - 1, run.output.find('\n')) << run.output;
    EXPECT_TRUE(run.Has(",\"exit\":" + std::to_string(c.exit) + "}\n")) << run.output;
    for (const std::string& text : c.has) EXPECT_TRUE(run.Has(text)) << text << "\n" << run.output;
  }
}

}  // namespace
}  // namespace sfxpack
