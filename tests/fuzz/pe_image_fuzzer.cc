// libFuzzer target for the PE reader: any bytes as a whole file under both rules, and read the
// way a stream reader reads them (the DOS header, then the headers from the PE header on). Every
// range it hands out must lie inside the file, the stream's reading must come to what the whole
// file's does, and no read may leave the bytes (the sanitizer sees it).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sfxstub/format/pe_image.h"

namespace {

bool Inside(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

void CheckRanges(const sfx::PeImage& image, uint64_t size) {
  sfx::PeRange range;
  uint32_t at = 0;
  if (image.CertificateTable(&range) && !Inside(range.offset, range.size, size)) __builtin_trap();
  if (image.CertificateTableOffset(&at) && at > size) __builtin_trap();
  if (image.CheckSumOffset(&at) && !Inside(at, 4, size)) __builtin_trap();
  for (uint32_t i = 0; i < 20; ++i) {
    sfx::PeDirectory entry;
    if (image.Directory(i, &entry) && !Inside(entry.entryOffset, 8, size)) __builtin_trap();
  }
  const uint32_t sections = image.SectionCount() < 100 ? image.SectionCount() : 100;
  for (uint32_t i = 0; i < sections; ++i) {
    sfx::PeSection section;
    if (image.Section(i, &section) != sfx::PeProblem::kNone) continue;
    if (!Inside(section.rawOffset, section.rawSize, size)) __builtin_trap();
    if (!Inside(section.entryOffset, sfx::kPeSectionEntrySize, size)) __builtin_trap();
  }
  uint32_t holder = 0;
  if (image.ResourceDirectory(&range, &holder) == sfx::PeProblem::kNone) {
    sfx::PeSection section;
    if (image.Section(holder, &section) != sfx::PeProblem::kNone) __builtin_trap();
    if (range.offset < section.rawOffset ||
        !Inside(range.offset - section.rawOffset, range.size, section.rawSize)) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past the end is seen by the sanitizer.
  const std::vector<uint8_t> copy(data, data + size);
  for (sfx::PeRules rules : {sfx::PeRules::kStrict, sfx::PeRules::kTrailerSearch}) {
    sfx::PeImage whole;
    const sfx::PeProblem problem = whole.Parse(copy.data(), copy.size(), rules);
    if (problem == sfx::PeProblem::kNone) CheckRanges(whole, size);

    const auto readAt = [&copy](uint64_t at, uint8_t* buffer, uint32_t n) {
      if (at > copy.size() || n > copy.size() - at) return false;
      std::memcpy(buffer, copy.data() + at, n);
      return true;
    };
    uint8_t headers[sfx::kPeHeadersSize];
    sfx::PeImage streamed;
    if (sfx::ReadPeHeaders(readAt, size, rules, headers, &streamed) != problem) __builtin_trap();
    if (problem != sfx::PeProblem::kNone) continue;
    CheckRanges(streamed, size);
    uint32_t a = 0, b = 0;
    if (whole.CertificateTableOffset(&a) != streamed.CertificateTableOffset(&b) || a != b) {
      __builtin_trap();
    }
  }
  return 0;
}
