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
#include "tests/common/stand_in_stub.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer.h"
#include "tests/common/test_signer_key.h"
#include "tools/sfxpack/key_slot.h"
#include "tools/sfxpack/package_writer.h"
#include "tools/sfxpack/sfxpack_runner.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

using test::RunResult;
using test::RunSfxpack;

const std::string kPrivateKey = test::PrivateKeyPath();
const std::string kPublicKey = test::PublicKeyPath();

// A stand-in for the generic stub: pack stamps the key into the package's copy.
Bytes Stub() { return sfx::test::StandInStub(nullptr); }

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
  test::PackArgs Pack(const std::string& output) {
    return test::PackArgs(stub, kPrivateKey, main, output, "/q \"%CMDLINE%\"")
        .File("readme.txt", text)
        .Raw("data.bin", data);
  }

  sfx::TempDir dir;
  std::string stub, main, text, data;
};

TEST_F(SfxpackCommands, PackListExtractRoundTrip) {
  std::string package = dir.Path("package.exe");
  RunResult pack = RunSfxpack(Pack(package));
  ASSERT_EQ(0, pack.status) << pack.output;

  // Same inputs, same times, same key: the same bytes.
  std::string again = dir.Path("again.exe");
  ASSERT_EQ(0, RunSfxpack(Pack(again)).status);
  EXPECT_EQ(sfx::TempDir::Read(package), sfx::TempDir::Read(again));

  RunResult list = RunSfxpack({"list", "--key", kPublicKey, package});
  ASSERT_EQ(0, list.status) << list.output;
  EXPECT_NE(std::string::npos, list.output.find("signature: good"));
  EXPECT_NE(std::string::npos, list.output.find("mode: extract"));
  EXPECT_NE(std::string::npos, list.output.find("/q \"%CMDLINE%\""));
  EXPECT_NE(std::string::npos, list.output.find("inflated 50000 bytes")) << list.output;
  EXPECT_NE(std::string::npos, list.output.find("2020-01-02T03:04:05Z  package"));
  EXPECT_NE(std::string::npos, list.output.find("1970-01-02T00:00:00Z  raw"));

  std::string to = dir.Path("to");
  RunResult extract = RunSfxpack({"extract", "--key", kPublicKey, package, "--to", to, "--decode"});
  ASSERT_EQ(0, extract.status) << extract.output;
  EXPECT_EQ(sfx::TempDir::Read(main), sfx::TempDir::Read(to + "/setup.ovr"));
  EXPECT_EQ(sfx::TempDir::Read(text), sfx::TempDir::Read(to + "/readme.txt"));
  EXPECT_EQ(1577934245u, ModificationTime(to + "/readme.txt"));
  // --decode gives a raw file as it was packed, without its own trailer, and says so.
  EXPECT_EQ(sfx::TempDir::Read(data), sfx::TempDir::Read(to + "/data.bin"));
  EXPECT_EQ(86400u, ModificationTime(to + "/data.bin"));
  EXPECT_TRUE(extract.Has("1 package file(s) inflated, 1 raw file(s) without their own signature "
                          "trailer, 0 raw file(s) as stored")) << extract.output;

  // Without --decode the package file stays as it was stored, and a raw file keeps its trailer.
  std::string stored = dir.Path("stored");
  ASSERT_EQ(0, RunSfxpack({"extract", package, "--to", stored}).status);
  Bytes packed = sfx::TempDir::Read(stored + "/readme.txt");
  ASSERT_GE(packed.size(), 16u);
  EXPECT_EQ("OLMsetupFPkgFile", std::string(packed.begin(), packed.begin() + 16));
  Bytes raw = sfx::TempDir::Read(stored + "/data.bin");
  ASSERT_EQ(20000u + 48u, raw.size());
  EXPECT_EQ(sfx::TempDir::Read(data), Bytes(raw.begin(), raw.begin() + 20000));
  // Checked with another key, the raw file's trailer does not verify: it stays.
  const std::string otherKey = dir.Path("other");
  ASSERT_EQ(0, RunSfxpack({"keygen", otherKey}).status);
  extract = RunSfxpack({"extract", "--key", otherKey + ".pub.pem", package, "--to", dir.Path("o"), "--decode"});
  EXPECT_EQ(1, extract.status) << extract.output;  // and the stub refuses the package
}

