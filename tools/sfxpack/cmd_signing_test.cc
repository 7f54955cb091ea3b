// sfxpack keygen, sign and verify, run as a user would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <filesystem>

#include "sfxstub/signing/signature_verify.h"
#include "tests/common/stand_in_stub.h"
#include "tests/common/temp_dir.h"
#include "tools/sfxpack/sfxpack_runner.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;
using sfx::TempDir;
using test::RunResult;
using test::RunSfxpack;
using test::RunShell;
using test::ShellQuote;

const std::string kTestPrivate = test::PrivateKeyPath();

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(SfxpackSigningTest, KeygenWritesAPairOpenSslReadsAndKeepsExistingFiles) {
  TempDir dir;
  RunResult run = RunSfxpack({"keygen", dir / "k"});
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_EQ(0, RunShell("openssl pkey -in " + ShellQuote(dir / "k.pem") + " -noout").status);
  run = RunShell("openssl pkey -pubin -in " + ShellQuote(dir / "k.pub.pem") + " -noout -text");
  ASSERT_EQ(0, run.status);
  EXPECT_TRUE(run.Has("1024 bit")) << run.output;
  struct stat st;
  ASSERT_EQ(0, ::stat((dir / "k.pem").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);  // the private key is its owner's alone

  const Bytes before = TempDir::Read(dir / "k.pem");
  run = RunSfxpack({"keygen", dir / "k"});
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(run.Has("sfxpack: ")) << run.output;
  EXPECT_EQ(before, TempDir::Read(dir / "k.pem"));
  run = RunSfxpack({"keygen", "--force", dir / "k"});
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_NE(before, TempDir::Read(dir / "k.pem"));

  // The pair belongs together.
  dir.Write("f", std::string("data"));
  run = RunSfxpack({"sign", "--key", dir / "k.pem", "--kind", "binary", dir / "f"});
  ASSERT_EQ(0, run.status) << run.output;
  run = RunSfxpack({"verify", "--key", dir / "k.pub.pem", dir / "f"});
  EXPECT_EQ(0, run.status) << run.output;
  run = RunSfxpack({"verify", "--key", test::PublicKeyPath(), dir / "f"});  // another key
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_TRUE(run.Has("INVALID")) << run.output;
}

TEST(SfxpackSigningTest, SignAndVerifyEachKind) {
  TempDir dir;
  const std::string in = dir.Write("in.txt", std::string("a\r\nb\n"));
  const Bytes original = TempDir::Read(in);
  struct Kind {
    const char* name;
    size_t trailer;
    int verdict;
    const char* shown;
  };
  for (const Kind& k : {Kind{"binary", 48, 0, "binary DSA"}, Kind{"text", 96, 0, "text DSA"},
                        Kind{"md5", 48, 1, "text MD5"}}) {
    SCOPED_TRACE(k.name);
    const std::string signedPath = dir / (std::string("out.") + k.name);
    RunResult run = RunSfxpack({"sign", "--key", kTestPrivate, "--kind", k.name, in, "-o", signedPath});
    ASSERT_EQ(0, run.status) << run.output;
    EXPECT_EQ(original, TempDir::Read(in));  // -o leaves the input alone
    EXPECT_EQ(original.size() + k.trailer, TempDir::Read(signedPath).size());
    run = RunSfxpack({"verify", "--key", test::PublicKeyPath(), signedPath});
    EXPECT_EQ(k.verdict, run.status) << run.output;
    EXPECT_TRUE(run.Has(k.shown)) << run.output;
    EXPECT_TRUE(run.Has("signed length 5")) << run.output;
    EXPECT_TRUE(run.Has(k.verdict == 0 ? "signature: valid" : "INVALID")) << run.output;
  }
  // Without -o the file itself is signed.
  RunResult run = RunSfxpack({"sign", "--key", kTestPrivate, "--kind", "binary", in});
  ASSERT_EQ(0, run.status) << run.output;
  run = RunSfxpack({"verify", "--key", test::PublicKeyPath(), in});
  EXPECT_EQ(0, run.status) << run.output;
  // A changed byte is caught.
  Bytes tampered = TempDir::Read(in);
  tampered[0] = 'A';
  dir.Write("in.txt", tampered);
  run = RunSfxpack({"verify", "--key", test::PublicKeyPath(), in});
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_TRUE(run.Has("INVALID")) << run.output;
  // So is an unsigned file.
  run = RunSfxpack({"verify", "--key", test::PublicKeyPath(), dir.Write("plain", Bytes(200, 'p'))});
  EXPECT_EQ(1, run.status) << run.output;
}

TEST(SfxpackSigningTest, BadInputIsRefusedAndNothingIsWritten) {
  TempDir dir;
  ASSERT_EQ(0, RunShell("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out " +
                        ShellQuote(dir / "rsa.pem")).status);
  ASSERT_EQ(0, RunShell("openssl pkey -in " + ShellQuote(kTestPrivate) + " -pubout -out " +
                        ShellQuote(dir / "pub.pem")).status);
  const std::string in = dir.Write("in", std::string("x")), out = dir / "out";
  const std::vector<std::vector<std::string>> bad = {
      {"--kind", "binary"},                           // no key
      {"--key", kTestPrivate, "--kind", "nonsense"},  // unknown kind
      {"--key", kTestPrivate},                        // no kind
      {"--key", dir / "rsa.pem", "--kind", "binary"}, // not DSA
      {"--key", dir / "pub.pem", "--kind", "binary"}, // public key cannot sign
      {"--key", dir / "missing.pem", "--kind", "text"},  // no such key
  };
  for (std::vector<std::string> args : bad) {
    args.insert(args.begin(), "sign");
    args.insert(args.end(), {in, "-o", out});
    SCOPED_TRACE(args[1] + " " + args[2]);
    const RunResult run = RunSfxpack(args);
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_EQ(0u, run.output.find("sfxpack: ")) << run.output;
    EXPECT_FALSE(Exists(out));
  }
  // A private key is never signed: appending a trailer would damage it (sign --key k k).
  const std::string key = dir.Write("key.pem", TempDir::Read(kTestPrivate));
  ASSERT_EQ(0, RunShell("openssl pkey -in " + ShellQuote(kTestPrivate) + " -outform DER -out " +
                        ShellQuote(dir / "key.der")).status);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--kind", "binary", "--key", key, key},
           {"--kind", "md5", key},
           {"--kind", "text", "--key", kTestPrivate, dir / "key.der"},
           {"--kind", "binary", "--key", dir / "rsa.pem", dir / "rsa.pem"}}) {
    std::vector<std::string> line = {"sign"};
    line.insert(line.end(), args.begin(), args.end());
    const Bytes before = TempDir::Read(line.back());
    const RunResult refused = RunSfxpack(line);
    SCOPED_TRACE(line.back());
    EXPECT_EQ(2, refused.status) << refused.output;
    if (line.back() != dir / "rsa.pem") {
      EXPECT_TRUE(refused.Has("is a private key: refusing to sign it")) << refused.output;
    }
    EXPECT_EQ(before, TempDir::Read(line.back()));
  }
  RunResult run = RunSfxpack({"sign", "--key", kTestPrivate, "--kind", "binary", dir / "nothere", "-o", out});
  EXPECT_EQ(2, run.status);
  EXPECT_FALSE(Exists(out));
  run = RunSfxpack({"verify", dir / "nothere"});
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(run.Has("sfxpack: ")) << run.output;
  run = RunSfxpack({"verify", "--key", dir / "rsa.pem", in});
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(run.Has("not a DSA key")) << run.output;
  EXPECT_EQ(2, RunSfxpack({"keygen"}).status);
  EXPECT_EQ(Bytes{'x'}, TempDir::Read(in));
}

