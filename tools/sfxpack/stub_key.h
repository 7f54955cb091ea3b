// Whether a package's stub carries a given key: the stub holds its DSA public key as p, q, g, y
// in that order, big-endian, one right after the other (sfx::DsaPublicKey), in its key slot
// (key_slot.h), and stubs made before the slot somewhere in their image. Whether the key is among
// a file's first bytes is what the checking commands ask of a package's stub when --key names
// the key.
#ifndef SFXSTUB_TOOLS_SFXPACK_STUB_KEY_H_
#define SFXSTUB_TOOLS_SFXPACK_STUB_KEY_H_

#include <cstdint>

#include "sfxstub/format/dsa_public_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// Whether `key`'s bytes, laid out as the stub carries them, stand wholly within the first
// `length` bytes of `file` (all of it when `length` is larger). The file is read in pieces of
// 1 MiB. Fails only when the file can't be read.
Status KeyWithin(const InputFile& file, uint64_t length, const sfx::DsaPublicKey& key,
                 bool* carries);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_STUB_KEY_H_
