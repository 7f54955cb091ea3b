// PeImage: the headers of a Windows program image (PE32 or PE32+), read from its bytes without
// trusting any of them. The stub's trailer search and every tool that looks into a PE file
// (sfxpack's checks, list and Authenticode signing, sfxgen's time stamp and checksum) read the
// headers through it.
//
// What it reads. Parsing reads the DOS header's "MZ" and the PE header's offset (at 0x3C); there
// the "PE\0\0" signature, the COFF file header (Machine, NumberOfSections, TimeDateStamp,
// SizeOfOptionalHeader) and the optional header's magic: 0x10B makes the image PE32, 0x20B
// PE32+. Everything else is read when asked for: the optional header's fields, the data
// directories (the certificate table and the resource directory among them) and the section
// table, which follows the optional header.
//
// Over which bytes. The image refers to bytes it does not own, which must outlive it. A file in
// memory is parsed whole (Parse). A reader of a stream reads the DOS header, asks HeaderOffset
// where the PE header stands, reads from there (kPeHeadersSize bytes reach every data directory
// of either kind) and parses those bytes (ParseHeaders); ReadPeHeaders takes the three steps
// through any function that reads at an offset. A field past the bytes given is absent, exactly
// like one past the headers; the section table usually lies past kPeHeadersSize.
//
// What is checked. Offsets are added in 64 bits, so no u32 sum wraps around. Parsing succeeds
// only when the signature, the COFF header and the magic lie within the bytes given and the
// file. An optional header field is present only within SizeOfOptionalHeader, a data directory
// only below NumberOfRvaAndSizes. Every range handed out as a file range lies within the file's
// size (the certificate table, a section's raw data, a directory mapped into the file), every
// section's virtual range within SizeOfImage. Values that are no range (the raw directory
// entries, TimeDateStamp) are handed out as they stand.
//
// Rules. kStrict is what the tools ask of an image and what Windows' loader asks of a program:
// "MZ", a PE header that does not overlap the DOS header, a PE32 or PE32+ magic, directory
// entries within the optional header. kTrailerSearch is how the stub's search for the closing
// signature has always read the headers of the file it runs from: "ZM" passes for "MZ", a magic
// other than PE32+'s is read with PE32's layout, and a data directory entry is read where that
// layout puts it even when the optional header is declared shorter (SizeOfOptionalHeader must
// still reach NumberOfRvaAndSizes).
#ifndef SFXSTUB_FORMAT_PE_IMAGE_H_
#define SFXSTUB_FORMAT_PE_IMAGE_H_

#include <cstddef>
#include <cstdint>

#include "sfxstub/format/byte_order.h"

