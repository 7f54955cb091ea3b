// sfxpack pack, list and extract as a package author runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/minimal_pe.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer.h"
#include "tools/sfxpack/signing_test_support.h"
#include "tools/sfxpack/file_util.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kPrivateKey = SFXSTUB_TEST_PRIVATE_KEY;
const std::string kPublicKey =
    std::string(SFXSTUB_SOURCE_DIR) + "/keys/test-signer/signer-public.pem";

struct RunResult {
  int status;
  std::string output;
};

// Runs sfxpack with the arguments (each single-quoted) and collects stdout and stderr.
RunResult Sfxpack(const std::vector<std::string>& args) {
  std::string command = std::string("'") + SFXPACK_EXE + "'";
  for (const std::string& a : args) command += " '" + a + "'";
  RunResult run{-1, ""};
  run.status = test::Shell(command, &run.output);  // collects stdout and stderr
  return run;
}

// A stand-in stub: a PE image that carries the test signer's public key the way the real stub
// carries its built-in key (p, q, g, y, one after the other).
Bytes Stub() {
  Bytes stub = sfx::MinimalPeImage(0x80);
  const sfx::DsaPublicKey& key = sfx::TestSignerKey().pub;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&key);
  stub.insert(stub.end(), bytes, bytes + sizeof key);
  return stub;
}

uint32_t ModificationTime(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint32_t>(st.st_mtime) : 0;
}

class SfxpackCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    stub = dir.Write("stub.exe", Stub());
    Bytes program = sfx::MinimalPeImage(0x80);
    program.resize(50000);
    for (int i = 0x80; i < 50000; ++i) program[i] = static_cast<uint8_t>(i * 7 + i / 300);
    main = dir.Write("setup.exe", program);
    text = dir.Write("readme.txt", std::string("read me\r\n"));
    data = dir.Write("data.bin", std::string(20000, 'd'));
    SetTime(text, 1577934245);  // 2020-01-02T03:04:05Z
    SetTime(data, 86400);
  }
  static void SetTime(const std::string& path, uint32_t time) {
    struct utimbuf times = {static_cast<time_t>(time), static_cast<time_t>(time)};
    utime(path.c_str(), &times);
  }
  std::vector<std::string> PackArgs(const std::string& output) {
    return {"pack", "--stub", stub, "--key", kPrivateKey, "--main", main,
            "--file", "readme.txt=" + text, "--raw", "data.bin=" + data,
            "--cmdline", "/q \"%CMDLINE%\"", "-o", output};
  }

  sfx::TempDir dir;
  std::string stub, main, text, data;
};

TEST_F(SfxpackCommands, PackListExtractRoundTrip) {
  std::string package = dir.Path("package.exe");
  RunResult pack = Sfxpack(PackArgs(package));
  ASSERT_EQ(0, pack.status) << pack.output;

  // Same inputs, same times, same key: the same bytes.
  std::string again = dir.Path("again.exe");
  ASSERT_EQ(0, Sfxpack(PackArgs(again)).status);
  EXPECT_EQ(sfx::TempDir::Read(package), sfx::TempDir::Read(again));

  RunResult list = Sfxpack({"list", "--key", kPublicKey, package});
  ASSERT_EQ(0, list.status) << list.output;
  EXPECT_NE(std::string::npos, list.output.find("signature: good"));
  EXPECT_NE(std::string::npos, list.output.find("mode: extract"));
  EXPECT_NE(std::string::npos, list.output.find("/q \"%CMDLINE%\""));
  EXPECT_NE(std::string::npos, list.output.find("inflated 50000 bytes")) << list.output;
  EXPECT_NE(std::string::npos, list.output.find("2020-01-02T03:04:05Z  package"));
  EXPECT_NE(std::string::npos, list.output.find("1970-01-02T00:00:00Z  raw"));

  std::string to = dir.Path("to");
  RunResult extract = Sfxpack({"extract", "--key", kPublicKey, package, "--to", to, "--decode"});
  ASSERT_EQ(0, extract.status) << extract.output;
  EXPECT_EQ(sfx::TempDir::Read(main), sfx::TempDir::Read(to + "/setup.ovr"));
  EXPECT_EQ(sfx::TempDir::Read(text), sfx::TempDir::Read(to + "/readme.txt"));
  EXPECT_EQ(1577934245u, ModificationTime(to + "/readme.txt"));
  // A raw file keeps its own trailer.
  Bytes raw = sfx::TempDir::Read(to + "/data.bin");
  ASSERT_EQ(20000u + 48u, raw.size());
  EXPECT_EQ(sfx::TempDir::Read(data), Bytes(raw.begin(), raw.begin() + 20000));
  EXPECT_EQ(86400u, ModificationTime(to + "/data.bin"));

  // Without --decode the package file stays as it was stored.
  std::string stored = dir.Path("stored");
  ASSERT_EQ(0, Sfxpack({"extract", package, "--to", stored}).status);
  Bytes packed = sfx::TempDir::Read(stored + "/readme.txt");
  ASSERT_GE(packed.size(), 16u);
  EXPECT_EQ("OLMsetupFPkgFile", std::string(packed.begin(), packed.begin() + 16));
}

