// The layout of a DSA public key as the stub carries it built in and the tools read and write
// it: a 1024-bit p, a 160-bit q, g and y, every number big-endian, one right after the other.
#ifndef SFXSTUB_FORMAT_DSA_PUBLIC_KEY_H_
#define SFXSTUB_FORMAT_DSA_PUBLIC_KEY_H_

#include <cstdint>

namespace sfx {

struct DsaPublicKey {
  uint8_t p[128];
  uint8_t q[20];
  uint8_t g[128];
  uint8_t y[128];
};

}  // namespace sfx

#endif  // SFXSTUB_FORMAT_DSA_PUBLIC_KEY_H_
