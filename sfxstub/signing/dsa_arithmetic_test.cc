// The stub's own MD5 and DSA arithmetic against Crypto++ (which sfxpack signs with): known MD5
// vectors, pieces of every size, and random operands of the sizes the check uses and odd ones.
#include "sfxstub/signing/dsa_arithmetic.h"

#include <gtest/gtest.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/integer.h>
#include <cryptopp/md5.h>
#include <cryptopp/modarith.h>

#include <random>
#include <string>
#include <vector>

#include "sfxstub/signing/md5.h"
#include "sfxstub/signing/signing_test_util.h"
#include "tests/common/test_signer.h"

namespace sfx {
namespace {

using CryptoPP::Integer;
using Bytes = std::vector<uint8_t>;

std::string Hex(const uint8_t* d, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[d[i] >> 4];
    s += kDigits[d[i] & 15];
  }
  return s;
}

std::string Md5Hex(const std::string& text) {
  Md5 md5;
  md5.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  uint8_t d[16];
  md5.Final(d);
  return Hex(d, 16);
}

TEST(Md5Test, KnownVectors) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Md5Hex(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Md5Hex("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5Hex("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Md5Hex("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Md5Hex("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
}

// Lengths around the 64-byte block and the 56-byte padding limit, fed in pieces of every size:
// the digest is that of Crypto++ over the whole.
TEST(Md5Test, PiecesOfAnySizeGiveTheWholeDigest) {
  std::mt19937 random(7);
  for (size_t length : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 4099}) {
    Bytes data(length);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    uint8_t expected[16];
    CryptoPP::Weak::MD5 reference;
    reference.Update(data.data(), data.size());
    reference.Final(expected);
    for (size_t piece : {1, 3, 55, 64, 65, 1000}) {
      Md5 md5;
      for (size_t at = 0; at < length; at += piece) {
        md5.Update(data.data() + at, std::min(piece, length - at));
      }
      uint8_t got[16];
      md5.Final(got);
      EXPECT_EQ(Hex(expected, 16), Hex(got, 16)) << length << " in pieces of " << piece;
    }
  }
  // Final starts afresh.
  Md5 md5;
  uint8_t first[16], second[16];
  md5.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
  md5.Final(first);
  md5.Final(second);
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(second, 16));
}

Bytes RandomBytes(std::mt19937& random, size_t n) {
  Bytes b(n);
  for (uint8_t& x : b) x = static_cast<uint8_t>(random());
  return b;
}

dsa::Number N(const Bytes& b) {
  dsa::Number x;
  EXPECT_TRUE(dsa::FromBigEndian(b.data(), b.size(), &x));
  return x;
}

Integer I(const Bytes& b) { return Integer(b.data(), b.size(), Integer::UNSIGNED); }

std::string Str(const dsa::Number& x) {
  uint8_t bytes[4 * dsa::kMaxLimbs];
  for (size_t i = 0; i < sizeof(bytes); ++i) {
    const size_t fromEnd = sizeof(bytes) - 1 - i;
    bytes[i] = static_cast<uint8_t>(x.limb[fromEnd / 4] >> (8 * (fromEnd % 4)));
  }
  return Hex(bytes, sizeof(bytes));
}

std::string Str(const Integer& x) {
  uint8_t bytes[4 * dsa::kMaxLimbs];
  x.Encode(bytes, sizeof(bytes));
  return Hex(bytes, sizeof(bytes));
}

TEST(DsaArithmeticTest, MultiplyAndRemainderAgreeWithCryptopp) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    const size_t la = 1 + random() % 128, lb = 1 + random() % 128, lm = 1 + random() % 128;
    Bytes a = RandomBytes(random, la), b = RandomBytes(random, lb), m = RandomBytes(random, lm);
    if (round % 7 == 0) a.assign(la, 0xFF);  // all ones: the longest carries
    m.back() |= round % 2 ? 1 : 0;
    dsa::Number product, rest;
    ASSERT_TRUE(dsa::Multiply(N(a), N(b), &product));
    EXPECT_EQ(Str(I(a) * I(b)), Str(product));
    if (I(m).IsZero()) continue;
    ASSERT_TRUE(dsa::Remainder(product, N(m), &rest));
    EXPECT_EQ(Str((I(a) * I(b)) % I(m)), Str(rest)) << round;
  }
  dsa::Number x;
  EXPECT_FALSE(dsa::Remainder(dsa::FromU32(5), dsa::FromU32(0), &x));
  // The edges of the division: a number by itself, by one more and one less than itself, and
  // multi-limb numbers whose remainder is zero.
  std::mt19937 edges(5);
  for (size_t len : {size_t{1}, size_t{4}, size_t{5}, size_t{20}, size_t{128}}) {
    Bytes m = RandomBytes(edges, len);
    m[0] |= 0x80;
    m.back() |= 2;
    Bytes below = m, above = m;
    below.back() -= 1;
    above.back() += 1;
    for (const Bytes& a : {m, below, above}) {
      ASSERT_TRUE(dsa::Remainder(N(a), N(m), &x));
      EXPECT_EQ(Str(I(a) % I(m)), Str(x)) << len;
    }
    dsa::Number square;
    ASSERT_TRUE(dsa::Multiply(N(m), N(m), &square));
    ASSERT_TRUE(dsa::Remainder(square, N(m), &x));
    EXPECT_EQ(Str(Integer::Zero()), Str(x)) << len;
  }
  Bytes big(257, 1);
  EXPECT_FALSE(dsa::FromBigEndian(big.data(), big.size(), &x));
}

