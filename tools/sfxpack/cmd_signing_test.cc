// sfxpack keygen, sign and verify, run as a user would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tools/sfxpack/signing_test_support.h"

namespace sfxpack {
namespace {

using test::FileExists;
using test::ReadBytes;
using test::ScratchDir;
using test::Shell;

const std::string kTestPrivate = std::string("'") + SFXSTUB_TEST_PRIVATE_KEY + "'";

int Sfxpack(const std::string& args, std::string* output = nullptr) {
  return Shell(std::string("'") + SFXPACK_EXE + "' " + args, output);
}

TEST(SfxpackSigningTest, KeygenWritesAPairOpenSslReadsAndKeepsExistingFiles) {
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(0, Sfxpack("keygen " + dir / "k", &out)) << out;
  EXPECT_EQ(0, Shell("openssl pkey -in " + dir / "k.pem" + " -noout"));
  std::string text;
  ASSERT_EQ(0, Shell("openssl pkey -pubin -in " + dir / "k.pub.pem" + " -noout -text", &text));
  EXPECT_NE(std::string::npos, text.find("1024 bit")) << text;
  struct stat st;
  ASSERT_EQ(0, ::stat((dir / "k.pem").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);  // the private key is its owner's alone

  const auto before = ReadBytes(dir / "k.pem");
  EXPECT_EQ(2, Sfxpack("keygen " + dir / "k", &out));
  EXPECT_NE(std::string::npos, out.find("sfxpack: ")) << out;
  EXPECT_EQ(before, ReadBytes(dir / "k.pem"));
  ASSERT_EQ(0, Sfxpack("keygen --force " + dir / "k", &out)) << out;
  EXPECT_NE(before, ReadBytes(dir / "k.pem"));

  // The pair belongs together.
  test::WriteBytes(dir / "f", {'d', 'a', 't', 'a'});
  ASSERT_EQ(0, Sfxpack("sign --key " + dir / "k.pem" + " --kind binary " + dir / "f", &out)) << out;
  EXPECT_EQ(0, Sfxpack("verify --key " + dir / "k.pub.pem " + dir / "f", &out)) << out;
  EXPECT_EQ(1, Sfxpack("verify " + dir / "f", &out)) << out;  // not the built-in key
  EXPECT_NE(std::string::npos, out.find("INVALID")) << out;
}

TEST(SfxpackSigningTest, SignAndVerifyEachKind) {
  ScratchDir dir;
  std::string out;
  test::WriteBytes(dir / "in.txt", {'a', '\r', '\n', 'b', '\n'});
  const auto original = ReadBytes(dir / "in.txt");
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
    ASSERT_EQ(0, Sfxpack("sign --key " + kTestPrivate + " --kind " + k.name + " " + dir / "in.txt" +
                         " -o " + signedPath, &out)) << out;
    EXPECT_EQ(original, ReadBytes(dir / "in.txt"));  // -o leaves the input alone
    EXPECT_EQ(original.size() + k.trailer, ReadBytes(signedPath).size());
    EXPECT_EQ(k.verdict, Sfxpack("verify " + signedPath, &out)) << out;
    EXPECT_NE(std::string::npos, out.find(k.shown)) << out;
    EXPECT_NE(std::string::npos, out.find("signed length 5")) << out;
    EXPECT_NE(std::string::npos, out.find(k.verdict == 0 ? "signature: valid" : "INVALID")) << out;
  }
  // Without -o the file itself is signed.
  ASSERT_EQ(0, Sfxpack("sign --key " + kTestPrivate + " --kind binary " + dir / "in.txt", &out)) << out;
  EXPECT_EQ(0, Sfxpack("verify " + dir / "in.txt", &out)) << out;
  // A changed byte is caught.
  auto tampered = ReadBytes(dir / "in.txt");
  tampered[0] = 'A';
  test::WriteBytes(dir / "in.txt", tampered);
  EXPECT_EQ(1, Sfxpack("verify " + dir / "in.txt", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("INVALID")) << out;
  // So is an unsigned file.
  test::WriteBytes(dir / "plain", std::vector<uint8_t>(200, 'p'));
  EXPECT_EQ(1, Sfxpack("verify " + dir / "plain", &out)) << out;
}

TEST(SfxpackSigningTest, BadInputIsRefusedAndNothingIsWritten) {
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(0, Shell("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out " + dir / "rsa.pem"));
  ASSERT_EQ(0, Shell("openssl pkey -in " + kTestPrivate + " -pubout -out " + dir / "pub.pem"));
  test::WriteBytes(dir / "in", {'x'});
  const std::string in = dir / "in", out1 = dir / "out";
  const char* bad[] = {
      "--kind binary ",                                  // no key
      "--key KEY --kind nonsense ",                      // unknown kind
      "--key KEY ",                                      // no kind
      "--key RSA --kind binary ",                        // not DSA
      "--key PUB --kind binary ",                        // public key cannot sign
      "--key MISSING --kind text ",                      // no such key
  };
  for (const char* b : bad) {
    std::string args = b;
    auto put = [&](const std::string& from, const std::string& to) {
      const size_t at = args.find(from);
      if (at != std::string::npos) args.replace(at, from.size(), to);
    };
    put("KEY", kTestPrivate);
    put("RSA", dir / "rsa.pem");
    put("PUB", dir / "pub.pem");
    put("MISSING", dir / "missing.pem");
    SCOPED_TRACE(args);
    EXPECT_EQ(2, Sfxpack("sign " + args + in + " -o " + out1, &out)) << out;
    EXPECT_EQ(0u, out.find("sfxpack: ")) << out;
    EXPECT_FALSE(FileExists(out1));
  }
  EXPECT_EQ(2, Sfxpack("sign --key " + kTestPrivate + " --kind binary " + dir / "nothere -o " + out1, &out));
  EXPECT_FALSE(FileExists(out1));
  EXPECT_EQ(2, Sfxpack("verify " + dir / "nothere", &out));
  EXPECT_NE(std::string::npos, out.find("sfxpack: ")) << out;
  EXPECT_EQ(2, Sfxpack("verify --key " + dir / "rsa.pem " + in, &out));
  EXPECT_NE(std::string::npos, out.find("not a DSA key")) << out;
  EXPECT_EQ(2, Sfxpack("keygen", &out));
  EXPECT_EQ(std::vector<uint8_t>{'x'}, ReadBytes(in));
}

}  // namespace
}  // namespace sfxpack
