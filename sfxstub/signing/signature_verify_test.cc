#include "sfxstub/signing/signature_verify.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sfxstub/signing/signature_trailer.h"
#include "tests/common/signing_samples.h"
#include "tests/common/test_signer.h"
#include "tests/common/temp_dir.h"
#include "tools/sfxpack/trailers.h"

namespace sfx {
namespace {

using test::Bytes;
using test::Concat;
using test::ToBytes;

std::string HexOf(const uint8_t* d, size_t n) {
  std::string s;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof(two), "%02x", d[i]);
    s += two;
  }
  return s;
}

Bytes Sample(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
  return b;
}

Bytes BinarySigned(const Bytes& data) {
  return Concat(data, test::TestBinaryTrailer(data.data(), data.size()));
}

Bytes TextSigned(const Bytes& data) {
  return Concat(data, test::TestTextDsaTrailer(data.data(), data.size()));
}

// The 40-byte big-endian number q + delta (delta small), or q - delta.
Bytes QPlus(int delta) {
  Bytes s(test::TestSignerPublicKey().q, test::TestSignerPublicKey().q + 20);
  int carry = delta;
  for (int i = 19; i >= 0 && carry != 0; --i) {
    int v = s[i] + carry;
    carry = v < 0 ? -1 : (v > 255 ? 1 : 0);
    s[i] = static_cast<uint8_t>(v);
  }
  return s;
}

TEST(DigestTest, Md5AndTextDigest) {
  uint8_t d[16];
  Md5Digest(d, nullptr, 0);
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", HexOf(d, 16));
  Md5Digest(d, reinterpret_cast<const uint8_t*>("abc"), 3);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", HexOf(d, 16));

  // Only 0x20..0x7F count: line breaks, tabs, other controls and high bytes do not.
  const Bytes noisy = ToBytes("\r\na\tb\x80\xff" "c\x1f\n");
  ASSERT_TRUE(TextDigest(d, noisy.data(), static_cast<uint32_t>(noisy.size())));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", HexOf(d, 16));
  const Bytes edges = ToBytes(" \x7f");
  uint8_t expected[16];
  Md5Digest(expected, edges.data(), 2);
  ASSERT_TRUE(TextDigest(d, edges.data(), 2));
  EXPECT_EQ(HexOf(expected, 16), HexOf(d, 16));

  // Filtering works across the pieces it hashes in: same digest as filtering all at once.
  Bytes big = Sample(10000), kept;
  for (uint8_t b : big) {
    if (b >= 0x20 && b <= 0x7F) kept.push_back(b);
  }
  Md5Digest(expected, kept.data(), static_cast<uint32_t>(kept.size()));
  ASSERT_TRUE(TextDigest(d, big.data(), static_cast<uint32_t>(big.size())));
  EXPECT_EQ(HexOf(expected, 16), HexOf(d, 16));
}

TEST(VerifyDsaSignatureTest, AcceptsTheSignerAndRefusesAnyChangedByte) {
  uint8_t digest[16];
  Md5Digest(digest, reinterpret_cast<const uint8_t*>("package"), 7);
  uint8_t sig[40];
  test::SignWithTestSigner(digest, sig);
  ASSERT_TRUE(VerifyDsaSignature(digest, sig, 40, test::TestSignerPublicKey()));
  // The built-in key is the public half of the test signer's key.
  EXPECT_TRUE(VerifyDsaSignature(digest, sig, 40));

  for (int i = 0; i < 40; ++i) {
    uint8_t changed[40];
    std::memcpy(changed, sig, 40);
    changed[i] ^= 0x01;
    EXPECT_FALSE(VerifyDsaSignature(digest, changed, 40, test::TestSignerPublicKey())) << "byte " << i;
  }
  for (int i = 0; i < 16; ++i) {
    uint8_t other[16];
    std::memcpy(other, digest, 16);
    other[i] ^= 0x80;
    EXPECT_FALSE(VerifyDsaSignature(other, sig, 40, test::TestSignerPublicKey())) << "digest byte " << i;
  }
  EXPECT_FALSE(VerifyDsaSignature(digest, sig, 39, test::TestSignerPublicKey()));
  EXPECT_FALSE(VerifyDsaSignature(digest, sig, 41, test::TestSignerPublicKey()));
  EXPECT_FALSE(VerifyDsaSignature(digest, sig, 0, test::TestSignerPublicKey()));
}

