// Made-up PE images for the tests and the fuzzers' seeds; nothing runs them.
//   MinimalPeImage: the smallest image that passes for a PE file: "MZ", the header offset 0x40 at
//     0x3C, and "PE\0\0" there. Enough for the tools' and the trailer search's PE checks.
//   SamplePeImage: an image laid out as a linker lays one out, for the PE reader.
#ifndef SFXSTUB_TESTS_COMMON_MINIMAL_PE_H_
#define SFXSTUB_TESTS_COMMON_MINIMAL_PE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/format/pe_image.h"

namespace sfx {

inline std::vector<uint8_t> MinimalPeImage(size_t size = 0x80) {
  std::vector<uint8_t> image(size < 0x44 ? 0x44 : size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image[0x40] = 'P';
  image[0x41] = 'E';
  return image;
}

namespace test {

constexpr uint32_t kSampleHeader = 0x80;
constexpr uint32_t kSampleSections = 3;
constexpr uint32_t kSampleRawStart = 0x400;
constexpr uint32_t kSampleRawSize = 0x200;

// Headers at 0x80, three sections (".text", ".data", ".rsrc") of 0x200 raw bytes each from 0x400
// on, at virtual addresses 0x1000, 0x2000, 0x3000 with 0x180 bytes each, SizeOfImage 0x4000, the
// resource directory 0x40 bytes into the last section and, when `certificates` is not 0, a
// certificate table of that size ending the file. PeKind::kUnknown gets PE32's layout and no
// magic.
inline std::vector<uint8_t> SamplePeImage(PeKind kind, uint32_t certificates = 0) {
  const bool plus = kind == PeKind::kPe32Plus;
  const uint32_t optional = kSampleHeader + kPeOptionalHeaderStart;
  const uint32_t directories = optional + (plus ? 112 : 96);
  const uint32_t sections = optional + (plus ? 240 : 224);
  std::vector<uint8_t> image(kSampleRawStart + kSampleSections * kSampleRawSize, 0xCC);
  std::memset(image.data(), 0, kSampleRawStart);
  image[0] = 'M';
  image[1] = 'Z';
  StoreU32(&image[kPeHeaderOffsetField], kSampleHeader);
  std::memcpy(&image[kSampleHeader], "PE\0\0", 4);
  StoreU16(&image[kSampleHeader + 4], plus ? 0x8664 : 0x14C);
  StoreU16(&image[kSampleHeader + 6], kSampleSections);
  StoreU16(&image[kSampleHeader + 20], plus ? 240 : 224);
  if (kind != PeKind::kUnknown) StoreU16(&image[optional], plus ? 0x20B : 0x10B);
  StoreU32(&image[optional + kPeSizeOfImageField], 0x1000 * (kSampleSections + 1));
  StoreU32(&image[directories - 4], 16);
  StoreU32(&image[directories + 8 * kPeResourceDirectory], 0x3040);
  StoreU32(&image[directories + 8 * kPeResourceDirectory + 4], 0x40);
  for (uint32_t i = 0; i < kSampleSections; ++i) {
    uint8_t* entry = &image[sections + i * kPeSectionEntrySize];
    std::memcpy(entry, i + 1 == kSampleSections ? ".rsrc" : i == 0 ? ".text" : ".data", 5);
    StoreU32(entry + 8, 0x180);
    StoreU32(entry + 12, 0x1000 * (i + 1));
    StoreU32(entry + 16, kSampleRawSize);
    StoreU32(entry + 20, kSampleRawStart + i * kSampleRawSize);
  }
  if (certificates != 0) {
    const uint32_t entry = directories + 8 * kPeCertificateDirectory;
    StoreU32(&image[entry], static_cast<uint32_t>(image.size()));
    StoreU32(&image[entry + 4], certificates);
    image.resize(image.size() + certificates, 0xCE);
  }
  return image;
}

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_MINIMAL_PE_H_
