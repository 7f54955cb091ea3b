// The reader's parts for a file in memory and for what lies past the data directories: the
// whole-file parse, the optional header's fields, the certificate table's range, the sections and the mapping of
// virtual addresses into the file.
#include "sfxstub/format/pe_image.h"

#include <cstring>

#include "sfxstub/format/byte_order.h"

namespace sfx {

PeProblem PeImage::Parse(const uint8_t* data, size_t size, PeRules rules) {
  uint32_t offset = 0;
  const PeProblem problem = HeaderOffset(data, size, size, rules, &offset);
  if (problem != PeProblem::kNone) return problem;
  return ParseHeaders(data + offset, size - offset, offset, size, rules);
}

bool PeImage::OptionalU32(uint32_t field, uint32_t* value, uint32_t* fileOffset) const {
  const uint8_t* bytes = OptionalField(field, 4);
  if (bytes == nullptr) return false;
  *value = LoadU32(bytes);
  if (fileOffset != nullptr) *fileOffset = offset_ + kPeOptionalHeaderStart + field;
  return true;
}

bool PeImage::CheckSumOffset(uint32_t* offset) const {
  uint32_t value = 0;
  return OptionalU32(kPeCheckSumField, &value, offset);
}

bool PeImage::CertificateTable(PeRange* table) const {
  PeDirectory entry;
  if (!Directory(kPeCertificateDirectory, &entry) || entry.address == 0 || entry.size == 0 ||
      uint64_t{entry.address} + entry.size > fileSize_) {
    return false;
  }
  table->offset = entry.address;
  table->size = entry.size;
  return true;
}

uint64_t PeImage::SectionTableOffset() const {
  return uint64_t{offset_} + kPeOptionalHeaderStart + optionalSize_;
}

PeProblem PeImage::Section(uint32_t index, PeSection* section) const {
  if (index >= sectionCount_) return PeProblem::kNoSuchSection;
  const uint64_t at = uint64_t{kPeOptionalHeaderStart} + optionalSize_ +
                      uint64_t{index} * kPeSectionEntrySize;
  const uint8_t* entry = At(at, kPeSectionEntrySize);
  if (entry == nullptr) return PeProblem::kSectionTableCut;
  PeSection s;
  std::memcpy(s.name, entry, sizeof s.name);
  s.virtualSize = LoadU32(entry + 8);
  s.virtualAddress = LoadU32(entry + 12);
  s.rawSize = LoadU32(entry + 16);
  s.rawOffset = LoadU32(entry + 20);
  s.characteristics = LoadU32(entry + 36);
  s.entryOffset = static_cast<uint32_t>(offset_ + at);
  if (uint64_t{s.rawOffset} + s.rawSize > fileSize_) return PeProblem::kSectionOutsideFile;
  uint32_t imageSize = 0;
  if (!SizeOfImage(&imageSize) || uint64_t{s.virtualAddress} + s.virtualSize > imageSize) {
    return PeProblem::kSectionOutsideImage;
  }
  *section = s;
  return PeProblem::kNone;
}

PeProblem PeImage::MapToFile(uint32_t rva, uint32_t size, PeRange* range,
                             uint32_t* sectionIndex) const {
  PeProblem first = PeProblem::kNone;
  for (uint32_t i = 0; i < sectionCount_; ++i) {
    PeSection s;
    const PeProblem problem = Section(i, &s);
    if (problem != PeProblem::kNone) {
      if (first == PeProblem::kNone) first = problem;
      continue;
    }
    // The bytes the file holds of the section: its raw data, cut at its virtual size (a section
    // without one counts its raw data whole).
    uint32_t extent = s.rawSize;
    if (s.virtualSize != 0 && s.virtualSize < extent) extent = s.virtualSize;
    if (rva < s.virtualAddress || rva - s.virtualAddress > extent ||
        size > extent - (rva - s.virtualAddress)) {
      continue;
    }
    range->offset = s.rawOffset + (rva - s.virtualAddress);
    range->size = size;
    if (sectionIndex != nullptr) *sectionIndex = i;
    return PeProblem::kNone;
  }
  return first != PeProblem::kNone ? first : PeProblem::kNotInAnySection;
}

PeProblem PeImage::ResourceDirectory(PeRange* range, uint32_t* sectionIndex) const {
  PeDirectory entry;
  if (!Directory(kPeResourceDirectory, &entry) || entry.size == 0) return PeProblem::kNoDirectory;
  return MapToFile(entry.address, entry.size, range, sectionIndex);
}

}  // namespace sfx
