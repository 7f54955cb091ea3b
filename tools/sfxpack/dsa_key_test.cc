#include "tools/sfxpack/dsa_key.h"

#include <cryptopp/asn.h>
#include <cryptopp/integer.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <gtest/gtest.h>

#include <cstring>

#include "tests/common/temp_dir.h"
#include "tools/sfxpack/signing_test_support.h"

namespace sfxpack {
namespace {

using test::Shell;

const std::string kTestPrivate = SFXSTUB_TEST_PRIVATE_KEY;
const std::string kTestPublic = std::string(SFXSTUB_SOURCE_DIR) + "/keys/test-signer/signer-public.pem";

bool SamePublic(const sfx::DsaPublicKey& a, const sfx::DsaPublicKey& b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(DsaKeyTest, ReadsEveryFormOpenSslWrites) {
  sfx::DsaPublicKey expected;
  std::string error;
  ASSERT_TRUE(LoadDsaPublicKey(kTestPublic, &expected, &error)) << error;
  DsaPrivateKey priv;
  ASSERT_TRUE(LoadDsaPrivateKey(kTestPrivate, &priv, &error)) << error;
  EXPECT_TRUE(SamePublic(expected, priv.pub));
  EXPECT_EQ(0x80, expected.p[0] & 0x80);  // full 1024 bits, big-endian
  EXPECT_EQ(0x80, expected.q[0] & 0x80);

  sfx::TempDir dir;
  const std::string in = "'" + kTestPrivate + "'";
  ASSERT_EQ(0, Shell("openssl pkey -in " + in + " -outform DER -out " + dir / "p8.der"));
  ASSERT_EQ(0, Shell("openssl pkey -in " + in + " -traditional -out " + dir / "trad.pem"));
  ASSERT_EQ(0, Shell("openssl dsa -in " + in + " -outform DER -out " + dir / "trad.der"));
  ASSERT_EQ(0, Shell("openssl dsa -in " + in + " -pubout -out " + dir / "dsa-pub.pem"));
  ASSERT_EQ(0, Shell("openssl pkey -in " + in + " -pubout -outform DER -out " + dir / "pub.der"));
  for (const char* name : {"p8.der", "trad.pem", "trad.der"}) {
    SCOPED_TRACE(name);
    DsaPrivateKey k;
    ASSERT_TRUE(LoadDsaPrivateKey(dir / name, &k, &error)) << error;
    EXPECT_TRUE(SamePublic(expected, k.pub));
    EXPECT_EQ(0, std::memcmp(priv.x, k.x, 20));
  }
  for (const char* name : {"p8.der", "trad.pem", "trad.der", "dsa-pub.pem", "pub.der"}) {
    SCOPED_TRACE(name);
    sfx::DsaPublicKey k;
    ASSERT_TRUE(LoadDsaPublicKey(dir / name, &k, &error)) << error;
    EXPECT_TRUE(SamePublic(expected, k));
  }
}

TEST(DsaKeyTest, WrittenPemRoundTripsAndOpenSslReadsIt) {
  DsaPrivateKey key;
  std::string error;
  ASSERT_TRUE(LoadDsaPrivateKey(kTestPrivate, &key, &error)) << error;
  sfx::TempDir dir;
  const std::string priv = PrivateKeyToPem(key), pub = PublicKeyToPem(key.pub);
  test::WriteBytes(dir / "k.pem", std::vector<uint8_t>(priv.begin(), priv.end()));
  test::WriteBytes(dir / "k.pub.pem", std::vector<uint8_t>(pub.begin(), pub.end()));
  DsaPrivateKey again;
  ASSERT_TRUE(LoadDsaPrivateKey(dir / "k.pem", &again, &error)) << error;
  EXPECT_EQ(0, std::memcmp(&key, &again, sizeof(key)));
  // OpenSSL derives the same public key from our private file as our public file holds.
  ASSERT_EQ(0, Shell("openssl pkey -in " + dir / "k.pem" + " -pubout -out " + dir / "derived.pem"));
  EXPECT_EQ(test::ReadBytes(dir / "k.pub.pem"), test::ReadBytes(dir / "derived.pem"));
  EXPECT_EQ(0, Shell("openssl pkey -pubin -in " + dir / "k.pub.pem" + " -noout"));
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
  ASSERT_EQ(0, Shell("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out " + dir / "rsa.pem"));
  ASSERT_EQ(0, Shell("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + dir / "ec.pem"));
  ASSERT_EQ(0, Shell("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 "
                     "-pkeyopt dsa_paramgen_q_bits:224 -out " + dir / "p2048.pem"));
  ASSERT_EQ(0, Shell("openssl genpkey -paramfile " + dir / "p2048.pem" + " -out " + dir / "dsa2048.pem"));
  ASSERT_EQ(0, Shell("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 "
                     "-pkeyopt dsa_paramgen_q_bits:224 -out " + dir / "p224.pem"));
  ASSERT_EQ(0, Shell("openssl genpkey -paramfile " + dir / "p224.pem" + " -out " + dir / "dsa224.pem"));
  ASSERT_EQ(0, Shell("openssl pkey -in '" + kTestPrivate + "' -aes256 -passout pass:x -out " + dir / "enc.pem"));
  test::WriteBytes(dir / "big-q.der", OddSizedPublicKey(1024, 224));
  test::WriteBytes(dir / "big-p.der", OddSizedPublicKey(2048, 160));
  test::WriteBytes(dir / "small-p.der", OddSizedPublicKey(512, 160));
  test::WriteBytes(dir / "garbage", {0x30, 0x82, 0x01, 0x00, 0x02, 0x01});
  std::string pem = "-----BEGIN PUBLIC KEY-----\nMIIB*ngGByqGSM44BAEwggES\n-----END PUBLIC KEY-----\n";
  test::WriteBytes(dir / "bad-base64.pem", std::vector<uint8_t>(pem.begin(), pem.end()));
  test::WriteBytes(dir / "text.txt", {'h', 'i', '\n'});

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
    std::string error;
    sfx::DsaPublicKey pub;
    EXPECT_FALSE(LoadDsaPublicKey(dir / c.file, &pub, &error));
    EXPECT_NE(std::string::npos, error.find(c.message)) << error;
    EXPECT_NE(std::string::npos, error.find(dir / c.file)) << error;  // names the file
    DsaPrivateKey priv;
    EXPECT_FALSE(LoadDsaPrivateKey(dir / c.file, &priv, &error));
  }
  // A public key is not enough for signing.
  std::string error;
  DsaPrivateKey priv;
  EXPECT_FALSE(LoadDsaPrivateKey(kTestPublic, &priv, &error));
  EXPECT_NE(std::string::npos, error.find("private key")) << error;
}

TEST(DsaKeyTest, RefusesInconsistentNumbers) {
  DsaPrivateKey key;
  std::string error;
  ASSERT_TRUE(LoadDsaPrivateKey(kTestPrivate, &key, &error)) << error;
  // Public key with y changed: no longer in the subgroup of order q.
  sfx::DsaPublicKey bad = key.pub;
  bad.y[127] ^= 1;
  std::string pem = PublicKeyToPem(bad);
  EXPECT_FALSE(ParseDsaPublicKey(std::vector<uint8_t>(pem.begin(), pem.end()), "k", &bad, &error));
  EXPECT_NE(std::string::npos, error.find("public value y")) << error;
  // g changed.
  bad = key.pub;
  bad.g[127] ^= 1;
  pem = PublicKeyToPem(bad);
  EXPECT_FALSE(ParseDsaPublicKey(std::vector<uint8_t>(pem.begin(), pem.end()), "k", &bad, &error));
  EXPECT_NE(std::string::npos, error.find("domain parameters")) << error;
}

}  // namespace
}  // namespace sfxpack
