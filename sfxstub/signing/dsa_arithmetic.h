// The arithmetic of the DSA check: unsigned numbers of up to 2048 bits, remainders, and
// exponentiation modulo an odd modulus of up to 1024 bits in Montgomery form, two bases at once.
//
// Why the stub has its own: every function of a library object that the stub links stays in
// the program (the Windows linker keeps all unwind tables, and with them the code they
// describe), and a general-purpose big-integer class brings most of its library and the C++
// stream and locale machinery with it: about 2 MB in every package. What the check needs is
// this much. Everything here works on public values only, so nothing needs to run in
// constant time. The tests compare every operation with Crypto++.
#ifndef SFXSTUB_SIGNING_DSA_ARITHMETIC_H_
#define SFXSTUB_SIGNING_DSA_ARITHMETIC_H_

#include <cstddef>
#include <cstdint>

namespace sfx {
namespace dsa {

constexpr size_t kMaxLimbs = 64;        // 2048 bits: room for a product of two 1024-bit numbers
constexpr size_t kMaxModulusLimbs = 32;  // 1024 bits

// An unsigned number, least significant 32-bit limb first; limbs above `used` are zero.
struct Number {
  uint32_t limb[kMaxLimbs] = {};
  size_t used = 0;  // number of significant limbs (0 for zero)

  bool IsZero() const { return used == 0; }
  bool IsOdd() const { return used > 0 && (limb[0] & 1) != 0; }
  size_t BitLength() const;
  bool Bit(size_t i) const { return i / 32 < used && ((limb[i / 32] >> (i % 32)) & 1) != 0; }
};

// A big-endian unsigned byte string (at most 256 bytes; longer ones give false).
bool FromBigEndian(const uint8_t* bytes, size_t length, Number* out);
Number FromU32(uint32_t value);
// -1, 0, 1 as a is below, equal to or above b.
int Compare(const Number& a, const Number& b);
// a * b; false when the product could need more than kMaxLimbs limbs.
bool Multiply(const Number& a, const Number& b, Number* out);
// a mod m; false for m = 0 and for an m of kMaxLimbs limbs.
bool Remainder(const Number& a, const Number& m, Number* out);
// (a * b) mod m; false when m = 0 or the product is too large.
bool MultiplyMod(const Number& a, const Number& b, const Number& m, Number* out);
// The inverse of a modulo a prime m, as a^(m-2) mod m, checked: false when a * w mod m is not 1
// (a not invertible, or m not prime) or when m < 2.
bool InversePrimeMod(const Number& a, const Number& m, Number* out);

// Exponentiation modulo an odd m of at most 1024 bits in Montgomery form.
class Montgomery {
 public:
  // False for an even modulus, one below 3, or one of more than kMaxModulusLimbs limbs.
  bool Init(const Number& modulus);
  // (a^e1 * b^e2) mod m, the two powers formed together (one squaring per exponent bit).
  // a and b may be any size; they are reduced first.
  bool CascadeExponentiate(const Number& a, const Number& e1, const Number& b, const Number& e2,
                           Number* out) const;

 private:
  // a * b * R^-1 mod m for a, b < m (R = 2^(32 n)).
  void Multiply(const uint32_t* a, const uint32_t* b, uint32_t* out) const;
  bool ToMontgomery(const Number& a, uint32_t* out) const;

  Number m_;
  size_t n_ = 0;              // limbs of m
  uint32_t mInverse_ = 0;     // -m^-1 mod 2^32
  uint32_t rSquared_[kMaxModulusLimbs] = {};  // R^2 mod m
};

}  // namespace dsa
}  // namespace sfx

#endif  // SFXSTUB_SIGNING_DSA_ARITHMETIC_H_