// The salt block, as a package author meets it: on by default and shown by list, left out only
// with --no-salt, which list shows and verify warns about (without changing its verdict).
TEST_F(SfxpackCommands, PackagesAreSaltedUnlessAskedNotToBe) {
  const std::string salted = dir.Path("salted.exe"), plain = dir.Path("plain.exe");
  RunResult pack = RunSfxpack(Pack(salted));
  ASSERT_EQ(0, pack.status) << pack.output;
  EXPECT_NE(std::string::npos, pack.output.find(", salted")) << pack.output;
  pack = RunSfxpack(Pack(plain).Add({"--no-salt"}));
  ASSERT_EQ(0, pack.status) << pack.output;
  EXPECT_NE(std::string::npos, pack.output.find("NOT salted")) << pack.output;

  RunResult list = RunSfxpack({"list", "--key", kPublicKey, salted});
  ASSERT_EQ(0, list.status) << list.output;
  const size_t stubEnd = Stub().size() + 48;
  EXPECT_NE(std::string::npos,
            list.output.find("salt: yes, 32 bytes at offset " + std::to_string(stubEnd + 16)))
      << list.output;
  list = RunSfxpack({"list", "--key", kPublicKey, plain});
  ASSERT_EQ(0, list.status) << list.output;
  EXPECT_NE(std::string::npos, list.output.find("salt: no")) << list.output;

  RunResult verify = RunSfxpack({"verify", "--key", kPublicKey, salted});
  EXPECT_EQ(0, verify.status) << verify.output;
  EXPECT_FALSE(verify.Has("without a salt")) << verify.output;
  verify = RunSfxpack({"verify", "--key", kPublicKey, plain});
  EXPECT_EQ(0, verify.status) << verify.output;
  EXPECT_NE(std::string::npos, verify.output.find("warning: " + plain + " is a package without a salt"))
      << verify.output;
  // A signed file that is not a package gets no warning: it has no place for a salt.
  std::string signedText = dir.Write("loose.txt", std::string("loose"));
  ASSERT_EQ(0, RunSfxpack({"sign", "--key", kPrivateKey, "--kind", "binary", signedText}).status);
  verify = RunSfxpack({"verify", "--key", kPublicKey, signedText});
  EXPECT_EQ(0, verify.status) << verify.output;
  EXPECT_FALSE(verify.Has("without a salt")) << verify.output;
}

TEST_F(SfxpackCommands, SaltRepeatsForTheSameKeyAndDiffersForAnother) {
  auto saltOf = [&](const test::PackArgs& args) {
    RunResult pack = RunSfxpack(args);
    EXPECT_EQ(0, pack.status) << pack.output;
    Bytes bytes = sfx::TempDir::Read(args.Get("-o"));
    const size_t at = Stub().size() + 48;
    if (bytes.size() < at + 48) return Bytes();
    EXPECT_EQ("sfxpack.salt.v1.", std::string(bytes.begin() + at, bytes.begin() + at + 16));
    return Bytes(bytes.begin() + at + 16, bytes.begin() + at + 48);
  };
  const Bytes first = saltOf(Pack(dir.Path("a.exe")));
  EXPECT_EQ(first, saltOf(Pack(dir.Path("b.exe"))));

  RunResult keygen = RunSfxpack({"keygen", dir.Path("other")});
  ASSERT_EQ(0, keygen.status) << keygen.output;
  EXPECT_NE(first, saltOf(Pack(dir.Path("c.exe")).Set("--key", dir.Path("other.pem"))
                              .Add({"--allow-other-key"})));

  // (Each input's part in the salt is checked in package_salt_test.cc.)
  dir.Write("readme.txt", std::string("read me!\r\n"));
  SetTime(text, 1577934245);
  EXPECT_NE(first, saltOf(Pack(dir.Path("d.exe"))));
}

TEST_F(SfxpackCommands, ChangedPackageIsNeitherListedNorExtracted) {
  std::string package = dir.Path("package.exe");
  ASSERT_EQ(0, RunSfxpack(Pack(package)).status);
  Bytes bytes = sfx::TempDir::Read(package);
  bytes[200] ^= 0x20;
  dir.Write("package.exe", bytes);
  RunResult list = RunSfxpack({"list", package});
  EXPECT_EQ(1, list.status);
  EXPECT_NE(std::string::npos, list.output.find("signature: BAD"));
  std::string to = dir.Path("to");
  RunResult extract = RunSfxpack({"extract", package, "--to", to});
  EXPECT_EQ(1, extract.status);
  // The number with its meaning, and the reader's reason: which check refused the package.
  EXPECT_NE(std::string::npos, extract.output.find("error 1006 (ERROR_FILE_INVALID"))
      << extract.output;
  EXPECT_NE(std::string::npos, extract.output.find("; the closing signature does not verify"))
      << extract.output;
  EXPECT_FALSE(std::filesystem::exists(to));
}

