#include "sfxstub/signing/signature_trailer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/io/memory_stream.h"
#include "tests/common/signing_samples.h"
#include "tests/common/temp_dir.h"

namespace sfx {
namespace {

using test::Bytes;
using test::Concat;
using test::ToBytes;

// The result of the whole search over a block in memory.
struct Found {
  bool ok = false;
  SignatureKind kind = SignatureKind::kTextMd5;
  uint32_t signedLength = 0xDEADBEEF;
  uint8_t signature[40];
};

Found Search(Bytes data) {
  Found f;
  std::memset(f.signature, 0xEE, sizeof(f.signature));
  MemoryStream stream;
  uint8_t dummy = 0;
  EXPECT_TRUE(stream.Attach(data.empty() ? &dummy : data.data(), static_cast<uint32_t>(data.size())));
  f.ok = FindSignatureTrailerInStream(&stream, f.signature, &f.kind, &f.signedLength);
  return f;
}

Bytes Pattern(size_t n, uint8_t seed = 3) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13);
  return b;
}

Bytes Signature(uint8_t first) {
  Bytes s(40);
  for (uint8_t i = 0; i < 40; ++i) s[i] = static_cast<uint8_t>(first + i * 5);
  return s;
}

Bytes BinaryTrailer(const Bytes& sig) { return Concat(sig, ToBytes("OLMSignd")); }

std::string Hex(const Bytes& b, bool lower) {
  std::string s;
  char two[3];
  for (uint8_t v : b) {
    std::snprintf(two, sizeof(two), lower ? "%02x" : "%02X", v);
    s += two;
  }
  return s;
}

Bytes TextDsaTrailer(const Bytes& sig, bool lower = false) {
  return ToBytes("OLMSignA" + Hex(sig, lower) + "OLMSignA");
}

Bytes TextMd5Trailer(const Bytes& digest) { return ToBytes("OLM_MD5a" + Hex(digest, false) + "OLM_MD5a"); }

TEST(BinaryTrailerTest, AtTheEndOfAPlainFile) {
  const Bytes sig = Signature(1);
  Found f = Search(Concat(Pattern(100), BinaryTrailer(sig)));
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(SignatureKind::kBinaryDsa, f.kind);
  EXPECT_EQ(100u, f.signedLength);
  EXPECT_EQ(0, std::memcmp(sig.data(), f.signature, 40));

  f = Search(BinaryTrailer(sig));  // a file that is only a trailer
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(0u, f.signedLength);

  const Bytes whole = BinaryTrailer(sig);
  const Bytes shortFile(whole.begin() + 1, whole.end());  // 47 bytes
  EXPECT_FALSE(Search(shortFile).ok);
}

TEST(BinaryTrailerTest, InFrontOfTheCertificateTableAfterZeroToSevenPaddingBytes) {
  for (uint32_t padding : {0u, 3u, 7u}) {
    SCOPED_TRACE(padding);
    uint32_t expected = 0;
    const Bytes pe = test::MakeSignedPe(0x230, padding, &expected);
    Found f = Search(pe);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(SignatureKind::kBinaryDsa, f.kind);
    EXPECT_EQ(expected, f.signedLength);
    EXPECT_EQ(0, std::memcmp(pe.data() + expected, f.signature, 40));
  }
  // An eighth zero byte is not skipped.
  uint32_t unused = 0;
  EXPECT_FALSE(Search(test::MakeSignedPe(0x230, 8, &unused)).ok);
}

TEST(BinaryTrailerTest, ThePeHeadersMustLeadToTheCertificateTable) {
  uint32_t length = 0;
  const Bytes good = test::MakeSignedPe(0x230, 3, &length);
  ASSERT_TRUE(Search(good).ok);

  Bytes swapped = good;  // "ZM" is taken as well
  std::swap(swapped[0], swapped[1]);
  EXPECT_TRUE(Search(swapped).ok);

  Bytes notMz = good;
  notMz[0] = 'X';
  EXPECT_FALSE(Search(notMz).ok);

  Bytes notPe = good;
  notPe[0x80 + 2] = 1;
  EXPECT_FALSE(Search(notPe).ok);

  Bytes smallOptionalHeader = good;
  smallOptionalHeader[0x80 + 20] = 95;
  smallOptionalHeader[0x80 + 21] = 0;
  EXPECT_FALSE(Search(smallOptionalHeader).ok);
  smallOptionalHeader[0x80 + 20] = 96;
  EXPECT_TRUE(Search(smallOptionalHeader).ok);

  Bytes fourDirectories = good;
  fourDirectories[0x80 + 116] = 4;
  EXPECT_FALSE(Search(fourDirectories).ok);
  fourDirectories[0x80 + 116] = 5;
  EXPECT_TRUE(Search(fourDirectories).ok);

  Bytes noTable = good;
  std::memset(&noTable[0x80 + 152], 0, 4);
  EXPECT_FALSE(Search(noTable).ok);
}

