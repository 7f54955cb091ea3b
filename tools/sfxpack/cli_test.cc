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
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/package_writer.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kPrivateKey = SFXSTUB_TEST_PRIVATE_KEY;
const std::string kPublicKey = std::string(SFXSTUB_SOURCE_DIR) + "/keys/test-signer/signer-public.pem";

// Runs a shell command; its exit status (or -1), with stdout and stderr in `output`.
int Shell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Outcome {
  int status;
  std::string output;  // stdout and stderr
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs sfxpack with the arguments, after `prefix` (a shell command such as "ulimit -v N;").
Outcome Sfxpack(const std::vector<std::string>& args, const std::string& prefix = "") {
  std::string command = prefix + Quote(SFXPACK_EXE);
  for (const std::string& a : args) command += " " + Quote(a);
  Outcome run{-1, ""};
  run.status = Shell(command, &run.output);
  return run;
}

bool Has(const Outcome& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

Bytes StubCarrying(const sfx::DsaPublicKey& key) {
  Bytes stub = sfx::MinimalPeImage(0x80);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&key);
  stub.insert(stub.end(), bytes, bytes + sizeof key);
  return stub;
}

// `args` with the value after `option` replaced.
std::vector<std::string> With(std::vector<std::string> args, const std::string& option,
                              const std::string& value) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == option) args[i + 1] = value;
  }
  return args;
}

bool NoTempFiles(const std::string& folder) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.path().filename().string().find(".sfxpack-") != std::string::npos) return false;
  }
  return true;
}

class SfxpackCli : public ::testing::Test {
 protected:
  void SetUp() override {
    stub = dir.Write("stub.exe", StubCarrying(sfx::TestSignerKey().pub));
    Bytes program = sfx::MinimalPeImage(0x80);
    program.resize(30000, 0x5A);
    main = dir.Write("setup.exe", program);
    text = dir.Write("readme.txt", std::string("read me\r\n"));
  }
  std::vector<std::string> Pack(const std::string& output, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"pack", "--stub", stub, "--key", kPrivateKey, "--main", main,
                                     "--cmdline", "/q", "-o", output};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  std::string MakePackage(const std::string& name, std::vector<std::string> extra = {}) {
    const std::string path = dir.Path(name);
    extra.insert(extra.begin(), {"--file", "readme.txt=" + text});
    const Outcome run = Sfxpack(Pack(path, extra));
    EXPECT_EQ(0, run.status) << run.output;
    return path;
  }
  // A package built in memory, for what pack itself refuses to make.
  std::string BuildRaw(const std::string& name, const std::string& mode,
                       const std::vector<std::string>& names) {
    TrailerSigner signer = [](const uint8_t* data, size_t size) {
      return MakeBinaryTrailer(sfx::TestSignerKey(), data, size);
    };
    PackageBuilder builder(signer);
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
    EXPECT_TRUE(builder.Finish(MakeCatalog(mode, "/q", range, entries))) << builder.error();
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
      With(Pack(dir.Path("a.exe")), "--key", folder),
      {"sign", "--kind", "binary", "--key", folder, text, "-o", dir.Path("s")},
      {"verify", "--key", folder, package},
      {"list", "--key", folder, package},
      {"extract", "--key", folder, package, "--to", dir.Path("x")},
      {"authenticode", "--cert", text, "--key", text, "--signer-key", folder, package, "-o", dir.Path("y")},
      {"verify", "--key", "/dev/zero", package},
      {"verify", folder},
      {"list", folder},
      {"sign", "--kind", "md5", "/dev/zero", "-o", dir.Path("z")},
      With(Pack(dir.Path("b.exe")), "--stub", folder),
  };
  for (const std::vector<std::string>& args : runs) {
    const Outcome run = Sfxpack(args);
    SCOPED_TRACE(args[0] + " " + args[1] + " " + args.back());
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_EQ(0u, run.output.find("sfxpack: ")) << run.output;
    EXPECT_TRUE(Has(run, "folder") || Has(run, "not a regular file")) << run.output;
  }
  EXPECT_TRUE(NoTempFiles(dir.path()));
}