namespace sfx {

enum class PeKind : int { kUnknown = 0, kPe32, kPe32Plus };
enum class PeRules : int { kStrict = 0, kTrailerSearch };

// What parsing, or an accessor that hands out a range, came to.
enum class PeProblem : int {
  kNone = 0,
  // Parsing.
  kUnreadable,          // the source could not read the headers (ReadPeHeaders)
  kNoDosHeader,         // shorter than the DOS header, or no "MZ" at its start
  kHeaderOutsideFile,   // the PE header's offset leaves no room for "PE\0\0" in the file
                        // (kStrict: or lies inside the DOS header)
  kNoPeSignature,       // no "PE\0\0" at that offset
  kHeadersCut,          // the bytes end inside the COFF header or before the optional header's magic
  kUnknownMagic,        // kStrict: an optional header magic other than 0x10B and 0x20B
  // The accessors.
  kNoSuchSection,       // an index at or past NumberOfSections
  kSectionTableCut,     // the section's entry lies past the bytes given
  kSectionOutsideFile,  // its raw data reach past the end of the file
  kSectionOutsideImage, // its virtual range reaches past SizeOfImage, or there is no SizeOfImage
  kNoDirectory,         // the data directory is absent or empty
  kNotInAnySection,     // no section's raw data hold the range
};

// True when parsing found the PE signature where the DOS header points, whatever follows it.
inline bool HasPeSignature(PeProblem problem) {
  return problem == PeProblem::kNone || problem == PeProblem::kHeadersCut ||
         problem == PeProblem::kUnknownMagic;
}

// A short English text for `problem` ("no \"PE\\0\\0\" signature where the DOS header points").
const char* PeProblemText(PeProblem problem);

// A data directory entry as it stands: `address` is an RVA, for the certificate table a file
// offset; `entryOffset` is the file offset of the 8-byte entry itself.
struct PeDirectory {
  uint32_t address = 0;
  uint32_t size = 0;
  uint32_t entryOffset = 0;
};

// A range of the file, checked to lie within it.
struct PeRange {
  uint32_t offset = 0;
  uint32_t size = 0;
};

// One entry of the section table.
struct PeSection {
  char name[8] = {};  // not terminated when it is 8 long
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;  // PointerToRawData
  uint32_t rawSize = 0;    // SizeOfRawData
  uint32_t characteristics = 0;
  uint32_t entryOffset = 0;  // the file offset of its 40-byte entry
};

constexpr uint32_t kPeDosHeaderSize = 64;
constexpr uint32_t kPeHeaderOffsetField = 0x3C;  // in the DOS header: e_lfanew
// From the PE header on: "PE\0\0" (4), the COFF file header (20), then the optional header.
constexpr uint32_t kPeOptionalHeaderStart = 24;
// The bytes from the PE header on that hold every data directory of either kind (a PE32+
// optional header with its 16 directories is 240 bytes long).
constexpr uint32_t kPeHeadersSize = kPeOptionalHeaderStart + 240;
constexpr uint32_t kPeSectionEntrySize = 40;
// Optional header fields, in bytes from its start; the same places in PE32 and PE32+.
constexpr uint32_t kPeSectionAlignmentField = 32;
constexpr uint32_t kPeFileAlignmentField = 36;
constexpr uint32_t kPeSizeOfImageField = 56;
constexpr uint32_t kPeSizeOfHeadersField = 60;
constexpr uint32_t kPeCheckSumField = 64;
// Data directories.
constexpr uint32_t kPeResourceDirectory = 2;
constexpr uint32_t kPeCertificateDirectory = 4;

class PeImage {
 public:
  // The file whole: data[0, size).
  PeProblem Parse(const uint8_t* data, size_t size, PeRules rules = PeRules::kStrict);

  // The first step for a stream: from the first `size` bytes of a file of `fileSize` bytes,
  // the offset of its PE header (kNoDosHeader or kHeaderOutsideFile otherwise).
  static PeProblem HeaderOffset(const uint8_t* dos, size_t size, uint64_t fileSize, PeRules rules,
                                uint32_t* offset);
  // The second: `headers` holds `size` bytes of the file from `offset` (HeaderOffset's) on.
  PeProblem ParseHeaders(const uint8_t* headers, size_t size, uint32_t offset, uint64_t fileSize,
                         PeRules rules);

  PeKind kind() const { return kind_; }
  uint16_t magic() const { return magic_; }
  uint16_t machine() const { return machine_; }
  uint32_t headerOffset() const { return offset_; }
  // The file offset of the COFF header's TimeDateStamp (u32).
  uint32_t timeDateStampOffset() const { return offset_ + 8; }

  // The u32 optional header field `field` bytes into the optional header (the kPe...Field
  // constants), and its file offset; false when the field is absent.
  bool OptionalU32(uint32_t field, uint32_t* value, uint32_t* fileOffset = nullptr) const;
  bool CheckSumOffset(uint32_t* offset) const;
  bool SizeOfImage(uint32_t* size) const { return OptionalU32(kPeSizeOfImageField, size); }

  // NumberOfRvaAndSizes (0 when the optional header does not reach it).
  uint32_t DirectoryCount() const {
    const uint8_t* count = OptionalField(FirstDirectory() - 4, 4);
    return count != nullptr ? LoadU32(count) : 0;
  }
  // Data directory `index` as it stands (false when absent; an entry of zeros is present).
  bool Directory(uint32_t index, PeDirectory* entry) const;
  // The certificate table's range: entry 4, non-empty, within the file.
  bool CertificateTable(PeRange* table) const;
  // Entry 4's file offset alone, as the trailer search reads it (its size does not count):
  // false when the entry is absent, or its offset 0 or beyond the end of the file. (Inline: the
  // stub's one caller then needs no function of its own for it.)
  bool CertificateTableOffset(uint32_t* offset) const {
    PeDirectory entry;
    if (!Directory(kPeCertificateDirectory, &entry) || entry.address == 0 ||
        entry.address > fileSize_) {
      return false;
    }
    *offset = entry.address;
    return true;
  }