TEST(VerifyDsaSignatureTest, RefusesROrSOutOfRange) {
  uint8_t digest[16];
  Md5Digest(digest, nullptr, 0);
  uint8_t good[40];
  test::SignWithTestSigner(digest, good);
  const Bytes zero(20, 0);
  for (const Bytes& bad : {zero, QPlus(0), QPlus(1), Bytes(20, 0xFF)}) {
    uint8_t sig[40];
    std::memcpy(sig, good, 40);
    std::memcpy(sig, bad.data(), 20);  // r
    EXPECT_FALSE(VerifyDsaSignature(digest, sig, 40, test::TestSignerPublicKey()));
    std::memcpy(sig, good, 40);
    std::memcpy(sig + 20, bad.data(), 20);  // s
    EXPECT_FALSE(VerifyDsaSignature(digest, sig, 40, test::TestSignerPublicKey()));
  }
}

TEST(VerifyDsaSignatureTest, MalformedKeysAnswerNoWithoutThrowing) {
  uint8_t digest[16] = {1};
  uint8_t sig[40];
  test::SignWithTestSigner(digest, sig);
  DsaPublicKey evenP = test::TestSignerPublicKey();
  evenP.p[127] &= 0xFE;
  EXPECT_FALSE(VerifyDsaSignature(digest, sig, 40, evenP));
  DsaPublicKey zeroQ = test::TestSignerPublicKey();
  std::memset(zeroQ.q, 0, 20);
  EXPECT_FALSE(VerifyDsaSignature(digest, sig, 40, zeroQ));
  // A q that is not prime (here q = 2^159 * 2 - 2, even): s may have no inverse. r = 1 with a
  // non-invertible s must not pass as v = 1.
  DsaPublicKey compositeQ = test::TestSignerPublicKey();
  std::memset(compositeQ.q, 0xFF, 20);
  compositeQ.q[19] = 0xFE;
  uint8_t one[40] = {};
  one[19] = 1;
  one[39] = 2;  // gcd(2, q) = 2
  EXPECT_FALSE(VerifyDsaSignature(digest, one, 40, compositeQ));
  DsaPublicKey otherY = test::TestSignerPublicKey();
  otherY.y[100] ^= 4;
  EXPECT_FALSE(VerifyDsaSignature(digest, sig, 40, otherY));
}

TEST(VerifySignedFileTest, BinaryKindCoversEveryByteBeforeTheTrailer) {
  const Bytes data = Sample(64);
  const Bytes signedFile = BinarySigned(data);
  TempFile file(signedFile);
  ASSERT_TRUE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));
  EXPECT_TRUE(VerifySignedFile(file.path()));  // built-in key
  for (size_t i = 0; i < signedFile.size() - 8; ++i) {  // data, r and s
    Bytes changed = signedFile;
    changed[i] ^= 0x20;
    file.Rewrite(changed);
    EXPECT_FALSE(VerifySignedFile(file.path(), test::TestSignerPublicKey())) << "byte " << i;
  }
}

TEST(VerifySignedFileTest, SignedLengthZeroAndLargeFiles) {
  TempFile onlyTrailer(BinarySigned(Bytes()));
  EXPECT_TRUE(VerifySignedFile(onlyTrailer.path(), test::TestSignerPublicKey()));
  TempFile onlyTextTrailer(TextSigned(Bytes()));
  EXPECT_TRUE(VerifySignedFile(onlyTextTrailer.path(), test::TestSignerPublicKey()));
  // Larger than one hashing piece, both kinds.
  const Bytes big = Sample(200 * 1024 + 17);
  TempFile binary(BinarySigned(big));
  EXPECT_TRUE(VerifySignedFile(binary.path(), test::TestSignerPublicKey()));
  TempFile text(TextSigned(big));
  EXPECT_TRUE(VerifySignedFile(text.path(), test::TestSignerPublicKey()));
}

// The covered bytes are hashed piece by piece: lengths at the piece size and one byte either
// side must verify, and a change on either side of a piece boundary must still be seen.
TEST(VerifySignedFileTest, SignedLengthsAroundTheHashChunk) {
  const size_t c = kHashChunkSize;
  for (size_t length : {c - 1, c, c + 1, 2 * c}) {
    SCOPED_TRACE(length);
    const Bytes signedFile = BinarySigned(Sample(length));
    TempFile file(signedFile);
    EXPECT_TRUE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));
    for (size_t at : {c - 1, c, length - 1}) {
      if (at >= length) continue;
      Bytes changed = signedFile;
      changed[at] ^= 1;
      file.Rewrite(changed);
      EXPECT_FALSE(VerifySignedFile(file.path(), test::TestSignerPublicKey())) << "byte " << at;
    }
  }
}