// The salt block, as a package author meets it: on by default and shown by list, left out only
// with --no-salt, which list shows and verify warns about (without changing its verdict).
TEST_F(SfxpackCommands, PackagesAreSaltedUnlessAskedNotToBe) {
  const std::string salted = dir.Path("salted.exe"), plain = dir.Path("plain.exe");
  RunResult pack = Sfxpack(PackArgs(salted));
  ASSERT_EQ(0, pack.status) << pack.output;
  EXPECT_NE(std::string::npos, pack.output.find(", salted")) << pack.output;
  std::vector<std::string> args = PackArgs(plain);
  args.insert(args.begin() + 1, "--no-salt");
  pack = Sfxpack(args);
  ASSERT_EQ(0, pack.status) << pack.output;
  EXPECT_NE(std::string::npos, pack.output.find("NOT salted")) << pack.output;

  RunResult list = Sfxpack({"list", "--key", kPublicKey, salted});
  ASSERT_EQ(0, list.status) << list.output;
  const size_t stubEnd = Stub().size() + 48;
  EXPECT_NE(std::string::npos,
            list.output.find("salt: yes, 32 bytes at offset " + std::to_string(stubEnd + 16)))
      << list.output;
  list = Sfxpack({"list", "--key", kPublicKey, plain});
  ASSERT_EQ(0, list.status) << list.output;
  EXPECT_NE(std::string::npos, list.output.find("salt: no")) << list.output;

  RunResult verify = Sfxpack({"verify", "--key", kPublicKey, salted});
  EXPECT_EQ(0, verify.status) << verify.output;
  EXPECT_EQ(std::string::npos, verify.output.find("warning")) << verify.output;
  verify = Sfxpack({"verify", "--key", kPublicKey, plain});
  EXPECT_EQ(0, verify.status) << verify.output;
  EXPECT_NE(std::string::npos, verify.output.find("warning: " + plain + " is a package without a salt"))
      << verify.output;
  // A signed file that is not a package gets no warning: it has no place for a salt.
  std::string signedText = dir.Write("loose.txt", std::string("loose"));
  ASSERT_EQ(0, Sfxpack({"sign", "--key", kPrivateKey, "--kind", "binary", signedText}).status);
  verify = Sfxpack({"verify", "--key", kPublicKey, signedText});
  EXPECT_EQ(0, verify.status) << verify.output;
  EXPECT_EQ(std::string::npos, verify.output.find("warning")) << verify.output;
}

