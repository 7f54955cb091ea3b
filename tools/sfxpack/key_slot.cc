#include "tools/sfxpack/key_slot.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/format/pe_image.h"
#include "tools/sfxgen/pe_stamp.h"

namespace sfxpack {
Status FindKeySlot(const uint8_t* image, size_t size, StubKeySlot* slot) {
  const uint8_t* const end = image + size;
  const uint8_t* found = nullptr;
  int count = 0;
  for (const uint8_t* at = image;
       (at = std::search(at, end, std::begin(sfx::kKeySlotMarker), std::end(sfx::kKeySlotMarker))) != end;
       ++at) {
    if (count++ == 0) found = at;
  }
  if (count != 1) {
    return Status::Error(count == 0 ? "the stub carries no key slot (not a stub of sfxstub, or one "
                                      "made before stubs had one)"
                                    : "the stub's key slot marker occurs " + std::to_string(count) +
                                          " times, so which key the stub reads is not known");
  }
  if (static_cast<size_t>(end - found) < sizeof(sfx::DsaKeySlot)) {
    return Status::Error("the stub's key slot is cut off at the end of its image");
  }
  slot->offset = static_cast<size_t>(found - image);
  std::memcpy(&slot->key, found + sizeof sfx::kKeySlotMarker, sizeof slot->key);
  const uint8_t* key = reinterpret_cast<const uint8_t*>(&slot->key);
  slot->generic = std::all_of(key, key + sizeof slot->key, [](uint8_t b) { return b == 0; });
  return Status::Ok();
}

Status StampKey(std::vector<uint8_t>* image, const sfx::DsaPublicKey& key) {
  StubKeySlot slot;
  Status status = FindKeySlot(image->data(), image->size(), &slot);
  if (!status.ok()) return status;
  if (!slot.generic) {
    return std::memcmp(&slot.key, &key, sizeof key) == 0
               ? Status::Ok()
               : Status::Error("the stub carries another key already (only a generic stub takes one)");
  }
  sfxgen::PeStampFields fields;
  status = sfxgen::FindPeStampFields(image->data(), image->size(), &fields);
  if (!status.ok()) return status;
  std::memcpy(image->data() + slot.offset + sizeof sfx::kKeySlotMarker, &key, sizeof key);
  sfx::StoreU32(image->data() + fields.checkSumOffset,
                sfxgen::PeCheckSum(image->data(), image->size(), fields.checkSumOffset));
  return Status::Ok();
}

uint64_t PeImageEnd(const uint8_t* data, size_t size) {
  // The headers may be all that is given: the file's size is not known here, so any section's
  // raw data may lie beyond them (the caller clamps the result to the file).
  constexpr uint64_t kAnySize = UINT32_MAX;
  uint32_t offset = 0;
  sfx::PeImage image;
  if (sfx::PeImage::HeaderOffset(data, size, kAnySize, sfx::PeRules::kStrict, &offset) !=
          sfx::PeProblem::kNone ||
      image.ParseHeaders(data + offset, size - offset, offset, kAnySize, sfx::PeRules::kStrict) !=
          sfx::PeProblem::kNone) {
    return 0;
  }
  uint32_t last = 0;
  if (!image.OptionalU32(sfx::kPeSizeOfHeadersField, &last)) return 0;
  uint64_t end = last;
  for (uint32_t i = 0; i < image.SectionCount(); ++i) {
    sfx::PeSection section;
    if (image.Section(i, &section) != sfx::PeProblem::kNone) return 0;
    if (section.rawSize != 0) end = std::max<uint64_t>(end, uint64_t{section.rawOffset} + section.rawSize);
  }
  return end;
}

}  // namespace sfxpack
