// The stub's own DSA arithmetic against Crypto++ (which sfxpack signs with): random operands of
// the sizes the check uses and odd ones.
#include "sfxstub/signing/dsa_arithmetic.h"

#include <gtest/gtest.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/integer.h>
#include <cryptopp/modarith.h>

#include <random>
#include <string>
#include <vector>

#include "tests/common/signing_samples.h"
#include "tests/common/test_signer_key.h"

namespace sfx {
namespace {

using CryptoPP::Integer;
using Bytes = std::vector<uint8_t>;

using test::Hex;

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
