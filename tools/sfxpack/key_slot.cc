#include "tools/sfxpack/key_slot.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "tools/sfxgen/pe_stamp.h"

namespace sfxpack {
namespace {

uint32_t U16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t U32(const uint8_t* p) { return U16(p) | U16(p + 2) << 16; }

}  // namespace

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
  std::string error;
  if (!sfxgen::FindPeStampFields(image->data(), image->size(), &fields, &error)) {
    return Status::Error(error);
  }
  std::memcpy(image->data() + slot.offset + sizeof sfx::kKeySlotMarker, &key, sizeof key);
  const uint32_t sum = sfxgen::PeCheckSum(image->data(), image->size(), fields.checkSumOffset);
  for (int i = 0; i < 4; ++i) (*image)[fields.checkSumOffset + i] = static_cast<uint8_t>(sum >> (8 * i));
  return Status::Ok();
}

uint64_t PeImageEnd(const uint8_t* data, size_t size) {
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return 0;
  const uint64_t pe = U32(data + 0x3C);
  // The signature, the COFF header and SizeOfHeaders (optional header + 60) must be there.
  if (pe + 24 + 64 > size || std::memcmp(data + pe, "PE\0\0", 4) != 0) return 0;
  const uint32_t sections = U16(data + pe + 6);
  const uint64_t table = pe + 24 + U16(data + pe + 20);
  if (table + 40ull * sections > size) return 0;
  uint64_t last = U32(data + pe + 24 + 60);  // SizeOfHeaders
  for (uint32_t i = 0; i < sections; ++i) {
    const uint8_t* header = data + table + 40ull * i;
    const uint32_t rawSize = U32(header + 16), rawAt = U32(header + 20);
    if (rawSize != 0) last = std::max<uint64_t>(last, uint64_t{rawAt} + rawSize);
  }
  return last;
}

}  // namespace sfxpack