// The key, the stub or any other input is never overwritten; an existing output only with
// --force; a failed run leaves the old output as it was.
TEST_F(SfxpackCli, OutputsNeverReplaceInputsAndExistingFilesOnlyWithForce) {
  const std::string keyCopy = dir.Write("kcopy.pem", sfx::TempDir::Read(kPrivateKey));
  const Bytes keyBytes = sfx::TempDir::Read(keyCopy);
  std::vector<std::string> args = Pack(keyCopy, {"--force"});
  args[4] = keyCopy;
  Outcome run = Sfxpack(args);
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "same file as the input")) << run.output;
  EXPECT_EQ(keyBytes, sfx::TempDir::Read(keyCopy));

  const Bytes stubBytes = sfx::TempDir::Read(stub);
  run = Sfxpack(Pack(stub, {"--force"}));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_EQ(stubBytes, sfx::TempDir::Read(stub));

  const std::string existing = dir.Write("old.exe", std::string("old"));
  run = Sfxpack(Pack(existing));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "already exists (use --force")) << run.output;
  EXPECT_EQ(Bytes({'o', 'l', 'd'}), sfx::TempDir::Read(existing));
  run = Sfxpack(Pack(existing, {"--force"}));
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(sfx::VerifySignedFile(existing.c_str(), sfx::TestSignerKey().pub));

  // sign: -o naming the input is refused; in place the file keeps its mode.
  const std::string script = dir.Write("run.sh", std::string("echo hi\n"));
  ::chmod(script.c_str(), 0750);
  run = Sfxpack({"sign", "--kind", "binary", "--key", kPrivateKey, script, "-o", script});
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "leave out -o")) << run.output;
  run = Sfxpack({"sign", "--kind", "binary", "--key", kPrivateKey, script});
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
  run = Sfxpack({"extract", package, "--key", kPublicKey, "--to", to});
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_EQ(Bytes({'m', 'i', 'n', 'e'}), sfx::TempDir::Read(to + "/readme.txt"));
  run = Sfxpack({"extract", package, "--key", kPublicKey, "--to", to, "--force", "--decode"});
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
      Pack(package, {"--raw", "big.bin=" + big, "-q"}),
      {"sign", "--kind", "binary", "--key", kPrivateKey, big, "-o", dir.Path("big.signed"), "-q"},
      {"extract", package, "--key", kPublicKey, "--to", to, "-q"},
  };
  const std::vector<std::string> outputs = {package, dir.Path("big.signed"), to + "/big.bin"};
  for (size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(runs[i][0]);
    std::vector<std::string> args = runs[i];
    std::vector<char*> argv;
    const std::string exe = SFXPACK_EXE;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    // Wait for the temporary file (or the end of the run), then interrupt.
    bool sawTemp = false;
    int status = 0;
    for (int polls = 0; polls < 20000 && !sawTemp; ++polls) {
      if (::waitpid(child, &status, WNOHANG) == child) break;
      sawTemp = !NoTempFiles(dir.path());
      if (!sawTemp) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (sawTemp) {
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
      ASSERT_EQ(0, Sfxpack(runs[0]).status);
    }
  }
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
  Outcome run = Sfxpack(Pack(package, {"--raw", "big.bin=" + big, "--file", "zeros.bin=" + big}), limit);
  ASSERT_EQ(0, run.status) << run.output;
  run = Sfxpack({"verify", "--key", kPublicKey, package}, limit);
  EXPECT_EQ(0, run.status) << run.output;
  run = Sfxpack({"list", "--key", kPublicKey, package}, limit);
  EXPECT_EQ(0, run.status) << run.output;
  run = Sfxpack({"extract", "--key", kPublicKey, package, "--to", dir.Path("to"), "--decode"}, limit);
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_EQ(static_cast<uintmax_t>(size), std::filesystem::file_size(dir.Path("to/zeros.bin")));
  run = Sfxpack({"sign", "--kind", "binary", "--key", kPrivateKey, big, "-o", dir.Path("s")}, limit);
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
  run = Sfxpack(Pack(dir.Path("huge.exe"), {"--raw", "big.bin=" + big}), limit);
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "too large")) << run.output;
}

