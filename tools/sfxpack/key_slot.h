// A stub image's key slot (sfxstub/format/dsa_public_key.h): found by its marker, read, and
// stamped with a key. One function stamps for the build (sfxgen key-stamp, after the link, for
// SFXSTUB_SIGNER_KEY) and for sfxpack (pack with a generic stub, and `sfxpack stub`), so a stub
// stamped with key K is the same file, byte for byte, as one built with K.
//
// The build sets the generic image's PE time stamp and checksum first (sfxgen pe-stamp) and
// stamps the key afterwards. Stamping writes the key's 404 bytes after the marker and sets the
// checksum again; the time stamp stays the generic image's, so it is the same for every key.
//
// Portable code, on memory.
#ifndef SFXSTUB_TOOLS_SFXPACK_KEY_SLOT_H_
#define SFXSTUB_TOOLS_SFXPACK_KEY_SLOT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sfxstub/format/dsa_public_key.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// A stub is about 100 KiB; a file or PE image of more than this is read no further as a stub.
constexpr uint64_t kMaxStubImage = 64 << 20;

struct StubKeySlot {
  size_t offset = 0;      // of the marker in the image
  bool generic = true;    // the key's bytes are all zero: the stub refuses every package
  sfx::DsaPublicKey key;  // the key it carries (zeros when generic)
};

// Finds the one slot in `image`. Fails (exit 2) when the marker occurs not at all (no stub of
// ours, or one made before stubs had a slot) or more than once (then which one the stub reads is
// not known), and when the marker is too near the end to be followed by a key.
Status FindKeySlot(const uint8_t* image, size_t size, StubKeySlot* slot);

// Stamps `key` into the stub `image`: its slot must be empty, or hold `key` already (then the
// image stays as it is). Then sets the PE checksum again. Refuses, with the image unchanged, an
// image without exactly one slot, one whose slot holds another key, and one that is no PE32 or
// PE32+ image.
Status StampKey(std::vector<uint8_t>* image, const sfx::DsaPublicKey& key);

// Where a PE image's contents end in its file: the end of its headers or of its last section's
// raw data, whichever is later. `data` holds the file's first `size` bytes; 0 when they hold no
// PE image with its whole section table.
uint64_t PeImageEnd(const uint8_t* data, size_t size);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_KEY_SLOT_H_