  uint16_t SectionCount() const { return sectionCount_; }
  // The file offset of the section table.
  uint64_t SectionTableOffset() const;
  PeProblem Section(uint32_t index, PeSection* section) const;
  // The file range that holds the image's bytes [rva, rva + size): within the raw data of one
  // section (and within its virtual size, where it has one); `sectionIndex` (optional) says
  // which section.
  PeProblem MapToFile(uint32_t rva, uint32_t size, PeRange* range, uint32_t* sectionIndex) const;
  // The resource directory (entry 2) mapped into the file, and the section that holds it.
  PeProblem ResourceDirectory(PeRange* range, uint32_t* sectionIndex) const;

 private:
  // The bytes [at, at + n) counted from the PE header, or null when they lie past the bytes given.
  // (These two are always inlined: called out of line they cost the stub more bytes.)
  [[gnu::always_inline]] const uint8_t* At(uint64_t at, uint32_t n) const {
    return at > headersSize_ || n > headersSize_ - at ? nullptr : headers_ + at;
  }
  // The bytes [field, field + n) of the optional header, or null when they lie past
  // SizeOfOptionalHeader or past the bytes given.
  [[gnu::always_inline]] const uint8_t* OptionalField(uint64_t field, uint32_t n) const {
    return field + n > optionalSize_ ? nullptr : At(kPeOptionalHeaderStart + field, n);
  }
  // Where the kind's data directories begin in the optional header: 16 bytes further on in
  // PE32+, whose ImageBase and stack and heap sizes are 64-bit and which has no BaseOfData
  // (PE32's layout for an unknown magic, which only kTrailerSearch lets through).
  uint32_t FirstDirectory() const { return kind_ == PeKind::kPe32Plus ? 112 : 96; }

  const uint8_t* headers_ = nullptr;  // from the PE header on
  uint64_t headersSize_ = 0;
  uint64_t fileSize_ = 0;
  uint32_t offset_ = 0;
  PeRules rules_ = PeRules::kStrict;
  PeKind kind_ = PeKind::kUnknown;
  uint16_t magic_ = 0;
  uint16_t machine_ = 0;
  uint16_t sectionCount_ = 0;
  uint16_t optionalSize_ = 0;
};

// The three steps over a source that `readAt(uint64_t offset, uint8_t* buffer, uint32_t n)`
// reads (true when it read all n bytes): the DOS header, then kPeHeadersSize bytes from the PE
// header on (fewer where the file ends sooner) into `headers`, which `image` then refers to.
template <typename ReadAt>
PeProblem ReadPeHeaders(const ReadAt& readAt, uint64_t fileSize, PeRules rules,
                        uint8_t (&headers)[kPeHeadersSize], PeImage* image) {
  uint8_t dos[kPeDosHeaderSize];
  if (fileSize < kPeDosHeaderSize) return PeProblem::kNoDosHeader;
  if (!readAt(0, dos, kPeDosHeaderSize)) return PeProblem::kUnreadable;
  uint32_t offset = 0;
  const PeProblem problem = PeImage::HeaderOffset(dos, sizeof dos, fileSize, rules, &offset);
  if (problem != PeProblem::kNone) return problem;
  const uint64_t left = fileSize - offset;
  const uint32_t n = left < kPeHeadersSize ? static_cast<uint32_t>(left) : kPeHeadersSize;
  if (!readAt(offset, headers, n)) return PeProblem::kUnreadable;
  return image->ParseHeaders(headers, n, offset, fileSize, rules);
}

}  // namespace sfx

#endif  // SFXSTUB_FORMAT_PE_IMAGE_H_