// A 64-bit image keeps its data directories 16 bytes further on: its certificate entry is
// found at PE header + 168, its directory count at + 132; a PE32 one at + 152 and + 116.
TEST(BinaryTrailerTest, PeAndPe32PlusHeadersEachLeadToTheirCertificateTable) {
  for (PeKind kind : {PeKind::kPe32, PeKind::kPe32Plus}) {
    const bool plus = kind == PeKind::kPe32Plus;
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    uint32_t length = 0;
    const Bytes good = test::MakeSignedPe(0x240, 5, &length, kind);
    const Found f = Search(good);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(length, f.signedLength);
    EXPECT_EQ(0, std::memcmp(good.data() + length, f.signature, 40));

    const uint32_t entry = 0x80 + (plus ? 168 : 152);
    const uint32_t count = 0x80 + (plus ? 132 : 116);
    Bytes noTable = good;
    std::memset(&noTable[entry], 0, 4);
    EXPECT_FALSE(Search(noTable).ok);

    Bytes fourDirectories = good;
    fourDirectories[count] = 4;
    EXPECT_FALSE(Search(fourDirectories).ok);

    // The other kind's entry is not consulted.
    Bytes otherEntry = good;
    std::memset(&otherEntry[0x80 + (plus ? 152 : 168)], 0, 4);
    EXPECT_TRUE(Search(otherEntry).ok);

    // An optional header too short for the kind's directories (a PE32+ one of 100 bytes would
    // do for PE32, but is not read as one).
    for (uint8_t size : {uint8_t{95}, uint8_t{100}, uint8_t{111}}) {
      Bytes small = good;
      small[0x80 + 20] = size;
      small[0x80 + 21] = 0;
      EXPECT_EQ(!plus && size >= 96, Search(small).ok) << int{size};
    }
  }
}

TEST(BinaryTrailerTest, OffsetsPointingPastTheEndFailWithoutWrappingAround) {
  uint32_t length = 0;
  const Bytes good = test::MakeSignedPe(0x230, 0, &length);
  // Header offsets near 4 GiB would wrap to small offsets if added in 32 bits.
  for (uint32_t h : {static_cast<uint32_t>(good.size()), 0x7FFFFFF0u, 0xFFFFFFFFu, 0xFFFFFF80u,
                     0xFFFFFFF0u - 152u + 0x10u}) {
    SCOPED_TRACE(h);
    Bytes bad = good;
    StoreU32(&bad[0x3C], h);
    EXPECT_FALSE(Search(bad).ok);
  }
  for (uint32_t x : {static_cast<uint32_t>(good.size()) + 100, 0xFFFFFFFFu, 47u, 1u}) {
    SCOPED_TRACE(x);
    Bytes bad = good;
    StoreU32(&bad[0x80 + 152], x);
    EXPECT_FALSE(Search(bad).ok);
  }
  // A file shorter than the headers it names.
  Bytes cut(good.begin(), good.begin() + 0x90);
  EXPECT_FALSE(Search(cut).ok);
}

TEST(BinaryTrailerTest, APeEndingInTheMagicIsAPlainFile) {
  uint32_t innerLength = 0;
  Bytes pe = test::MakeSignedPe(0x230, 0, &innerLength);
  const Bytes outer = Signature(9);
  pe = Concat(pe, BinaryTrailer(outer));
  const Found f = Search(pe);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(pe.size() - 48, f.signedLength);
  EXPECT_EQ(0, std::memcmp(outer.data(), f.signature, 40));
}

TEST(BinaryTrailerTest, APeWithoutCertificateTableFallsBackToTheTextFinders) {
  const Bytes sig = Signature(4);
  Bytes pe = Concat(test::MakePe(0x200, 0), Concat(TextDsaTrailer(sig), ToBytes("\r\n")));
  const Found f = Search(pe);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(SignatureKind::kTextDsa, f.kind);
  EXPECT_EQ(0x200u, f.signedLength);
}

TEST(TextTrailerTest, FoundWithUpToNinetyNineBytesAfterIt) {
  const Bytes sig = Signature(200);
  const Bytes text = ToBytes("line one\r\nline two\r\n");
  for (size_t after : {0u, 2u, 50u, 99u, 100u}) {
    SCOPED_TRACE(after);
    const Found f = Search(Concat(Concat(text, TextDsaTrailer(sig)), Bytes(after, '\n')));
    ASSERT_EQ(after <= 99, f.ok);
    if (!f.ok) continue;
    EXPECT_EQ(SignatureKind::kTextDsa, f.kind);
    EXPECT_EQ(text.size(), f.signedLength);
    EXPECT_EQ(0, std::memcmp(sig.data(), f.signature, 40));
  }
}

TEST(TextTrailerTest, UpperAndLowerCaseHexDecodeAlike) {
  const Bytes sig = Signature(0xA5);
  const Found upper = Search(TextDsaTrailer(sig, false));
  const Found lower = Search(TextDsaTrailer(sig, true));
  ASSERT_TRUE(upper.ok && lower.ok);
  EXPECT_EQ(0u, upper.signedLength);
  EXPECT_EQ(0, std::memcmp(upper.signature, lower.signature, 40));
  EXPECT_EQ(0, std::memcmp(sig.data(), lower.signature, 40));
}

