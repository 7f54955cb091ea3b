#include "tools/sfxpack/dsa_key.h"

#include <cryptopp/asn.h>
#include <cryptopp/integer.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <gtest/gtest.h>

#include <cstring>

#include "tests/common/temp_dir.h"
#include "tools/sfxpack/sfxpack_runner.h"

namespace sfxpack {
namespace {

// The exit status of a shell command line.
int ShellStatus(const std::string& command) { return test::RunShell(command).status; }


const std::string kTestPrivate = SFXSTUB_TEST_PRIVATE_KEY;
const std::string kTestPublic = std::string(SFXSTUB_SOURCE_DIR) + "/keys/test-signer/signer-public.pem";

bool SamePublic(const sfx::DsaPublicKey& a, const sfx::DsaPublicKey& b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(DsaKeyTest, ReadsEveryFormOpenSslWrites) {
  sfx::DsaPublicKey expected;
  Status status;
  ASSERT_TRUE((status = LoadDsaPublicKey(kTestPublic, &expected)).ok()) << status.reason();
  DsaPrivateKey priv;
  ASSERT_TRUE((status = LoadDsaPrivateKey(kTestPrivate, &priv)).ok()) << status.reason();
  EXPECT_TRUE(SamePublic(expected, priv.pub));
  EXPECT_EQ(0x80, expected.p[0] & 0x80);  // full 1024 bits, big-endian
  EXPECT_EQ(0x80, expected.q[0] & 0x80);

  sfx::TempDir dir;
  const std::string in = "'" + kTestPrivate + "'";
  ASSERT_EQ(0, ShellStatus("openssl pkey -in " + in + " -outform DER -out " + dir / "p8.der"));
  ASSERT_EQ(0, ShellStatus("openssl pkey -in " + in + " -traditional -out " + dir / "trad.pem"));
  ASSERT_EQ(0, ShellStatus("openssl dsa -in " + in + " -outform DER -out " + dir / "trad.der"));
  ASSERT_EQ(0, ShellStatus("openssl dsa -in " + in + " -pubout -out " + dir / "dsa-pub.pem"));
  ASSERT_EQ(0, ShellStatus("openssl pkey -in " + in + " -pubout -outform DER -out " + dir / "pub.der"));
  for (const char* name : {"p8.der", "trad.pem", "trad.der"}) {
    SCOPED_TRACE(name);
    DsaPrivateKey k;
    ASSERT_TRUE((status = LoadDsaPrivateKey(dir / name, &k)).ok()) << status.reason();
    EXPECT_TRUE(SamePublic(expected, k.pub));
    EXPECT_EQ(0, std::memcmp(priv.x, k.x, 20));
  }
  for (const char* name : {"p8.der", "trad.pem", "trad.der", "dsa-pub.pem", "pub.der"}) {
    SCOPED_TRACE(name);
    sfx::DsaPublicKey k;
    ASSERT_TRUE((status = LoadDsaPublicKey(dir / name, &k)).ok()) << status.reason();
    EXPECT_TRUE(SamePublic(expected, k));
  }
}

TEST(DsaKeyTest, WrittenPemRoundTripsAndOpenSslReadsIt) {
  DsaPrivateKey key;
  Status status;
  ASSERT_TRUE((status = LoadDsaPrivateKey(kTestPrivate, &key)).ok()) << status.reason();
  sfx::TempDir dir;
  const std::string priv = PrivateKeyToPem(key), pub = PublicKeyToPem(key.pub);
  dir.Write("k.pem", std::vector<uint8_t>(priv.begin(), priv.end()));
  dir.Write("k.pub.pem", std::vector<uint8_t>(pub.begin(), pub.end()));
  DsaPrivateKey again;
  ASSERT_TRUE((status = LoadDsaPrivateKey(dir / "k.pem", &again)).ok()) << status.reason();
  EXPECT_EQ(0, std::memcmp(&key, &again, sizeof(key)));
  // OpenSSL derives the same public key from our private file as our public file holds.
  ASSERT_EQ(0, ShellStatus("openssl pkey -in " + dir / "k.pem" + " -pubout -out " + dir / "derived.pem"));
  EXPECT_EQ(sfx::TempDir::Read(dir / "k.pub.pem"), sfx::TempDir::Read(dir / "derived.pem"));
  EXPECT_EQ(0, ShellStatus("openssl pkey -pubin -in " + dir / "k.pub.pem" + " -noout"));
}

// A SubjectPublicKeyInfo with DSA numbers of the given sizes (not a valid key otherwise).
std::vector<uint8_t> OddSizedPublicKey(unsigned pBits, unsigned qBits) {
  CryptoPP::AutoSeededRandomPool rng;
  CryptoPP::Integer p(rng, pBits), q(rng, qBits), g(rng, 100), y(rng, 100);
  p.SetBit(pBits - 1);
  q.SetBit(qBits - 1);
  CryptoPP::ByteQueue der;
  {
    CryptoPP::DERSequenceEncoder spki(der);
    CryptoPP::DERSequenceEncoder alg(spki);
    (CryptoPP::OID(1) + 2 + 840 + 10040 + 4 + 1).DEREncode(alg);
    CryptoPP::DERSequenceEncoder params(alg);
    p.DEREncode(params);
    q.DEREncode(params);
    g.DEREncode(params);
    params.MessageEnd();
    alg.MessageEnd();
    CryptoPP::DERGeneralEncoder bits(spki, CryptoPP::BIT_STRING);
    bits.Put(0);
    y.DEREncode(bits);
    bits.MessageEnd();
    spki.MessageEnd();
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(der.MaxRetrievable()));
  der.Get(bytes.data(), bytes.size());
  return bytes;
}

TEST(DsaKeyTest, RefusesKeysTheStubCannotUse) {
  sfx::TempDir dir;
  ASSERT_EQ(0, ShellStatus("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out " + dir / "rsa.pem"));
  ASSERT_EQ(0, ShellStatus("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + dir / "ec.pem"));
  ASSERT_EQ(0, ShellStatus("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 "
                     "-pkeyopt dsa_paramgen_q_bits:224 -out " + dir / "p2048.pem"));
  ASSERT_EQ(0, ShellStatus("openssl genpkey -paramfile " + dir / "p2048.pem" + " -out " + dir / "dsa2048.pem"));
  ASSERT_EQ(0, ShellStatus("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 "
                     "-pkeyopt dsa_paramgen_q_bits:224 -out " + dir / "p224.pem"));
  ASSERT_EQ(0, ShellStatus("openssl genpkey -paramfile " + dir / "p224.pem" + " -out " + dir / "dsa224.pem"));
  ASSERT_EQ(0, ShellStatus("openssl pkey -in '" + kTestPrivate + "' -aes256 -passout pass:x -out " + dir / "enc.pem"));
  dir.Write("big-q.der", OddSizedPublicKey(1024, 224));
  dir.Write("big-p.der", OddSizedPublicKey(2048, 160));
  dir.Write("small-p.der", OddSizedPublicKey(512, 160));
  dir.Write("garbage", std::vector<uint8_t>{0x30, 0x82, 0x01, 0x00, 0x02, 0x01});
  std::string pem = "-----BEGIN PUBLIC KEY-----\nMIIB*ngGByqGSM44BAEwggES\n-----END PUBLIC KEY-----\n";
  dir.Write("bad-base64.pem", std::vector<uint8_t>(pem.begin(), pem.end()));
  dir.Write("text.txt", std::string("hi\n"));

  struct Case {
    const char* file;
    const char* message;
  };
  const Case cases[] = {
      {"rsa.pem", "not a DSA key"},        {"ec.pem", "not a DSA key"},
      {"dsa2048.pem", "2048-bit p"},       {"dsa224.pem", "224-bit q"},
      {"big-q.der", "224-bit q"},          {"big-p.der", "2048-bit p"},
      {"small-p.der", "512-bit p"},        {"enc.pem", "encrypted"},
      {"garbage", "not a valid DER"},      {"bad-base64.pem", "base64"},
      {"text.txt", "not a PEM or DER"},    {"missing.pem", "cannot read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Status status;
    sfx::DsaPublicKey pub;
    EXPECT_FALSE((status = LoadDsaPublicKey(dir / c.file, &pub)).ok());
    EXPECT_NE(std::string::npos, status.reason().find(c.message)) << status.reason();
    EXPECT_NE(std::string::npos, status.reason().find(dir / c.file)) << status.reason();  // names the file
    DsaPrivateKey priv;
    EXPECT_FALSE((status = LoadDsaPrivateKey(dir / c.file, &priv)).ok());
  }
  // A public key is not enough for signing.
  Status status;
  DsaPrivateKey priv;
  EXPECT_FALSE((status = LoadDsaPrivateKey(kTestPublic, &priv)).ok());
  EXPECT_NE(std::string::npos, status.reason().find("private key")) << status.reason();
}

TEST(DsaKeyTest, RefusesInconsistentNumbers) {
  DsaPrivateKey key;
  Status status;
  ASSERT_TRUE((status = LoadDsaPrivateKey(kTestPrivate, &key)).ok()) << status.reason();
  // Public key with y changed: no longer in the subgroup of order q.
  sfx::DsaPublicKey bad = key.pub;
  bad.y[127] ^= 1;
  std::string pem = PublicKeyToPem(bad);
  EXPECT_FALSE((status = ParseDsaPublicKey(std::vector<uint8_t>(pem.begin(), pem.end()), "k", &bad)).ok());
  EXPECT_NE(std::string::npos, status.reason().find("public value y")) << status.reason();
  // g changed.
  bad = key.pub;
  bad.g[127] ^= 1;
  pem = PublicKeyToPem(bad);
  EXPECT_FALSE((status = ParseDsaPublicKey(std::vector<uint8_t>(pem.begin(), pem.end()), "k", &bad)).ok());
  EXPECT_NE(std::string::npos, status.reason().find("domain parameters")) << status.reason();
}

}  // namespace
}  // namespace sfxpack