// Everything the stub refuses at run time is refused when packing, with the reason.
TEST_F(SfxpackCli, PackRefusesWhatTheStubWouldRefuse) {
  const std::string out = dir.Path("out.exe");
  auto refused = [&](std::vector<std::string> extra, const std::string& message) {
    const Outcome run = Sfxpack(Pack(out, extra));
    SCOPED_TRACE(extra.empty() ? std::string() : extra.back());
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_TRUE(Has(run, message)) << run.output;
    EXPECT_FALSE(std::filesystem::exists(out));
  };
  for (const char* name : {".", "CON", "nul.txt", "com1.log", "a:b", ".. "}) {
    refused({"--file", std::string(name) + "=" + text}, "refused by the stub");
  }
  // The stub writes these, but Windows would store them under another name.
  for (const char* name : {"x.", "x "}) {
    refused({"--file", std::string(name) + "=" + text}, "arrive as 'x'");
  }
  for (const char* name : {"a*b", "a?b", "a<b", "a>b", "a|b", "a\"b"}) {
    refused({"--file", std::string(name) + "=" + text}, "Windows does not allow");
  }
  refused({"--file", std::string("a\x01" "b=") + text}, "control character");
  refused({"--file", std::string(256, 'n') + "=" + text}, "longer than 255");
  refused({"--file", "Read.TXT=" + text, "--file", "read.txt=" + text}, "duplicate");
  refused({"--file", "SETUP.OVR=" + text}, "--allow-reserved-names");
  refused({"--file", "tarvo.setup=" + text}, "--allow-reserved-names");

  std::vector<std::string> longTemplate = Pack(out);
  longTemplate[8] = std::string(32768, 'x');
  Outcome run = Sfxpack(longTemplate);
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(Has(run, "at most 32767")) << run.output.substr(0, 300);

  // The main program: a PE image, not empty, at most 256 MiB (checked from its size).
  std::vector<std::string> args = Pack(out);
  args[6] = text;
  run = Sfxpack(args);
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(Has(run, "is not a program")) << run.output;
  args[6] = dir.Write("empty.exe", std::string());
  EXPECT_EQ(2, Sfxpack(args).status);
  args[6] = dir.Write("huge.exe", std::string());
  ASSERT_EQ(0, ::truncate(args[6].c_str(), (256ll << 20) + 1));
  run = Sfxpack(args);
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(Has(run, "256 MiB")) << run.output;

  // The stub must carry the signing key, or be allowed not to.
  args = Pack(out);
  args[2] = dir.Write("keyless.exe", sfx::MinimalPeImage(0x200));
  run = Sfxpack(args);
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(Has(run, "not the key built into --stub")) << run.output;
  args.push_back("--allow-other-key");
  run = Sfxpack(args);
  EXPECT_EQ(0, run.status) << run.output;
  std::filesystem::remove(out);

  // A finished package is no stub.
  args = Pack(out);
  args[2] = MakePackage("finished.exe");
  run = Sfxpack(args);
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(Has(run, "sfxpack authenticode")) << run.output;

  // Allowed with the flags, and warned about.
  run = Sfxpack(Pack(out, {"--file", "setup.ovr=" + text, "--allow-reserved-names", "--file",
                           "caf\xC3\xA9.txt=" + text}));
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(Has(run, "ANSI code page")) << run.output;
  EXPECT_TRUE(Has(run, "repository's TEST key")) << run.output;

  // Only the stub's own end-to-end tests make such packages, and must ask for them.
  run = Sfxpack(Pack(dir.Path("refused.exe"), {"--file", "a?b=" + text, "--skip-stub-checks"}));
  EXPECT_EQ(0, run.status) << run.output;
  run = Sfxpack(Pack(dir.Path("separator.exe"), {"--file", "a/b=" + text, "--skip-stub-checks"}));
  EXPECT_EQ(2, run.status) << run.output;
}

