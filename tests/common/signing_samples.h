// Byte strings and signed samples for the signing tests. (Scratch files and the test signer's
// key: temp_dir.h and test_signer.h beside this file.)
#ifndef SFXSTUB_TESTS_COMMON_SIGNING_SAMPLES_H_
#define SFXSTUB_TESTS_COMMON_SIGNING_SAMPLES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/format/pe_image.h"

namespace sfx {
namespace test {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& text);
Bytes Concat(Bytes a, const Bytes& b);
// `n` bytes as lower-case hexadecimal.
std::string Hex(const uint8_t* bytes, size_t n);

// A minimal PE file of `objectSize` (at least 0x200) bytes (headers at 0x80), whose certificate
// directory entry holds `certificateOffset` and which has `directories` data directories and an
// optional header of `optionalHeaderSize` bytes (0: the kind's usual 224 or 240). PeKind::kUnknown
// makes a PE32 layout whose magic field holds neither 0x10B nor 0x20B (the trailer search takes
// it as PE32).
Bytes MakePe(uint32_t objectSize, uint32_t certificateOffset, uint32_t directories = 16,
             uint16_t optionalHeaderSize = 0, PeKind kind = PeKind::kUnknown);

// A signed PE: object, binary trailer, `padding` zero bytes, a 40-byte certificate table.
Bytes MakeSignedPe(uint32_t objectSize, uint32_t padding, uint32_t* signedLength,
                   PeKind kind = PeKind::kUnknown);

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_SIGNING_SAMPLES_H_