TEST_F(SfxpackCommands, SaltRepeatsForTheSameKeyAndDiffersForAnother) {
  auto saltOf = [&](const std::vector<std::string>& args) {
    RunResult pack = Sfxpack(args);
    EXPECT_EQ(0, pack.status) << pack.output;
    Bytes bytes = sfx::TempDir::Read(args.back());
    const size_t at = Stub().size() + 48;
    if (bytes.size() < at + 48) return Bytes();
    EXPECT_EQ("sfxpack.salt.v1.", std::string(bytes.begin() + at, bytes.begin() + at + 16));
    return Bytes(bytes.begin() + at + 16, bytes.begin() + at + 48);
  };
  const Bytes first = saltOf(PackArgs(dir.Path("a.exe")));
  EXPECT_EQ(first, saltOf(PackArgs(dir.Path("b.exe"))));

  RunResult keygen = Sfxpack({"keygen", dir.Path("other")});
  ASSERT_EQ(0, keygen.status) << keygen.output;
  std::vector<std::string> otherKey = PackArgs(dir.Path("c.exe"));
  otherKey[4] = dir.Path("other.pem");
  otherKey.insert(otherKey.end() - 2, "--allow-other-key");
  EXPECT_NE(first, saltOf(otherKey));

  // (Each input's part in the salt is checked in package_salt_test.cc.)
  dir.Write("readme.txt", std::string("read me!\r\n"));
  SetTime(text, 1577934245);
  EXPECT_NE(first, saltOf(PackArgs(dir.Path("d.exe"))));
}

TEST_F(SfxpackCommands, ChangedPackageIsNeitherListedNorExtracted) {
  std::string package = dir.Path("package.exe");
  ASSERT_EQ(0, Sfxpack(PackArgs(package)).status);
  Bytes bytes = sfx::TempDir::Read(package);
  bytes[200] ^= 0x20;
  dir.Write("package.exe", bytes);
  RunResult list = Sfxpack({"list", package});
  EXPECT_EQ(1, list.status);
  EXPECT_NE(std::string::npos, list.output.find("signature: BAD"));
  std::string to = dir.Path("to");
  RunResult extract = Sfxpack({"extract", package, "--to", to});
  EXPECT_EQ(1, extract.status);
  // The number with its meaning, and the reader's reason: which check refused the package.
  EXPECT_NE(std::string::npos, extract.output.find("error 1006 (ERROR_FILE_INVALID"))
      << extract.output;
  EXPECT_NE(std::string::npos, extract.output.find("; the closing signature does not verify"))
      << extract.output;
  EXPECT_FALSE(std::filesystem::exists(to));
}

TEST_F(SfxpackCommands, PackRefusesBadInputAndWritesNothing) {
  std::string package = dir.Path("package.exe");
  auto refused = [&](std::vector<std::string> args, const std::string& message) {
    RunResult run = Sfxpack(args);
    EXPECT_NE(0, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find(message)) << run.output;
    EXPECT_FALSE(std::filesystem::exists(package));
  };
  std::vector<std::string> base = PackArgs(package);
  auto with = [&](size_t index, const std::string& value) {
    std::vector<std::string> args = base;
    args[index] = value;
    return args;
  };
  refused(with(2, text), "not a PE file");
  refused(with(2, dir.Path("nope.exe")), "cannot read --stub");
  refused(with(6, dir.Path("nope.exe")), "cannot read --main");
  refused(with(4, text), "");
  refused(with(8, "sub/readme.txt=" + text), "path separator");
  refused(with(8, "a\\b=" + text), "path separator");
  refused(with(8, "c:x=" + text), "refused by the stub");
  refused(with(8, "..=" + text), "refused by the stub");
  refused(with(8, "=" + text), "empty");
  refused(with(8, "readme.txt"), "NAME=PATH");
  refused(with(10, "readme.txt=" + data), "duplicate");
  refused({"pack", "--stub", stub}, "required");
  refused({"pack", "--bogus"}, "unknown option");

  std::vector<std::string> duplicates = with(10, "readme.txt=" + data);
  duplicates.push_back("--allow-duplicates");
  RunResult allowed = Sfxpack(duplicates);
  EXPECT_EQ(0, allowed.status) << allowed.output;
  // No temporary file is left beside the output.
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(5u, entries);  // stub, setup, readme, data, package
}

}  // namespace
}  // namespace sfxpack