TEST(TextTrailerTest, Md5TrailerFillsSixteenBytes) {
  const Bytes digest = Pattern(16, 0x41);
  const Found f = Search(Concat(ToBytes("abc"), Concat(TextMd5Trailer(digest), ToBytes("\n"))));
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(SignatureKind::kTextMd5, f.kind);
  EXPECT_EQ(3u, f.signedLength);
  EXPECT_EQ(0, std::memcmp(digest.data(), f.signature, 16));
  EXPECT_EQ(0xEE, f.signature[16]);  // the rest of the buffer is not touched
}

TEST(TextTrailerTest, TheOuterTrailerDecidesByFinderOrder) {
  const Bytes text = ToBytes("hello\n");
  const Bytes inner = Concat(text, TextDsaTrailer(Signature(1)));
  // A binary trailer after a text one: the binary finder comes first.
  Found f = Search(Concat(inner, BinaryTrailer(Signature(2))));
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(SignatureKind::kBinaryDsa, f.kind);
  EXPECT_EQ(inner.size(), f.signedLength);
  // An MD5 trailer after a text DSA one is among the ignored bytes after it.
  f = Search(Concat(inner, TextMd5Trailer(Pattern(16))));
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(SignatureKind::kTextDsa, f.kind);
  EXPECT_EQ(text.size(), f.signedLength);
}

TEST(TextTrailerTest, ClosingMagicWithoutOpeningFailsEvenOverAnOlderTrailer) {
  const Bytes older = Concat(ToBytes("x"), TextDsaTrailer(Signature(1)));
  EXPECT_TRUE(Search(older).ok);
  // A later closing magic without its opening one hides the older, valid trailer.
  EXPECT_FALSE(Search(Concat(older, ToBytes("..OLMSignA"))).ok);
  // Opening magic damaged.
  Bytes damaged = older;
  damaged[1] = 'X';
  EXPECT_FALSE(Search(damaged).ok);
  // Too little room before the closing magic.
  EXPECT_FALSE(Search(ToBytes("0123456789OLMSignA")).ok);
}

TEST(TrailerSearchTest, ShortAndEmptyFilesHaveNoTrailer) {
  for (size_t n : {0u, 1u, 7u, 8u}) {
    SCOPED_TRACE(n);
    Bytes b = ToBytes(std::string("OLMSignd").substr(0, n));
    EXPECT_FALSE(Search(b).ok);
  }
  const Found f = Search(Pattern(5000));
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(0xDEADBEEFu, f.signedLength);  // outputs untouched on failure
  EXPECT_EQ(0xEE, f.signature[0]);
}

TEST(TrailerSearchTest, FileApiFindsAndClosesAndRefusesMissingFiles) {
  const Bytes sig = Signature(7);
  TempFile file(Concat(Pattern(300), BinaryTrailer(sig)));
  uint8_t out[40];
  SignatureKind kind = SignatureKind::kTextMd5;
  uint32_t length = 0;
  ASSERT_TRUE(FindSignatureTrailer(file.path(), out, &kind, &length));
  EXPECT_EQ(SignatureKind::kBinaryDsa, kind);
  EXPECT_EQ(300u, length);
  EXPECT_EQ(0, std::memcmp(sig.data(), out, 40));
  EXPECT_TRUE(FindSignatureTrailer(file.path(), nullptr, nullptr, nullptr));  // all optional

  file.Rewrite(Concat(ToBytes("text"), TextDsaTrailer(sig)));
  ASSERT_TRUE(FindSignatureTrailer(file.path(), out, &kind, &length));
  EXPECT_EQ(SignatureKind::kTextDsa, kind);
  EXPECT_EQ(4u, length);

  EXPECT_FALSE(FindSignatureTrailer((std::string(file.path()) + ".missing").c_str(), out, &kind, &length));
}

TEST(TrailerHelpersTest, DecodeHexBytesAndMagicAt) {
  uint8_t out[4];
  DecodeHexBytes(out, 4, "0aFfA0z9");
  EXPECT_EQ(0x0A, out[0]);
  EXPECT_EQ(0xFF, out[1]);
  EXPECT_EQ(0xA0, out[2]);
  EXPECT_EQ(0x00, out[3]);  // not hexadecimal: converted as far as it reads, here nothing
  DecodeHexBytes(out, 1, "7g");
  EXPECT_EQ(0x07, out[0]);

  Bytes data = ToBytes("..OLMSignd");
  MemoryStream stream;
  ASSERT_TRUE(stream.Attach(data.data(), static_cast<uint32_t>(data.size())));
  EXPECT_TRUE(MagicAt(&stream, 2, "OLMSignd", 8));
  EXPECT_FALSE(MagicAt(&stream, 1, "OLMSignd", 8));
  EXPECT_FALSE(MagicAt(&stream, 3, "OLMSignd", 8));  // short read
  EXPECT_FALSE(MagicAt(&stream, 0xFFFFFFFCu, "OLMSignd", 8));
}

}  // namespace
}  // namespace sfx