// --codepage stores the names and the template, written in UTF-8, in a Windows code page, and
// refuses what that code page lacks.
TEST_F(SfxpackCli, CodePageStoresTextAsThatCodePageReadsIt) {
  const std::string out = dir.Path("cp.exe");
  std::vector<std::string> args = Pack(out, {"--codepage", "1252", "--raw", "caf\xC3\xA9.txt=" + text});
  args[8] = "/name=Andr\xC3\xA9 %CMDLINE%";
  Outcome run = Sfxpack(args);
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(Has(run, "code page 1252")) << run.output;  // the warning says how it reads
  run = Sfxpack({"list", "--key", kPublicKey, out});
  EXPECT_TRUE(Has(run, "caf\xE9.txt")) << run.output;
  EXPECT_TRUE(Has(run, "command template: /name=Andr\xE9 %CMDLINE%")) << run.output;
  std::filesystem::remove(out);

  run = Sfxpack(Pack(out, {"--codepage", "1252", "--raw", "\xC5\x81\xC3\xB3" "d\xC5\xBA.txt=" + text}));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "'\xC5\x81' (U+0141), which code page 1252 cannot represent")) << run.output;
  EXPECT_FALSE(std::filesystem::exists(out));
  run = Sfxpack(Pack(dir.Path("bad.exe"), {"--codepage", "cp1252"}));
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "Windows code page number")) << run.output;
}

// What the shared reader does with names pack refuses: it refuses to extract them.
TEST_F(SfxpackCli, NamesPackRefusesAreRefusedByTheReaderToo) {
  for (const char* name : {"..", "CON", "nul.txt", ".. "}) {
    const std::string package = BuildRaw("bad.exe", "extract", {name});
    const Outcome run = Sfxpack({"extract", "--key", kPublicKey, package, "--to", dir.Path("x")});
    SCOPED_TRACE(name);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_TRUE(Has(run, "ERROR_INVALID_PARAMETER")) << run.output;
    std::filesystem::remove(package);
  }
  // A trailing dot stays in the folder (Windows strips it): the stub writes it, and so does
  // extract, under the name as stored.
  const std::string package = BuildRaw("dot.exe", "extract", {"x."});
  const Outcome run = Sfxpack({"extract", "--key", kPublicKey, package, "--to", dir.Path("x")});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(std::filesystem::exists(dir.Path("x/x."))) << run.output;
}