// The fingerprint of a key file as OpenSSL computes it: SHA-256 of its DER public key.
std::string OpenSslFingerprint(const std::string& keyFile, const std::string& in = "-pubin") {
  RunResult run = RunShell("openssl pkey " + in + " -in " + ShellQuote(keyFile) +
                           " -pubout -outform DER | sha256sum");
  return run.output.substr(0, 64);
}

// Every key is shown by its fingerprint, which pins it; the test key is named whenever it is used.
TEST(SfxpackSigningTest, FingerprintsPinTheKeyAndTheTestKeyIsNamed) {
  TempDir dir;
  RunResult run = RunSfxpack({"keygen", dir / "k"});
  ASSERT_EQ(0, run.status) << run.output;
  const std::string mine = OpenSslFingerprint(dir / "k.pub.pem");
  const std::string test = OpenSslFingerprint(test::PublicKeyPath());
  EXPECT_TRUE(run.Has("fingerprint: " + mine + "\n")) << run.output;
  const std::string file = dir.Write("f", std::string("data"));
  ASSERT_EQ(0, RunSfxpack({"sign", "--kind", "binary", "--key", dir / "k.pem", file}).status);
  // A package whose (generic) stub pack stamps with the test key.
  const std::string stub = dir.Write("stub.exe", sfx::test::StandInStub(nullptr));
  const std::string main = dir.Write("main.exe", sfx::test::StandInStub(nullptr));
  const std::string package = dir / "p.exe";
  ASSERT_EQ(0, RunSfxpack(test::PackArgs(stub, kTestPrivate, main, package)).status);
  // The pin in the form of other tools: upper case, with colons.
  std::string pinned;
  for (size_t i = 0; i < mine.size(); i += 2) pinned += (i ? ":" : "") + mine.substr(i, 2);
  for (char& c : pinned) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string has;
  };
  const std::vector<Case> cases = {
      {{"verify", "--key", dir / "k.pub.pem", file}, 0, "key: " + mine + " (--key " + (dir / "k.pub.pem") + ")\n"},
      {{"verify", "--key", dir / "k.pem", "--expect-fingerprint", pinned, file}, 0, "key: " + mine},
      {{"verify", "--key", dir / "k.pub.pem", "--expect-fingerprint", test, file}, 2, "not the expected " + test},
      {{"verify", "--expect-fingerprint", mine, package}, 2,
       "the key checked with (the key the package's stub carries) has the fingerprint " + test},
      {{"verify", "--key", dir / "k.pub.pem", "--expect-fingerprint", mine.substr(1), file}, 2, "64 hexadecimal digits"},
      {{"verify", package}, 0, "warning: the key checked with (the key the package's stub carries) is the repository's TEST key"},
      {{"verify", "--expect-fingerprint", test, package}, 0, "key: " + test + " (the key the package's stub carries, "},
      {{"verify", "--key", test::PublicKeyPath(), file}, 1, "key: " + test + " (--key " + test::PublicKeyPath() +
                                                              ", the repository's TEST key)"},
      {{"sign", "--kind", "binary", "--key", kTestPrivate, file, "-o", dir / "t"}, 0, "warning: --key is the repository's TEST key"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " " + a;
    SCOPED_TRACE(line);
    run = RunSfxpack(c.args);
    EXPECT_EQ(c.status, run.status) << run.output;
    EXPECT_TRUE(run.Has(c.has)) << run.output;
  }
  run = RunSfxpack({"verify", "--key", dir / "k.pub.pem", file});
  EXPECT_FALSE(run.Has("TEST")) << run.output;
}

