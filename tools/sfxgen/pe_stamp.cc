#include "tools/sfxgen/pe_stamp.h"

#include <zlib.h>

#include <algorithm>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/format/pe_image.h"

namespace sfxgen {
Status FindPeStampFields(const uint8_t* data, size_t size, PeStampFields* fields) {
  sfx::PeImage image;
  const sfx::PeProblem problem = image.Parse(data, size);
  if (problem != sfx::PeProblem::kNone) {
    return Status::Error(std::string("not a PE32 or PE32+ image: ") + sfx::PeProblemText(problem));
  }
  uint32_t checkSum = 0;
  if (!image.CheckSumOffset(&checkSum)) {
    return Status::Error("the optional header is too short to hold CheckSum");
  }
  fields->timeStampOffset = image.timeDateStampOffset();
  fields->checkSumOffset = checkSum;
  return Status::Ok();
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

Status StampPeImage(std::vector<uint8_t>* image, const uint32_t* time) {
  PeStampFields fields;
  const Status status = FindPeStampFields(image->data(), image->size(), &fields);
  if (!status.ok()) return status;
  const uint32_t stamp =
      time != nullptr ? *time : DerivedTimeStamp(image->data(), image->size(), fields);
  sfx::StoreU32(image->data() + fields.timeStampOffset, stamp);
  sfx::StoreU32(image->data() + fields.checkSumOffset,
                PeCheckSum(image->data(), image->size(), fields.checkSumOffset));
  return Status::Ok();
}

Status SetRunFromSwap(std::vector<uint8_t>* image) {
  PeStampFields fields;
  const Status status = FindPeStampFields(image->data(), image->size(), &fields);
  if (!status.ok()) return status;
  // Characteristics, the COFF header's last u16, stands 14 bytes after TimeDateStamp, inside the
  // headers FindPeStampFields has checked to fit.
  uint8_t* flags = image->data() + fields.timeStampOffset + 14;
  sfx::StoreU16(flags, static_cast<uint16_t>(sfx::LoadU16(flags) | kRunFromSwapFlags));
  return Status::Ok();
}

}  // namespace sfxgen