// For the text kind each piece is filtered on its own: printable bytes on both sides of a piece
// boundary, and line breaks or high bytes that move them across it, give the same digest.
TEST(VerifySignedFileTest, TextKindFilteredBytesStraddlePieces) {
  const size_t c = kHashChunkSize;
  Bytes lines;
  while (lines.size() < c + 40) {
    const std::string line = "Key" + std::to_string(lines.size()) + "=Value\r\n";
    lines.insert(lines.end(), line.begin(), line.end());
  }
  const Bytes trailer = test::TestTextDsaTrailer(lines.data(), lines.size());
  TempFile file(Concat(lines, trailer));
  ASSERT_TRUE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));

  // Filler that the filter drops, put just before the boundary, shifts the printable bytes
  // across it; the verdict stays.
  for (size_t filler : {size_t{1}, size_t{7}, size_t{4096}}) {
    Bytes shifted = lines;
    shifted.insert(shifted.begin() + (c - 3), filler, 0x0A);
    shifted.insert(shifted.begin() + (c - 3), 0xC3);
    file.Rewrite(Concat(shifted, trailer));
    EXPECT_TRUE(VerifySignedFile(file.path(), test::TestSignerPublicKey())) << filler;
  }
  // A printable change right at the boundary, on either side, is seen.
  for (size_t at : {c - 1, c}) {
    Bytes changed = lines;
    if (changed[at] < 0x20) continue;
    changed[at] = changed[at] == 'A' ? 'B' : 'A';
    file.Rewrite(Concat(changed, trailer));
    EXPECT_FALSE(VerifySignedFile(file.path(), test::TestSignerPublicKey())) << "byte " << at;
  }
}

TEST(VerifySignedFileTest, BytesAfterTheTrailerDoNotCount) {
  for (uint32_t padding : {0u, 5u, 7u}) {
    uint32_t length = 0;
    TempFile pe(test::MakeSignedPe(0x240, padding, &length));
    EXPECT_TRUE(VerifySignedFile(pe.path(), test::TestSignerPublicKey())) << padding;
  }
  const Bytes text = TextSigned(ToBytes("setup.ini line\r\n"));
  TempFile tail99(Concat(text, Bytes(99, 'z')));
  EXPECT_TRUE(VerifySignedFile(tail99.path(), test::TestSignerPublicKey()));
  TempFile tail100(Concat(text, Bytes(100, 'z')));
  EXPECT_FALSE(VerifySignedFile(tail100.path(), test::TestSignerPublicKey()));  // no trailer found
}

TEST(VerifySignedFileTest, TextKindIgnoresLineBreaksTabsAndHighBytesOnly) {
  const Bytes lines = ToBytes("[Setup]\r\nName=Example\r\nPath=C:\\Program Files\r\n");
  const Bytes trailer = test::TestTextDsaTrailer(lines.data(), lines.size());
  TempFile file(Concat(lines, trailer));
  ASSERT_TRUE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));

  // Removing or adding CR, LF, tab, other controls or high bytes keeps the verdict.
  Bytes unix = ToBytes("[Setup]\nName=Example\nPath=C:\\Program Files\n");
  file.Rewrite(Concat(unix, trailer));
  EXPECT_TRUE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));
  Bytes noisy = ToBytes("\xef\xbb\xbf[Setup]\t\r\nName=Example\x01\r\nPath=C:\\Program Files\xa0\r\n\r\n");
  file.Rewrite(Concat(noisy, trailer));
  EXPECT_TRUE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));

  // Any printable change does not.
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] < 0x20) continue;
    Bytes changed = lines;
    changed[i] = changed[i] == 'A' ? 'B' : 'A';
    file.Rewrite(Concat(changed, trailer));
    EXPECT_FALSE(VerifySignedFile(file.path(), test::TestSignerPublicKey())) << "byte " << i;
  }
  Bytes spaced = lines;
  spaced.insert(spaced.begin() + 3, ' ');
  file.Rewrite(Concat(spaced, trailer));
  EXPECT_FALSE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));
}

TEST(VerifySignedFileTest, RefusesMd5TrailersMissingFilesAndUnsignedFiles) {
  const Bytes data = ToBytes("readme text\n");
  const Bytes md5 = Concat(data, sfxpack::MakeTextMd5Trailer(data.data(), data.size()));
  TempFile file(md5);
  SignatureKind kind;
  ASSERT_TRUE(FindSignatureTrailer(file.path(), nullptr, &kind, nullptr));
  EXPECT_EQ(SignatureKind::kTextMd5, kind);
  EXPECT_FALSE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));

  // A text DSA trailer whose hex payload is not hexadecimal is found but does not verify.
  Bytes badHex = TextSigned(data);
  badHex[data.size() + 8] = 'x';
  file.Rewrite(badHex);
  EXPECT_FALSE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));

  file.Rewrite(Sample(500));
  EXPECT_FALSE(VerifySignedFile(file.path(), test::TestSignerPublicKey()));
  EXPECT_FALSE(VerifySignedFile((std::string(file.path()) + ".missing").c_str(), test::TestSignerPublicKey()));
}

}  // namespace
}  // namespace sfx
