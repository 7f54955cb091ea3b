// A stand-in stub for the tools' tests: a PE32 image with one section whose raw data holds the
// key slot, as the real stub's read-only data does, and a CheckSum field to set. Nothing runs it.
#ifndef SFXSTUB_TESTS_COMMON_STAND_IN_STUB_H_
#define SFXSTUB_TESTS_COMMON_STAND_IN_STUB_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sfxstub/format/dsa_public_key.h"

namespace sfx {
namespace test {

// `size` bytes (at least 0x400) with the slot at `slotAt` (0: 0x210, in the section): it holds
// `key`, or nothing (a generic stub) when `key` is null. `slots` markers more, each with its own
// copy of the slot, follow it (for stubs the tools must refuse).
inline std::vector<uint8_t> StandInStub(const DsaPublicKey* key, size_t size = 0x400,
                                        size_t slotAt = 0, int slots = 1) {
  if (size < 0x400) size = 0x400;
  if (slotAt == 0) slotAt = 0x210;
  std::vector<uint8_t> image(size, 0);
  auto put = [&image](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  image[0] = 'M';
  image[1] = 'Z';
  put(0x3C, 0x40, 4);
  std::memcpy(&image[0x40], "PE\0\0", 4);
  put(0x44, 0x14C, 2);      // i386
  put(0x46, 1, 2);          // one section
  put(0x54, 224, 2);        // SizeOfOptionalHeader
  put(0x58, 0x10B, 2);      // PE32
  put(0x58 + 56, static_cast<uint32_t>(0x1000 + size), 4);  // SizeOfImage, past the section
  put(0x58 + 60, 0x200, 4);  // SizeOfHeaders
  put(0x58 + 92, 16, 4);     // NumberOfRvaAndSizes
  const size_t section = 0x58 + 224;
  std::memcpy(&image[section], ".rdata", 6);
  put(section + 8, static_cast<uint32_t>(size - 0x200), 4);   // VirtualSize
  put(section + 12, 0x1000, 4);                              // VirtualAddress
  put(section + 16, static_cast<uint32_t>(size - 0x200), 4);  // SizeOfRawData
  put(section + 20, 0x200, 4);                               // PointerToRawData
  for (int i = 0; i < slots; ++i) {
    const size_t at = slotAt + i * sizeof(DsaKeySlot);
    std::memcpy(&image[at], kKeySlotMarker, sizeof kKeySlotMarker);
    if (key) std::memcpy(&image[at + sizeof kKeySlotMarker], key, sizeof *key);
  }
  return image;
}

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_STAND_IN_STUB_H_
