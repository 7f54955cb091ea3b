#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/trailers.h"

#include <cryptopp/asn.h>
#include <cryptopp/integer.h>
#include <cryptopp/queue.h>
#include <gtest/gtest.h>

#include <cstring>

#include "sfxstub/signing/signature_trailer.h"
#include "sfxstub/signing/signature_verify.h"
#include "tests/common/temp_dir.h"
#include "tools/sfxpack/sfxpack_runner.h"

namespace sfxpack {
namespace {

// The exit status of a shell command line.
int ShellStatus(const std::string& command) { return test::RunShell(command).status; }


const std::string kTestPrivate = SFXSTUB_TEST_PRIVATE_KEY;

DsaPrivateKey LoadKey(const std::string& path) {
  DsaPrivateKey key;
  Status status;
  EXPECT_TRUE((status = LoadDsaPrivateKey(path, &key)).ok()) << status.reason();
  return key;
}

// r || s as the DER SEQUENCE of two INTEGERs OpenSSL uses, and back.
std::vector<uint8_t> ToDer(const uint8_t signature[40]) {
  CryptoPP::ByteQueue der;
  {
    CryptoPP::DERSequenceEncoder seq(der);
    CryptoPP::Integer(signature, 20).DEREncode(seq);
    CryptoPP::Integer(signature + 20, 20).DEREncode(seq);
    seq.MessageEnd();
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(der.MaxRetrievable()));
  der.Get(bytes.data(), bytes.size());
  return bytes;
}

void FromDer(const std::vector<uint8_t>& der, uint8_t signature[40]) {
  CryptoPP::ByteQueue queue;
  queue.Put(der.data(), der.size());
  CryptoPP::BERSequenceDecoder seq(queue);
  CryptoPP::Integer r, s;
  r.BERDecode(seq);
  s.BERDecode(seq);
  seq.MessageEnd();
  r.Encode(signature, 20);
  s.Encode(signature + 20, 20);
}

std::vector<uint8_t> Digest(const std::string& text) {
  std::vector<uint8_t> d(16);
  sfx::Md5Digest(d.data(), reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  return d;
}

// Our signature verifies with OpenSSL over the raw 16-byte digest; a changed one does not.
void ExpectOpenSslAccepts(const sfx::TempDir& dir, const std::string& privatePem, const DsaPrivateKey& key) {
  const std::vector<uint8_t> digest = Digest("cross-check " + privatePem);
  uint8_t signature[40];
  SignDigest(key, digest.data(), signature);
  dir.Write("digest.bin", digest);
  dir.Write("sig.der", ToDer(signature));
  ASSERT_EQ(0, ShellStatus("openssl pkey -in " + privatePem + " -pubout -out " + dir / "pub.pem"));
  const test::RunResult verified = test::RunShell("openssl pkeyutl -verify -pubin -inkey " + dir / "pub.pem" +
                                                  " -in " + dir / "digest.bin" + " -sigfile " + dir / "sig.der");
  EXPECT_EQ(0, verified.status) << verified.output;
  signature[39] ^= 1;
  dir.Write("sig.der", ToDer(signature));
  EXPECT_NE(0, ShellStatus("openssl pkeyutl -verify -pubin -inkey " + dir / "pub.pem" + " -in " + dir / "digest.bin" +
                     " -sigfile " + dir / "sig.der"));
}

TEST(DsaSignerTest, OpenSslVerifiesOurSignatures) {
  sfx::TempDir dir;
  ExpectOpenSslAccepts(dir, "'" + kTestPrivate + "'", LoadKey(kTestPrivate));
}

TEST(DsaSignerTest, WeVerifyOpenSslSignatures) {
  sfx::TempDir dir;
  const DsaPrivateKey key = LoadKey(kTestPrivate);
  for (const char* text : {"one", "two", "three"}) {
    const std::vector<uint8_t> digest = Digest(text);
    dir.Write("digest.bin", digest);
    ASSERT_EQ(0, ShellStatus("openssl pkeyutl -sign -inkey '" + kTestPrivate + "' -in " + dir / "digest.bin" +
                       " -out " + dir / "sig.der"));
    uint8_t signature[40];
    FromDer(sfx::TempDir::Read(dir / "sig.der"), signature);
    EXPECT_TRUE(sfx::VerifyDsaSignature(digest.data(), signature, 40, key.pub)) << text;
    EXPECT_FALSE(sfx::VerifyDsaSignature(Digest("other").data(), signature, 40, key.pub)) << text;
  }
}

TEST(DsaSignerTest, KeysMadeByOpenSslSignAndVerify) {
  sfx::TempDir dir;
  ASSERT_EQ(0, ShellStatus("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 "
                     "-pkeyopt dsa_paramgen_q_bits:160 -out " + dir / "params.pem"));
  ASSERT_EQ(0, ShellStatus("openssl genpkey -paramfile " + dir / "params.pem" + " -out " + dir / "key.pem"));
  const DsaPrivateKey key = LoadKey(dir / "key.pem");
  ExpectOpenSslAccepts(dir, dir / "key.pem", key);
  sfx::DsaPublicKey pub;
  Status status;
  ASSERT_TRUE((status = LoadDsaPublicKey(dir / "pub.pem", &pub)).ok()) << status.reason();
  EXPECT_EQ(0, std::memcmp(&pub, &key.pub, sizeof(pub)));
  const std::string data = "payload";
  const std::vector<uint8_t> trailer =
      MakeBinaryTrailer(key, reinterpret_cast<const uint8_t*>(data.data()), data.size());
  EXPECT_TRUE(sfx::VerifyDsaSignature(Digest(data).data(), trailer.data(), 40, pub));
}

TEST(DsaSignerTest, SignaturesAreDeterministic) {
  const DsaPrivateKey key = LoadKey(kTestPrivate);
  const std::vector<uint8_t> d1 = Digest("a"), d2 = Digest("b");
  uint8_t s1[40], s1again[40], s2[40];
  SignDigest(key, d1.data(), s1);
  SignDigest(key, d1.data(), s1again);
  SignDigest(key, d2.data(), s2);
  EXPECT_EQ(0, std::memcmp(s1, s1again, 40));
  EXPECT_NE(0, std::memcmp(s1, s2, 20));  // a different nonce, so a different r
  const std::vector<uint8_t> data(1000, 'x');
  EXPECT_EQ(MakeBinaryTrailer(key, data.data(), data.size()), MakeBinaryTrailer(key, data.data(), data.size()));
  EXPECT_EQ(MakeTextDsaTrailer(key, data.data(), data.size()), MakeTextDsaTrailer(key, data.data(), data.size()));
}

// The nonce derivation pinned: the repository's test key (not the configurable signer key of
// the tests) signing the MD5 digest of "sample" always gives these r and s. Any change to how
// the nonce or the signature is computed shows here, even one that still verifies. (The value
// was checked once against a separate implementation of RFC 6979 section 3.2: HMAC-SHA-256,
// x and the digest as 20-byte strings.)
TEST(DsaSignerTest, KnownAnswer) {
  const DsaPrivateKey key =
      LoadKey(std::string(SFXSTUB_SOURCE_DIR) + "/keys/test-signer/signer-private.pem");
  uint8_t signature[40];
  SignDigest(key, Digest("sample").data(), signature);
  std::string hex;
  for (uint8_t b : signature) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  EXPECT_EQ(
      "4203661e677a038574a79b9e0544e4df571a43b1"    // r
      "214e88e1abb416a388e465acaa7cbdaaffbe5d38",   // s
      hex);
}

// A signed object and its trailer must end below 4 GiB; longer ones are refused before a byte
// of them is read (the pointer here would not bear reading).
TEST(DsaSignerTest, ObjectsWhoseTrailerWouldCross4GiBAreRefused) {
  const DsaPrivateKey key = LoadKey(kTestPrivate);
  const uint8_t one = 0;
  EXPECT_TRUE(MakeBinaryTrailer(key, &one, size_t{0xFFFFFFFFu} - 47).empty());
  EXPECT_TRUE(MakeTextDsaTrailer(key, &one, size_t{0xFFFFFFFFu} - 95).empty());
  EXPECT_TRUE(MakeBinaryTrailer(key, &one, size_t{1} << 33).empty());
}

TEST(DsaSignerTest, TrailerLayouts) {
  const DsaPrivateKey key = LoadKey(kTestPrivate);
  const std::string text = "line\r\n\tnext\x80";
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  uint8_t digest[16];
  sfx::TextDigest(digest, data, static_cast<uint32_t>(text.size()));

  const std::vector<uint8_t> binary = MakeBinaryTrailer(key, data, text.size());
  ASSERT_EQ(48u, binary.size());
  EXPECT_EQ("OLMSignd", std::string(binary.end() - 8, binary.end()));

  const std::vector<uint8_t> textDsa = MakeTextDsaTrailer(key, data, text.size());
  ASSERT_EQ(96u, textDsa.size());
  const std::string t(textDsa.begin(), textDsa.end());
  EXPECT_EQ("OLMSignA", t.substr(0, 8));
  EXPECT_EQ("OLMSignA", t.substr(88));
  EXPECT_EQ(std::string::npos, t.substr(8, 80).find_first_not_of("0123456789ABCDEF"));
  uint8_t signature[40];
  sfx::DecodeHexBytes(signature, 40, t.c_str() + 8);
  EXPECT_TRUE(sfx::VerifyDsaSignature(digest, signature, 40, key.pub));  // over the filtered text

  const std::vector<uint8_t> md5 = MakeTextMd5Trailer(data, text.size());
  ASSERT_EQ(48u, md5.size());
  const std::string m(md5.begin(), md5.end());
  EXPECT_EQ("OLM_MD5a", m.substr(0, 8));
  EXPECT_EQ("OLM_MD5a", m.substr(40));
  uint8_t decoded[16];
  sfx::DecodeHexBytes(decoded, 16, m.c_str() + 8);
  EXPECT_EQ(0, std::memcmp(digest, decoded, 16));
}

}  // namespace
}  // namespace sfxpack
