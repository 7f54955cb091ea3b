// The layout of a DSA public key as the stub carries it and the tools read and write it: a
// 1024-bit p, a 160-bit q, g and y, every number big-endian, one right after the other.
//
// The stub carries its key in a key slot in its read-only data: a 16-byte marker, then the key.
// The marker occurs once in a stub's image, so the tools find the slot by searching for it and
// refuse an image where it occurs more than once or not at all. A slot whose key bytes are all
// zero is empty: a "generic" stub, which refuses every package (no signature verifies with a q
// of zero). Stamping a key into a generic stub writes the key's bytes after the marker and sets
// the image's PE checksum again (tools/sfxpack/key_slot.h); nothing else in the image moves.
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

// The slot's marker: eight letters and eight random bytes, so that neither text nor code of the
// stub can hold it by chance. Only the generated slot (sfxgen key-header) spells it out in the
// stub; the stub's code must not use this constant, or the marker would occur twice.
constexpr uint8_t kKeySlotMarker[16] = {'s',  'f',  'x',  'K',  'e',  'y',  '0',  '1',
                                        0x9e, 0x37, 0x79, 0xb9, 0x7f, 0x4a, 0x7c, 0x15};

struct DsaKeySlot {
  uint8_t marker[16];  // kKeySlotMarker
  DsaPublicKey key;    // all zero in a generic stub
};
static_assert(sizeof(DsaKeySlot) == 16 + 404, "the slot is the marker and the key, unpadded");

}  // namespace sfx

#endif  // SFXSTUB_FORMAT_DSA_PUBLIC_KEY_H_