// The same inputs from two checkouts, whose files got the times of their checkouts, give the
// same bytes with SOURCE_DATE_EPOCH (each time clamped to it) or --mtime (every time set), and
// different bytes without either.
TEST_F(SfxpackCommands, SameInputsFromAnyCheckoutGiveTheSameBytes) {
  auto checkout = [&](const std::string& name, uint32_t time) {
    std::filesystem::create_directory(dir.Path(name));
    const std::string copyText = dir.Write(name + "/readme.txt", sfx::TempDir::Read(text));
    const std::string copyData = dir.Write(name + "/data.bin", sfx::TempDir::Read(data));
    SetTime(copyText, time);
    SetTime(copyData, time + 7);
    return test::PackArgs(stub, kPrivateKey, main, dir.Path(name + ".exe"), "/q")
        .File("readme.txt", copyText)
        .Raw("data.bin", copyData);
  };
  const test::PackArgs first = checkout("one", 1800000000), second = checkout("two", 1900000000);
  auto packed = [&](test::PackArgs args, const std::string& prefix, const std::string& suffix) {
    args.Set("-o", args.Get("-o") + suffix);
    const RunResult run = RunSfxpack(args, prefix);
    EXPECT_EQ(0, run.status) << run.output;
    return sfx::TempDir::Read(args.Get("-o"));
  };
  const std::string unset = "env -u SOURCE_DATE_EPOCH ", epoch = "SOURCE_DATE_EPOCH=1700000000 ";
  EXPECT_NE(packed(first, unset, ".plain"), packed(second, unset, ".plain"));
  EXPECT_EQ(packed(first, epoch, ".epoch"), packed(second, epoch, ".epoch"));
  RunResult list = RunSfxpack({"list", "--key", kPublicKey, dir.Path("one.exe.epoch")});
  EXPECT_TRUE(list.Has("2023-11-14T22:13:20Z  package")) << list.output;
  // A file older than SOURCE_DATE_EPOCH keeps its own time.
  packed(Pack(dir.Path("old.exe")), epoch, "");
  list = RunSfxpack({"list", "--key", kPublicKey, dir.Path("old.exe")});
  EXPECT_TRUE(list.Has("2020-01-02T03:04:05Z  package")) << list.output;

  // --mtime sets every time, and wins over SOURCE_DATE_EPOCH.
  const Bytes fixed = packed(test::PackArgs(first).Add({"--mtime", "2024-05-01T12:30:00Z"}), epoch, ".fixed");
  EXPECT_EQ(fixed, packed(test::PackArgs(second).Add({"--mtime", "@1714566600"}), unset, ".fixed"));
  list = RunSfxpack({"list", "--key", kPublicKey, dir.Path("two.exe.fixed")});
  EXPECT_TRUE(list.Has("2024-05-01T12:30:00Z  package")) << list.output;
  EXPECT_TRUE(list.Has("2024-05-01T12:30:00Z  raw")) << list.output;

  // What can't be read as a time is refused, not ignored.
  RunResult run = RunSfxpack(test::PackArgs(first).Set("-o", dir.Path("x.exe")), "SOURCE_DATE_EPOCH=yesterday ");
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(run.Has("SOURCE_DATE_EPOCH='yesterday'")) << run.output;
  run = RunSfxpack(test::PackArgs(first).Set("-o", dir.Path("x.exe")).Add({"--mtime", "2024-02-30"}));
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(run.Has("--mtime: '2024-02-30' is no time")) << run.output;
  EXPECT_FALSE(std::filesystem::exists(dir.Path("x.exe")));
}

