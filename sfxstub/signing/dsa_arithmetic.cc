#include "sfxstub/signing/dsa_arithmetic.h"

#include <cstring>

namespace sfx {
namespace dsa {
namespace {

void Normalize(Number* x) {
  size_t used = kMaxLimbs;
  while (used > 0 && x->limb[used - 1] == 0) --used;
  x->used = used;
}

// r = 2 r + bit over `width` limbs (the caller leaves room for the carry).
void ShiftLeftOne(uint32_t* r, size_t width, uint32_t bit) {
  for (size_t i = width; i-- > 0;) {
    const uint32_t low = i > 0 ? r[i - 1] >> 31 : bit;
    r[i] = (r[i] << 1) | low;
  }
}

bool AtLeast(const uint32_t* a, const uint32_t* b, size_t width) {
  for (size_t i = width; i-- > 0;) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return true;
}

void SubtractInPlace(uint32_t* a, const uint32_t* b, size_t width) {
  uint64_t borrow = 0;
  for (size_t i = 0; i < width; ++i) {
    const uint64_t d = static_cast<uint64_t>(a[i]) - b[i] - borrow;
    a[i] = static_cast<uint32_t>(d);
    borrow = (d >> 32) & 1;
  }
}

}  // namespace

size_t Number::BitLength() const {
  if (used == 0) return 0;
  size_t bits = 32 * (used - 1);
  for (uint32_t top = limb[used - 1]; top != 0; top >>= 1) ++bits;
  return bits;
}

bool FromBigEndian(const uint8_t* bytes, size_t length, Number* out) {
  if (length > 4 * kMaxLimbs) return false;
  Number x;
  for (size_t i = 0; i < length; ++i) {
    const size_t fromEnd = length - 1 - i;
    x.limb[fromEnd / 4] |= static_cast<uint32_t>(bytes[i]) << (8 * (fromEnd % 4));
  }
  Normalize(&x);
  *out = x;
  return true;
}

Number FromU32(uint32_t value) {
  Number x;
  x.limb[0] = value;
  x.used = value != 0 ? 1 : 0;
  return x;
}

int Compare(const Number& a, const Number& b) {
  if (a.used != b.used) return a.used < b.used ? -1 : 1;
  for (size_t i = a.used; i-- > 0;) {
    if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
  }
  return 0;
}

bool Multiply(const Number& a, const Number& b, Number* out) {
  if (a.used + b.used > kMaxLimbs) return false;
  Number p;
  for (size_t i = 0; i < a.used; ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.used; ++j) {
      const uint64_t t = static_cast<uint64_t>(a.limb[i]) * b.limb[j] + p.limb[i + j] + carry;
      p.limb[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    p.limb[i + b.used] = static_cast<uint32_t>(carry);
  }
  Normalize(&p);
  *out = p;
  return true;
}

bool Remainder(const Number& a, const Number& m, Number* out) {
  if (m.IsZero() || m.used >= kMaxLimbs) return false;
  if (Compare(a, m) < 0) {
    *out = a;
    return true;
  }
  // Bit by bit, most significant first: r stays below m, so 2r + 1 fits in one more limb.
  const size_t width = m.used + 1;
  Number r;
  for (size_t i = a.BitLength(); i-- > 0;) {
    ShiftLeftOne(r.limb, width, a.Bit(i) ? 1 : 0);
    if (AtLeast(r.limb, m.limb, width)) SubtractInPlace(r.limb, m.limb, width);
  }
  Normalize(&r);
  *out = r;
  return true;
}

bool MultiplyMod(const Number& a, const Number& b, const Number& m, Number* out) {
  Number product;
  return Multiply(a, b, &product) && Remainder(product, m, out);
}

bool InversePrimeMod(const Number& a, const Number& m, Number* out) {
  const Number one = FromU32(1);
  if (Compare(m, FromU32(2)) < 0) return false;
  Number exponent = m;  // m - 2
  uint64_t borrow = 2;
  for (size_t i = 0; i < kMaxLimbs && borrow != 0; ++i) {
    const uint64_t d = static_cast<uint64_t>(exponent.limb[i]) - borrow;
    exponent.limb[i] = static_cast<uint32_t>(d);
    borrow = (d >> 32) & 1;
  }
  Normalize(&exponent);
  Number base, w = one;
  if (!Remainder(a, m, &base)) return false;
  for (size_t i = exponent.BitLength(); i-- > 0;) {
    if (!MultiplyMod(w, w, m, &w)) return false;
    if (exponent.Bit(i) && !MultiplyMod(w, base, m, &w)) return false;
  }
  Number check;
  if (!MultiplyMod(a, w, m, &check) || Compare(check, one) != 0) return false;
  *out = w;
  return true;
}

bool Montgomery::Init(const Number& modulus) {
  if (!modulus.IsOdd() || Compare(modulus, FromU32(3)) < 0 || modulus.used > kMaxModulusLimbs) {
    return false;
  }
  m_ = modulus;
  n_ = modulus.used;
  // Newton's iteration for m0^-1 mod 2^32: an odd m0 is its own inverse modulo 8, and each
  // step doubles the number of correct bits.
  uint32_t x = m_.limb[0];
  for (int i = 0; i < 5; ++i) x *= 2 - m_.limb[0] * x;
  mInverse_ = 0u - x;
  // R mod m, then R^2 mod m.
  Number r;
  r.limb[n_] = 1;
  r.used = n_ + 1;
  Number rModM, r2;
  if (!Remainder(r, m_, &rModM) || !MultiplyMod(rModM, rModM, m_, &r2)) return false;
  std::memcpy(rSquared_, r2.limb, sizeof(rSquared_));
  return true;
}

void Montgomery::Multiply(const uint32_t* a, const uint32_t* b, uint32_t* out) const {
  // Coarsely integrated operand scanning; t stays below 2m.
  uint32_t t[kMaxModulusLimbs + 2] = {};
  for (size_t i = 0; i < n_; ++i) {
    uint64_t c = 0;
    for (size_t j = 0; j < n_; ++j) {
      const uint64_t s = static_cast<uint64_t>(a[j]) * b[i] + t[j] + c;
      t[j] = static_cast<uint32_t>(s);
      c = s >> 32;
    }
    uint64_t s = static_cast<uint64_t>(t[n_]) + c;
    t[n_] = static_cast<uint32_t>(s);
    t[n_ + 1] = static_cast<uint32_t>(s >> 32);

    const uint32_t q = t[0] * mInverse_;
    c = (static_cast<uint64_t>(q) * m_.limb[0] + t[0]) >> 32;
    for (size_t j = 1; j < n_; ++j) {
      s = static_cast<uint64_t>(q) * m_.limb[j] + t[j] + c;
      t[j - 1] = static_cast<uint32_t>(s);
      c = s >> 32;
    }
    s = static_cast<uint64_t>(t[n_]) + c;
    t[n_ - 1] = static_cast<uint32_t>(s);
    t[n_] = t[n_ + 1] + static_cast<uint32_t>(s >> 32);
  }
  uint32_t mm[kMaxModulusLimbs + 1] = {};
  std::memcpy(mm, m_.limb, n_ * sizeof(uint32_t));
  if (AtLeast(t, mm, n_ + 1)) SubtractInPlace(t, mm, n_ + 1);
  std::memcpy(out, t, n_ * sizeof(uint32_t));
}

bool Montgomery::ToMontgomery(const Number& a, uint32_t* out) const {
  Number reduced;
  if (!Remainder(a, m_, &reduced)) return false;
  Multiply(reduced.limb, rSquared_, out);
  return true;
}

bool Montgomery::CascadeExponentiate(const Number& a, const Number& e1, const Number& b,
                                     const Number& e2, Number* out) const {
  if (n_ == 0) return false;
  uint32_t am[kMaxModulusLimbs], bm[kMaxModulusLimbs], abm[kMaxModulusLimbs];
  uint32_t acc[kMaxModulusLimbs];
  if (!ToMontgomery(a, am) || !ToMontgomery(b, bm) || !ToMontgomery(FromU32(1), acc)) return false;
  Multiply(am, bm, abm);
  const size_t bits = e1.BitLength() > e2.BitLength() ? e1.BitLength() : e2.BitLength();
  for (size_t i = bits; i-- > 0;) {
    Multiply(acc, acc, acc);
    const bool one = e1.Bit(i), two = e2.Bit(i);
    if (one && two) {
      Multiply(acc, abm, acc);
    } else if (one) {
      Multiply(acc, am, acc);
    } else if (two) {
      Multiply(acc, bm, acc);
    }
  }
  // Out of Montgomery form: multiply by 1.
  uint32_t unit[kMaxModulusLimbs] = {1};
  Number result;
  Multiply(acc, unit, result.limb);
  Normalize(&result);
  *out = result;
  return true;
}

}  // namespace dsa
}  // namespace sfx