TEST(DsaArithmeticTest, InverseModAPrime) {
  // The test signer's q: 160 bits, prime.
  const Bytes qBytes(TestSignerKey().pub.q, TestSignerKey().pub.q + 20);
  const Integer q = I(qBytes);
  std::mt19937 random(3);
  for (int round = 0; round < 50; ++round) {
    Bytes s = RandomBytes(random, 20);
    if (I(s) >= q || I(s).IsZero()) continue;
    dsa::Number w;
    ASSERT_TRUE(dsa::InversePrimeMod(N(s), N(qBytes), &w));
    EXPECT_EQ(Str(I(s).InverseMod(q)), Str(w));
  }
  dsa::Number w;
  EXPECT_FALSE(dsa::InversePrimeMod(dsa::FromU32(0), N(qBytes), &w));
  EXPECT_FALSE(dsa::InversePrimeMod(N(qBytes), N(qBytes), &w));  // q mod q = 0
  EXPECT_FALSE(dsa::InversePrimeMod(dsa::FromU32(3), dsa::FromU32(1), &w));
  // A composite modulus: the Fermat inverse does not check out, so there is none.
  EXPECT_FALSE(dsa::InversePrimeMod(dsa::FromU32(2), dsa::FromU32(15), &w));
  EXPECT_FALSE(dsa::InversePrimeMod(dsa::FromU32(3), dsa::FromU32(15), &w));
}

TEST(DsaArithmeticTest, CascadeExponentiateAgreesWithCryptopp) {
  std::mt19937 random(5);
  for (int round = 0; round < 40; ++round) {
    // Moduli of the key's size and odd sizes, operands of any size, exponents of q's size.
    const size_t lm = round < 20 ? 128 : 1 + random() % 128;
    Bytes m = RandomBytes(random, lm);
    m.back() |= 1;
    if (round == 0) m.assign(128, 0xFF);
    if (I(m) < Integer(3)) continue;
    Bytes a = RandomBytes(random, 1 + random() % 128), b = RandomBytes(random, 1 + random() % 128);
    Bytes e1 = RandomBytes(random, 20), e2 = RandomBytes(random, 1 + random() % 20);
    if (round == 1) e1.assign(20, 0);
    if (round == 2) e2.assign(1, 0);
    dsa::Montgomery mont;
    ASSERT_TRUE(mont.Init(N(m)));
    dsa::Number got;
    ASSERT_TRUE(mont.CascadeExponentiate(N(a), N(e1), N(b), N(e2), &got));
    const CryptoPP::MontgomeryRepresentation ref(I(m));
    const Integer expected = ref.ConvertOut(
        ref.CascadeExponentiate(ref.ConvertIn(I(a) % I(m)), I(e1), ref.ConvertIn(I(b) % I(m)), I(e2)));
    EXPECT_EQ(Str(expected), Str(got)) << round;
  }
  dsa::Montgomery mont;
  EXPECT_FALSE(mont.Init(dsa::FromU32(10)));  // even
  EXPECT_FALSE(mont.Init(dsa::FromU32(1)));
  Bytes tooLong(129, 0xFF);
  EXPECT_FALSE(mont.Init(N(tooLong)));
}

}  // namespace
}  // namespace sfx
