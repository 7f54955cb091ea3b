// The headers and the data directories: all the stub's trailer search reads. The rest of the
// reader (pe_image_layout.cc, pe_problem_text.cc) lies in objects of its own, which the stub does
// not link: its 64-bit link keeps every function of an object it links (each has unwind data).
#include "sfxstub/format/pe_image.h"

#include "sfxstub/format/byte_order.h"

namespace sfx {
namespace {

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kDirectoryEntrySize = 8;
// "PE\0\0", then in the COFF header Machine (u16), NumberOfSections (u16), TimeDateStamp,
// PointerToSymbolTable, NumberOfSymbols (u32 each), SizeOfOptionalHeader (u16).
constexpr uint32_t kMachineField = 4;
constexpr uint32_t kSectionCountField = 6;
constexpr uint32_t kOptionalSizeField = 20;

}  // namespace

PeProblem PeImage::HeaderOffset(const uint8_t* dos, size_t size, uint64_t fileSize, PeRules rules,
                                uint32_t* offset) {
  if (size < kPeDosHeaderSize || fileSize < kPeDosHeaderSize) return PeProblem::kNoDosHeader;
  const bool mz = dos[0] == 'M' && dos[1] == 'Z';
  const bool zm = dos[0] == 'Z' && dos[1] == 'M';
  if (!mz && !(zm && rules == PeRules::kTrailerSearch)) return PeProblem::kNoDosHeader;
  const uint32_t at = LoadU32(dos + kPeHeaderOffsetField);
  if (uint64_t{at} + 4 > fileSize) return PeProblem::kHeaderOutsideFile;
  if (rules == PeRules::kStrict && at < kPeDosHeaderSize) return PeProblem::kHeaderOutsideFile;
  *offset = at;
  return PeProblem::kNone;
}

PeProblem PeImage::ParseHeaders(const uint8_t* headers, size_t size, uint32_t offset,
                                uint64_t fileSize, PeRules rules) {
  *this = PeImage();
  if (offset > fileSize) return PeProblem::kHeaderOutsideFile;
  // Nothing past the end of the file is taken for the file's, whatever the caller hands in.
  const uint64_t inFile = fileSize - offset;
  headersSize_ = size < inFile ? size : inFile;
  headers_ = headers;
  fileSize_ = fileSize;
  offset_ = offset;
  rules_ = rules;
  if (headersSize_ < 4 || LoadU32(headers) != kPeSignature) return PeProblem::kNoPeSignature;
  if (headersSize_ < kPeOptionalHeaderStart + 2) return PeProblem::kHeadersCut;
  machine_ = LoadU16(headers + kMachineField);
  sectionCount_ = LoadU16(headers + kSectionCountField);
  optionalSize_ = LoadU16(headers + kOptionalSizeField);
  magic_ = LoadU16(headers + kPeOptionalHeaderStart);
  kind_ = magic_ == kMagicPe32 ? PeKind::kPe32 : magic_ == kMagicPe32Plus ? PeKind::kPe32Plus
                                                                          : PeKind::kUnknown;
  if (kind_ == PeKind::kUnknown && rules == PeRules::kStrict) return PeProblem::kUnknownMagic;
  return PeProblem::kNone;
}

bool PeImage::Directory(uint32_t index, PeDirectory* entry) const {
  if (index >= DirectoryCount()) return false;
  const uint64_t field = FirstDirectory() + uint64_t{index} * kDirectoryEntrySize;
  // Strictly within the optional header; the trailer search reads past a short one.
  const uint8_t* bytes = rules_ == PeRules::kStrict
                             ? OptionalField(field, kDirectoryEntrySize)
                             : At(kPeOptionalHeaderStart + field, kDirectoryEntrySize);
  if (bytes == nullptr) return false;
  entry->address = LoadU32(bytes);
  entry->size = LoadU32(bytes + 4);
  entry->entryOffset = static_cast<uint32_t>(offset_ + kPeOptionalHeaderStart + field);
  return true;
}

}  // namespace sfx