// Each failure says what it is: unreadable, unsigned or truncated, signed by another key or
// changed, or a good signature over an archive the reader refuses (with the number's meaning).
TEST_F(SfxpackCli, MessagesTellWhatIsWrong) {
  const std::string package = MakePackage("p.exe");
  Bytes bytes = sfx::TempDir::Read(package);

  Outcome run = Sfxpack({"verify", "--key", kPublicKey, dir.path()});
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "cannot read")) << run.output;

  const std::string truncated = dir.Write("truncated.exe", Bytes(bytes.begin(), bytes.end() - 100));
  run = Sfxpack({"verify", "--key", kPublicKey, truncated});
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_TRUE(Has(run, "no signature: not a package, or truncated")) << run.output;

  Bytes changed = bytes;
  changed[300] ^= 1;
  const std::string changedPath = dir.Write("changed.exe", changed);
  run = Sfxpack({"verify", "--key", kPublicKey, changedPath});
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_TRUE(Has(run, "signature does not match: signed with another key, or changed after signing"))
      << run.output;

  const std::string otherMode = BuildRaw("mode.exe", "install", {"a.txt"});
  for (const char* command : {"verify", "list"}) {
    run = Sfxpack({command, "--key", kPublicKey, otherMode});
    SCOPED_TRACE(command);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_TRUE(Has(run, "the signature is good")) << run.output;
    EXPECT_TRUE(Has(run, "error 87 (ERROR_INVALID_PARAMETER")) << run.output;
  }
  run = Sfxpack({"extract", "--key", kPublicKey, changedPath, "--to", dir.Path("x")});
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_TRUE(Has(run, "error 1006 (ERROR_FILE_INVALID")) << run.output;

  run = Sfxpack({"verify", "--key", dir.Path("missing.pem"), package});
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(Has(run, "No such file or directory")) << run.output;

  // A stored name can't fake a line of the listing.
  const std::string tricky = BuildRaw("tricky.exe", "extract", {"a\nsignature: good\tb"});
  run = Sfxpack({"list", "--key", kPublicKey, tricky});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(Has(run, "a\\nsignature: good\\tb")) << run.output;
  run = Sfxpack({"list", "--json", "--key", kPublicKey, tricky});
  EXPECT_TRUE(Has(run, "\"name\":\"a\\u000asignature: good\\u0009b\"")) << run.output;
}

// One parser for every command: --opt=value, "--", -h/--help everywhere, help COMMAND,
// --version, a repeated option refused, a near miss suggested; keygen takes NAME.pem.
TEST_F(SfxpackCli, CommandLineConventions) {
  for (const char* command : {"pack", "list", "extract", "verify", "sign", "keygen", "authenticode"}) {
    SCOPED_TRACE(command);
    Outcome run = Sfxpack({command, "--help"});
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_EQ(0u, run.output.find(std::string("usage: sfxpack ") + command)) << run.output;
    EXPECT_EQ(run.output, Sfxpack({command, "-h"}).output);
    EXPECT_EQ(run.output, Sfxpack({"help", command}).output);
  }
  Outcome run = Sfxpack({"--version"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.output.find("sfxpack ")) << run.output;

  run = Sfxpack({"pakc"});
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(Has(run, "did you mean 'pack'")) << run.output;
  run = Sfxpack(Pack(dir.Path("o.exe"), {"--key", kPrivateKey}));
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(Has(run, "--key is given more than once")) << run.output;
  run = Sfxpack({"list", "--jsno", "x"});
  EXPECT_TRUE(Has(run, "did you mean --json")) << run.output;

  run = Sfxpack({"pack", "--stub=" + stub, "--key=" + kPrivateKey, "--main=" + main, "--cmdline=/a=b",
                 "--output=" + dir.Path("eq.exe")});
  EXPECT_EQ(0, run.status) << run.output;
  run = Sfxpack({"list", "--key", kPublicKey, dir.Path("eq.exe")});
  EXPECT_TRUE(Has(run, "command template: /a=b")) << run.output;

  const std::string dashed = dir.Write("-dashed.txt", std::string("x"));
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  run = Sfxpack({"sign", "--kind", "md5", "--", "-dashed.txt"});
  std::filesystem::current_path(cwd);
  EXPECT_EQ(0, run.status) << run.output;

  run = Sfxpack({"keygen", dir.Path("mykey.pem")});
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
  ASSERT_EQ(0, Shell("openssl pkcs8 -topk8 -v2 aes256 -in " + Quote(kPrivateKey) + " -out " +
                           Quote(encrypted) + " -passout file:" + Quote(pass)));
  const std::string plain = MakePackage("plain.exe");
  std::vector<std::string> args = With(Pack(dir.Path("enc.exe"), {"--file", "readme.txt=" + text}),
                                       "--key", encrypted);
  Outcome run = Sfxpack(args);
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "give its passphrase with --key-pass-file")) << run.output;
  args.insert(args.end(), {"--key-pass-file", dir.Write("wrong.txt", std::string("wrong\n"))});
  run = Sfxpack(args);
  EXPECT_EQ(2, run.status) << run.output;
  EXPECT_TRUE(Has(run, "wrong passphrase")) << run.output;
  args.back() = pass;
  run = Sfxpack(args);
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_EQ(sfx::TempDir::Read(plain), sfx::TempDir::Read(dir.Path("enc.exe")));
}

