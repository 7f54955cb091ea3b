#include "tools/sfxgen/pe_stamp.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace sfxgen {
namespace {

constexpr size_t kPeOffsetField = 0x3C;     // IMAGE_DOS_HEADER.e_lfanew
constexpr size_t kCoffTimeStamp = 4 + 4;    // after "PE\0\0": Machine, NumberOfSections
constexpr size_t kCoffOptionalSize = 4 + 16;  // SizeOfOptionalHeader, u16
constexpr size_t kCoffCharacteristics = 4 + 18;  // u16, the COFF header's last field
constexpr size_t kOptionalHeader = 4 + 20;  // the signature and the COFF header
constexpr size_t kOptionalCheckSum = 64;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;

uint32_t GetU16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}
uint32_t GetU32(const uint8_t* p) { return GetU16(p) | GetU16(p + 2) << 16; }
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool FindPeStampFields(const uint8_t* data, size_t size, PeStampFields* fields,
                       std::string* error) {
  if (size < kPeOffsetField + 4 || data[0] != 'M' || data[1] != 'Z') {
    *error = "not a PE image: no \"MZ\" header";
    return false;
  }
  const size_t pe = GetU32(data + kPeOffsetField);
  // Everything up to the end of CheckSum must lie in the file; compared without adding to `pe`,
  // which comes from the file and may be anything.
  const size_t needed = kOptionalHeader + kOptionalCheckSum + 4;
  if (pe > size || size - pe < needed) {
    *error = "not a PE image: the PE header at " + std::to_string(pe) + " does not fit in the file";
    return false;
  }
  if (std::memcmp(data + pe, "PE\0\0", 4) != 0) {
    *error = "not a PE image: no \"PE\" signature at " + std::to_string(pe);
    return false;
  }
  const uint32_t magic = GetU16(data + pe + kOptionalHeader);
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
    *error = "not a PE32 or PE32+ image: optional header magic " + std::to_string(magic);
    return false;
  }
  if (GetU16(data + pe + kCoffOptionalSize) < kOptionalCheckSum + 4) {
    *error = "the optional header is too short to hold CheckSum";
    return false;
  }
  fields->timeStampOffset = pe + kCoffTimeStamp;
  fields->checkSumOffset = pe + kOptionalHeader + kOptionalCheckSum;
  return true;
}

uint32_t PeCheckSum(const uint8_t* data, size_t size, size_t checkSumOffset) {
  // A byte inside the field counts as zero: `at - checkSumOffset < 4` holds exactly for those (an
  // offset below the field wraps to a large value).
  auto byteAt = [&](size_t at) -> uint32_t {
    return at >= size || at - checkSumOffset < 4 ? 0 : data[at];
  };
  uint32_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    const uint32_t low = byteAt(i), high = byteAt(i + 1);
    sum += low | high << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + static_cast<uint32_t>(size);
}

uint32_t DerivedTimeStamp(const uint8_t* data, size_t size, const PeStampFields& fields) {
  // The CRC of the image as if both fields were zero: the bytes before, between and after them.
  const size_t first = std::min(fields.timeStampOffset, fields.checkSumOffset);
  const size_t second = std::max(fields.timeStampOffset, fields.checkSumOffset);
  static const uint8_t kZero[4] = {};
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32_z(crc, data, first);
  crc = crc32_z(crc, kZero, 4);
  crc = crc32_z(crc, data + first + 4, second - first - 4);
  crc = crc32_z(crc, kZero, 4);
  crc = crc32_z(crc, data + second + 4, size - second - 4);
  return kDerivedTimeStampBase + (static_cast<uint32_t>(crc) >> 4);
}

bool StampPeImage(std::vector<uint8_t>* image, const uint32_t* time, std::string* error) {
  PeStampFields fields;
  if (!FindPeStampFields(image->data(), image->size(), &fields, error)) return false;
  const uint32_t stamp =
      time != nullptr ? *time : DerivedTimeStamp(image->data(), image->size(), fields);
  PutU32(image->data() + fields.timeStampOffset, stamp);
  PutU32(image->data() + fields.checkSumOffset,
         PeCheckSum(image->data(), image->size(), fields.checkSumOffset));
  return true;
}

bool SetRunFromSwap(std::vector<uint8_t>* image, std::string* error) {
  PeStampFields fields;
  if (!FindPeStampFields(image->data(), image->size(), &fields, error)) return false;
  // The PE header's offset, which FindPeStampFields has checked, and the field inside the
  // headers it has checked to fit.
  uint8_t* flags = image->data() + fields.timeStampOffset - kCoffTimeStamp + kCoffCharacteristics;
  flags[1] |= static_cast<uint8_t>(kRunFromSwapFlags >> 8);
  return true;
}

}  // namespace sfxgen