// KNOWN LIMIT of loose-file signing, kept here on purpose (docs/SECURITY.md, "The signature,
// MD5 and the salt"). A signature is DSA over MD5, so it carries over to any other file with the
// same MD5. The two 128-byte messages below are the collision Wang and Yu published in 2004:
// different bytes, the same MD5 from the standard initial state. Whoever hands one of them to
// the key holder for `sfxpack sign` can put the other under the signature afterwards. Packages
// made by `sfxpack pack` put a secret salt in front of every supplied byte, which such a prepared
// pair cannot survive; a file signed on its own has nothing in front of it.
TEST(SfxpackSigningKnownLimit, LooseFileSignatureHoldsForTheMd5CollisionTwin) {
  auto hex = [](const char* text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    }
    return bytes;
  };
  const std::vector<uint8_t> harmless = hex(
      "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f89"
      "55ad340609f4b30283e488832571415a085125e8f7cdc99fd91dbdf280373c5b"
      "d8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0"
      "e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70");
  const std::vector<uint8_t> twin = hex(
      "d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f89"
      "55ad340609f4b30283e4888325f1415a085125e8f7cdc99fd91dbd7280373c5b"
      "d8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0"
      "e99f33420f577ee8ce54b67080280d1ec69821bcb6a8839396f965ab6ff72a70");
  ASSERT_EQ(128u, harmless.size());
  ASSERT_EQ(128u, twin.size());
  ASSERT_NE(harmless, twin);
  uint8_t a[16], b[16];
  sfx::Md5Digest(a, harmless.data(), 128);
  sfx::Md5Digest(b, twin.data(), 128);
  ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "not an MD5 collision";

  TempDir dir;
  for (const char* name : {"harmless", "twin"}) {
    dir.Write(name, std::string(name) == "twin" ? twin : harmless);
    const RunResult run = RunSfxpack({"sign", "--key", kTestPrivate, "--kind", "binary", dir / name});
    ASSERT_EQ(0, run.status) << run.output;
  }
  const std::vector<uint8_t> signedHarmless = TempDir::Read(dir / "harmless");
  const std::vector<uint8_t> signedTwin = TempDir::Read(dir / "twin");
  ASSERT_EQ(128u + 48u, signedHarmless.size());
  // The signer derives its nonce from the digest, so the two signatures are even the same bytes.
  EXPECT_EQ(std::vector<uint8_t>(signedHarmless.begin() + 128, signedHarmless.end()),
            std::vector<uint8_t>(signedTwin.begin() + 128, signedTwin.end()));

  // The twin under the harmless file's signature verifies: the limit, as it stands.
  std::vector<uint8_t> forged = twin;
  forged.insert(forged.end(), signedHarmless.begin() + 128, signedHarmless.end());
  const RunResult run = RunSfxpack({"verify", "--key", test::PublicKeyPath(), dir.Write("forged", forged)});
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(run.Has("signature: valid")) << run.output;
}

}  // namespace
}  // namespace sfxpack
