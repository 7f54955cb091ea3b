#include "sfxstub/signing/md5.h"

#include <cstring>

#include "sfxstub/format/byte_order.h"

namespace sfx {
namespace {

inline uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

// The sine-derived constants of RFC 1321.
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

}  // namespace

Md5::Md5() { Reset(); }

void Md5::Reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  bytes_ = 0;
  buffered_ = 0;
}

// The 64 steps written out: the hash runs over every byte of a package, and a loop that picks
// the round function per step is several times slower.
#define SFX_MD5_STEP(f, a, b, c, d, k, s, i) \
  a = b + Rotl(a + f(b, c, d) + kSine[i] + m[k], s)
#define SFX_MD5_F(x, y, z) ((((y) ^ (z)) & (x)) ^ (z))
#define SFX_MD5_G(x, y, z) ((((x) ^ (y)) & (z)) ^ (y))
#define SFX_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define SFX_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

void Md5::Transform(const uint8_t block[64]) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadU32(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  SFX_MD5_STEP(SFX_MD5_F, a, b, c, d, 0, 7, 0);    SFX_MD5_STEP(SFX_MD5_F, d, a, b, c, 1, 12, 1);
  SFX_MD5_STEP(SFX_MD5_F, c, d, a, b, 2, 17, 2);   SFX_MD5_STEP(SFX_MD5_F, b, c, d, a, 3, 22, 3);
  SFX_MD5_STEP(SFX_MD5_F, a, b, c, d, 4, 7, 4);    SFX_MD5_STEP(SFX_MD5_F, d, a, b, c, 5, 12, 5);
  SFX_MD5_STEP(SFX_MD5_F, c, d, a, b, 6, 17, 6);   SFX_MD5_STEP(SFX_MD5_F, b, c, d, a, 7, 22, 7);
  SFX_MD5_STEP(SFX_MD5_F, a, b, c, d, 8, 7, 8);    SFX_MD5_STEP(SFX_MD5_F, d, a, b, c, 9, 12, 9);
  SFX_MD5_STEP(SFX_MD5_F, c, d, a, b, 10, 17, 10); SFX_MD5_STEP(SFX_MD5_F, b, c, d, a, 11, 22, 11);
  SFX_MD5_STEP(SFX_MD5_F, a, b, c, d, 12, 7, 12);  SFX_MD5_STEP(SFX_MD5_F, d, a, b, c, 13, 12, 13);
  SFX_MD5_STEP(SFX_MD5_F, c, d, a, b, 14, 17, 14); SFX_MD5_STEP(SFX_MD5_F, b, c, d, a, 15, 22, 15);

  SFX_MD5_STEP(SFX_MD5_G, a, b, c, d, 1, 5, 16);   SFX_MD5_STEP(SFX_MD5_G, d, a, b, c, 6, 9, 17);
  SFX_MD5_STEP(SFX_MD5_G, c, d, a, b, 11, 14, 18); SFX_MD5_STEP(SFX_MD5_G, b, c, d, a, 0, 20, 19);
  SFX_MD5_STEP(SFX_MD5_G, a, b, c, d, 5, 5, 20);   SFX_MD5_STEP(SFX_MD5_G, d, a, b, c, 10, 9, 21);
  SFX_MD5_STEP(SFX_MD5_G, c, d, a, b, 15, 14, 22); SFX_MD5_STEP(SFX_MD5_G, b, c, d, a, 4, 20, 23);
  SFX_MD5_STEP(SFX_MD5_G, a, b, c, d, 9, 5, 24);   SFX_MD5_STEP(SFX_MD5_G, d, a, b, c, 14, 9, 25);
  SFX_MD5_STEP(SFX_MD5_G, c, d, a, b, 3, 14, 26);  SFX_MD5_STEP(SFX_MD5_G, b, c, d, a, 8, 20, 27);
  SFX_MD5_STEP(SFX_MD5_G, a, b, c, d, 13, 5, 28);  SFX_MD5_STEP(SFX_MD5_G, d, a, b, c, 2, 9, 29);
  SFX_MD5_STEP(SFX_MD5_G, c, d, a, b, 7, 14, 30);  SFX_MD5_STEP(SFX_MD5_G, b, c, d, a, 12, 20, 31);

  SFX_MD5_STEP(SFX_MD5_H, a, b, c, d, 5, 4, 32);   SFX_MD5_STEP(SFX_MD5_H, d, a, b, c, 8, 11, 33);
  SFX_MD5_STEP(SFX_MD5_H, c, d, a, b, 11, 16, 34); SFX_MD5_STEP(SFX_MD5_H, b, c, d, a, 14, 23, 35);
  SFX_MD5_STEP(SFX_MD5_H, a, b, c, d, 1, 4, 36);   SFX_MD5_STEP(SFX_MD5_H, d, a, b, c, 4, 11, 37);
  SFX_MD5_STEP(SFX_MD5_H, c, d, a, b, 7, 16, 38);  SFX_MD5_STEP(SFX_MD5_H, b, c, d, a, 10, 23, 39);
  SFX_MD5_STEP(SFX_MD5_H, a, b, c, d, 13, 4, 40);  SFX_MD5_STEP(SFX_MD5_H, d, a, b, c, 0, 11, 41);
  SFX_MD5_STEP(SFX_MD5_H, c, d, a, b, 3, 16, 42);  SFX_MD5_STEP(SFX_MD5_H, b, c, d, a, 6, 23, 43);
  SFX_MD5_STEP(SFX_MD5_H, a, b, c, d, 9, 4, 44);   SFX_MD5_STEP(SFX_MD5_H, d, a, b, c, 12, 11, 45);
  SFX_MD5_STEP(SFX_MD5_H, c, d, a, b, 15, 16, 46); SFX_MD5_STEP(SFX_MD5_H, b, c, d, a, 2, 23, 47);

  SFX_MD5_STEP(SFX_MD5_I, a, b, c, d, 0, 6, 48);   SFX_MD5_STEP(SFX_MD5_I, d, a, b, c, 7, 10, 49);
  SFX_MD5_STEP(SFX_MD5_I, c, d, a, b, 14, 15, 50); SFX_MD5_STEP(SFX_MD5_I, b, c, d, a, 5, 21, 51);
  SFX_MD5_STEP(SFX_MD5_I, a, b, c, d, 12, 6, 52);  SFX_MD5_STEP(SFX_MD5_I, d, a, b, c, 3, 10, 53);
  SFX_MD5_STEP(SFX_MD5_I, c, d, a, b, 10, 15, 54); SFX_MD5_STEP(SFX_MD5_I, b, c, d, a, 1, 21, 55);
  SFX_MD5_STEP(SFX_MD5_I, a, b, c, d, 8, 6, 56);   SFX_MD5_STEP(SFX_MD5_I, d, a, b, c, 15, 10, 57);
  SFX_MD5_STEP(SFX_MD5_I, c, d, a, b, 6, 15, 58);  SFX_MD5_STEP(SFX_MD5_I, b, c, d, a, 13, 21, 59);
  SFX_MD5_STEP(SFX_MD5_I, a, b, c, d, 4, 6, 60);   SFX_MD5_STEP(SFX_MD5_I, d, a, b, c, 11, 10, 61);
  SFX_MD5_STEP(SFX_MD5_I, c, d, a, b, 2, 15, 62);  SFX_MD5_STEP(SFX_MD5_I, b, c, d, a, 9, 21, 63);
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

#undef SFX_MD5_STEP
#undef SFX_MD5_F
#undef SFX_MD5_G
#undef SFX_MD5_H
#undef SFX_MD5_I

void Md5::Update(const uint8_t* data, size_t length) {
  bytes_ += length;
  if (buffered_ > 0) {
    const size_t take = length < 64 - buffered_ ? length : 64 - buffered_;
    std::memcpy(buffer_ + buffered_, data, take);
    buffered_ += take;
    data += take;
    length -= take;
    if (buffered_ < 64) return;
    Transform(buffer_);
    buffered_ = 0;
  }
  for (; length >= 64; data += 64, length -= 64) Transform(data);
  if (length > 0) {
    std::memcpy(buffer_, data, length);
    buffered_ = length;
  }
}

void Md5::Final(uint8_t out[16]) {
  const uint64_t bits = bytes_ * 8;
  static const uint8_t kPadding[64] = {0x80};
  const size_t padding = buffered_ < 56 ? 56 - buffered_ : 120 - buffered_;
  Update(kPadding, padding);
  uint8_t length[8];
  StoreU32(length, static_cast<uint32_t>(bits));
  StoreU32(length + 4, static_cast<uint32_t>(bits >> 32));
  Update(length, 8);
  for (int i = 0; i < 4; ++i) StoreU32(out + 4 * i, state_[i]);
  Reset();
}

}  // namespace sfx