// Long work shows a progress line on a terminal's stderr, never when asked to be quiet, and
// never when stderr is not a terminal.
TEST_F(SfxpackCli, ProgressOnlyOnATerminal) {
  if (Shell("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1) for a terminal";
  const std::string input = dir.Write("input.bin", std::string(8 << 20, 'p'));
  auto sign = [&](const std::string& flags, bool terminal) {
    const std::string out = dir.Path("signed" + std::to_string(std::rand()));
    std::string command = Quote(SFXPACK_EXE) + " sign --kind md5 " + flags + " " + Quote(input) +
                          " -o " + Quote(out);
    if (terminal) command = "script -qec " + Quote(command) + " /dev/null";
    std::string output;
    EXPECT_EQ(0, Shell(command, &output)) << output;
    return output;
  };
  EXPECT_NE(std::string::npos, sign("", true).find("sign: 100% of 8.0 MiB"));
  EXPECT_EQ(std::string::npos, sign("--quiet", true).find("% of"));
  EXPECT_EQ(std::string::npos, sign("", false).find("% of"));

  // verify and list follow the check, which reads the whole package once.
  const std::string package = MakePackage("progress.exe");
  auto check = [&](const std::string& command, const std::string& flags) {
    std::string output;
    EXPECT_EQ(0, Shell("script -qec " +
                           Quote(Quote(SFXPACK_EXE) + " " + command + " --key " +
                                 Quote(kPublicKey) + " " + flags + " " + Quote(package)) +
                           " /dev/null",
                       &output))
        << output;
    return output;
  };
  EXPECT_NE(std::string::npos, check("verify", "").find("check: 100% of"));
  EXPECT_NE(std::string::npos, check("list", "").find("check: 100% of"));
  EXPECT_EQ(std::string::npos, check("list", "-q").find("% of"));
  EXPECT_EQ(std::string::npos, check("verify", "--json").find("% of"));
}

// The JSON outputs carry the documented fields.
TEST_F(SfxpackCli, JsonOutputs) {
  const std::string package = MakePackage("p.exe");
  Outcome run = Sfxpack({"verify", "--json", "--key", kPublicKey, package});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(Has(run, "{\"file\":\"" + package + "\",\"trailer\":\"binary\",\"signed_length\":"))
      << run.output;
  EXPECT_TRUE(Has(run, "\"verdict\":\"valid\",\"reason\":null,\"package\":true,"
                       "\"archive_error\":null,\"salted\":true}"))
      << run.output;
  run = Sfxpack({"list", "--json", "--key", kPublicKey, package});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(Has(run, "\"signature\":\"good\"")) << run.output;
  EXPECT_TRUE(Has(run, "\"mode\":\"extract\",\"command_template\":\"/q\",\"main_program\":{"))
      << run.output;
  EXPECT_TRUE(Has(run, "\"inflated_size\":30000},\"files\":[{\"name\":\"readme.txt\",")) << run.output;
  EXPECT_TRUE(Has(run, "\"kind\":\"package\"}]}")) << run.output;
  const std::string bare = dir.Write("bare.bin", std::string("x"));
  run = Sfxpack({"verify", "--json", "--key", kPublicKey, bare});
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(Has(run, "\"trailer\":null,\"signed_length\":null,\"verdict\":\"no-signature\""))
      << run.output;
}

}  // namespace
}  // namespace sfxpack