// A generic stub gets the key's public half stamped into the package's copy (pack) or into a stub
// of its own (`sfxpack stub`), the same bytes either way; a stub with another key is refused.
TEST_F(SfxpackCommands, AGenericStubGetsTheKeyStampedIn) {
  Bytes stamped = Stub();
  ASSERT_TRUE(StampKey(&stamped, sfx::TestSignerKey().pub).ok());
  const std::string package = dir.Path("p.exe"), keyed = dir.Path("keyed.exe");
  RunResult run = RunSfxpack(Pack(package));
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(run.Has("is generic: the package carries it with the public half of --key")) << run.output;
  const Bytes bytes = sfx::TempDir::Read(package);
  EXPECT_EQ(stamped, Bytes(bytes.begin(), bytes.begin() + stamped.size()));
  // `sfxpack stub` with the public or the private key; the keyed stub packs the same package.
  for (const std::string& key : {kPublicKey, kPrivateKey}) {
    run = RunSfxpack({"stub", "--key", key, "--stub", stub, "-o", keyed, "--force"});
    ASSERT_EQ(0, run.status) << run.output;
    EXPECT_TRUE(run.Has("repository's TEST key")) << run.output;
    EXPECT_EQ(stamped, sfx::TempDir::Read(keyed));
  }
  ASSERT_EQ(0, RunSfxpack(Pack(dir.Path("again.exe")).Set("--stub", keyed)).status);
  EXPECT_EQ(bytes, sfx::TempDir::Read(dir.Path("again.exe")));
  const std::string other = dir.Path("other");
  ASSERT_EQ(0, RunSfxpack({"keygen", other}).status);
  const std::vector<std::vector<std::string>> refused = {
      {"stub", "--key", other + ".pub.pem", "--stub", keyed, "-o", dir.Path("x.exe")},
      {"stub", "--key", kPublicKey, "--stub", main, "-o", dir.Path("x.exe")},
      {"stub", "--key", kPublicKey, "--arch", "arm", "-o", dir.Path("x.exe")},
      {"stub", "--key", kPublicKey, "-o", dir.Path("x.exe")},  // a build tree ships none
      {"pack", "--key", kPrivateKey, "--main", main, "--cmdline", "/q", "-o", dir.Path("x.exe")},
  };
  for (const auto& args : refused) {
    run = RunSfxpack(args);
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_TRUE(run.Has("carries another key") || run.Has("no key slot") || run.Has("not 'arm'") ||
                run.Has("none shipped")) << run.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path("x.exe")));
}

// Without --key the checking commands check with the key the package's stub carries, as the
// stub does: named by its fingerprint and, for the test key, loudly. A generic stub's package is
// refused (exit 1); a file without a stub, or a stub without exactly one slot, needs --key.
TEST_F(SfxpackCommands, CheckingCommandsUseTheKeyTheStubCarries) {
  const std::string package = dir.Path("p.exe");
  ASSERT_EQ(0, RunSfxpack(Pack(package)).status);
  auto build = [&](const std::string& name, const Bytes& stubBytes) {
    PackageBuilder builder(sfx::test::TestTrailerSigner());
    builder.AddStub(stubBytes.data(), stubBytes.size());
    const Bytes program = sfx::TempDir::Read(main);
    ObjectRange range;
    builder.AddPackageFile(program.data(), program.size(), &range);
    EXPECT_TRUE(builder.Finish(MakeCatalog("extract", "/q", range, {})).ok());
    return dir.Write(name, builder.TakeBytes());
  };
  const std::string generic = build("generic.exe", Stub());
  const std::string twoSlots = build("two.exe", sfx::test::StandInStub(&sfx::TestSignerKey().pub, 0x800, 0, 2));
  const std::string loose = dir.Write("loose.bin", std::string("data"));
  ASSERT_EQ(0, RunSfxpack({"sign", "--kind", "binary", "--key", kPrivateKey, loose}).status);
  const std::string to = dir.Path("to");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string has;
  };
  const std::vector<Case> cases = {
      {{"verify", package}, 0, "(the key the package's stub carries, the repository's TEST key)"},
      {{"verify", package}, 0, "warning: the key checked with (the key the package's stub carries) is the repository's TEST key"},
      {{"list", "--json", package}, 0, "\"source\":\"stub\",\"path\":null,\"test_key\":true"},
      {{"extract", package, "--to", to}, 0, "setup.ovr"},
      {{"verify", generic}, 1, "stub is generic: its key slot is empty, so it refuses every package"},
      {{"list", "--json", generic}, 1, "\"key\":null,\"error\":\"" + generic + "'s stub is generic"},
      {{"extract", generic, "--to", dir.Path("g")}, 1, "stub is generic"},
      {{"verify", "--key", kPublicKey, generic}, 1, "the package's stub does not carry that key"},
      {{"verify", twoSlots}, 2, "marker occurs 2 times, so which key the stub reads is not known; give --key"},
      {{"verify", loose}, 2, "it does not start with a stub (no PE image); give --key"},
      {{"verify", "--key", kPublicKey, loose}, 0, "signature: valid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const RunResult run = RunSfxpack(c.args);
    EXPECT_EQ(c.status, run.status) << run.output;
    EXPECT_TRUE(run.Has(c.has)) << run.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path("g")));
}

}  // namespace
}  // namespace sfxpack
