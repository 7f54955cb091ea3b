// The PE reader over made-up images of both kinds (whole, truncated, with hostile fields, read
// in memory and through a stream's reads) and over the real stubs where the build trees hold
// them.
#include "sfxstub/format/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "sfxstub/format/byte_order.h"
#include "tests/common/minimal_pe.h"

namespace sfx {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kHeader = test::kSampleHeader;
constexpr uint32_t kOptional = kHeader + kPeOptionalHeaderStart;
constexpr uint32_t kSections = test::kSampleSections;
constexpr uint32_t kRawStart = test::kSampleRawStart;
constexpr uint32_t kRawSize = test::kSampleRawSize;

uint32_t FirstDirectory(PeKind kind) { return kOptional + (kind == PeKind::kPe32Plus ? 112 : 96); }
uint32_t SectionEntry(PeKind kind, uint32_t i) {
  return kOptional + (kind == PeKind::kPe32Plus ? 240 : 224) + i * kPeSectionEntrySize;
}
Bytes MakeImage(PeKind kind, uint32_t certificates = 0) {
  return test::SamplePeImage(kind, certificates);
}

TEST(PeImageTest, ReadsBothKindsWithTheirDirectoriesSectionsAndResources) {
  for (PeKind kind : {PeKind::kPe32, PeKind::kPe32Plus}) {
    SCOPED_TRACE(static_cast<int>(kind));
    const Bytes file = MakeImage(kind, 0x48);
    PeImage image;
    ASSERT_EQ(PeProblem::kNone, image.Parse(file.data(), file.size()));
    EXPECT_EQ(kind, image.kind());
    EXPECT_EQ(kHeader, image.headerOffset());
    EXPECT_EQ(kHeader + 8, image.timeDateStampOffset());
    uint32_t at = 0, size = 0;
    ASSERT_TRUE(image.CheckSumOffset(&at));
    EXPECT_EQ(kOptional + 64, at);
    ASSERT_TRUE(image.SizeOfImage(&size));
    EXPECT_EQ(0x4000u, size);
    EXPECT_EQ(16u, image.DirectoryCount());

    PeDirectory entry;
    ASSERT_TRUE(image.Directory(kPeCertificateDirectory, &entry));
    EXPECT_EQ(FirstDirectory(kind) + 32, entry.entryOffset);
    PeRange table;
    ASSERT_TRUE(image.CertificateTable(&table));
    EXPECT_EQ(file.size() - 0x48, table.offset);
    EXPECT_EQ(0x48u, table.size);

    ASSERT_EQ(kSections, image.SectionCount());
    EXPECT_EQ(SectionEntry(kind, 0), image.SectionTableOffset());
    PeSection section;
    ASSERT_EQ(PeProblem::kNone, image.Section(2, &section));
    EXPECT_EQ(0, std::memcmp(section.name, ".rsrc", 6));
    EXPECT_EQ(0x3000u, section.virtualAddress);
    EXPECT_EQ(kRawStart + 2 * kRawSize, section.rawOffset);
    EXPECT_EQ(SectionEntry(kind, 2), section.entryOffset);
    EXPECT_EQ(PeProblem::kNoSuchSection, image.Section(3, &section));

    PeRange resources;
    uint32_t holder = 9;
    ASSERT_EQ(PeProblem::kNone, image.ResourceDirectory(&resources, &holder));
    EXPECT_EQ(2u, holder);
    EXPECT_EQ(kRawStart + 2 * kRawSize + 0x40, resources.offset);
    EXPECT_EQ(0x40u, resources.size);
  }
}

// What parsing makes of damaged and hostile headers, under both rules.
TEST(PeImageTest, RefusesTruncatedAndHostileHeadersWithoutWrappingAround) {
  struct Case {
    const char* what;
    std::function<void(Bytes*)> spoil;
    PeProblem strict;
    PeProblem trailerSearch;
  };
  auto u32 = [](uint32_t at, uint32_t v) { return [=](Bytes* b) { StoreU32(&(*b)[at], v); }; };
  auto cut = [](size_t n) { return [=](Bytes* b) { b->resize(n); }; };
  const Case cases[] = {
      {"whole", [](Bytes*) {}, PeProblem::kNone, PeProblem::kNone},
      {"shorter than the DOS header", cut(63), PeProblem::kNoDosHeader, PeProblem::kNoDosHeader},
      {"no MZ", [](Bytes* b) { (*b)[1] = 'X'; }, PeProblem::kNoDosHeader, PeProblem::kNoDosHeader},
      {"ZM", [](Bytes* b) { std::swap((*b)[0], (*b)[1]); }, PeProblem::kNoDosHeader, PeProblem::kNone},
      {"header offset past the end", u32(0x3C, 0x9FD), PeProblem::kHeaderOutsideFile,
       PeProblem::kHeaderOutsideFile},
      {"header offset near 4 GiB", u32(0x3C, 0xFFFFFFFE), PeProblem::kHeaderOutsideFile,
       PeProblem::kHeaderOutsideFile},
      {"header inside the DOS header", u32(0x3C, 0x20), PeProblem::kHeaderOutsideFile,
       PeProblem::kNoPeSignature},
      {"no PE signature", [](Bytes* b) { (*b)[kHeader + 3] = 1; }, PeProblem::kNoPeSignature,
       PeProblem::kNoPeSignature},
      {"cut inside the COFF header", cut(kHeader + 20), PeProblem::kHeadersCut, PeProblem::kHeadersCut},
      {"cut before the magic's end", cut(kOptional + 1), PeProblem::kHeadersCut, PeProblem::kHeadersCut},
      {"ROM magic", [](Bytes* b) { StoreU16(&(*b)[kOptional], 0x107); }, PeProblem::kUnknownMagic,
       PeProblem::kNone},
  };
  for (const Case& c : cases) {
    Bytes file = MakeImage(PeKind::kPe32);
    c.spoil(&file);
    PeImage image;
    EXPECT_EQ(c.strict, image.Parse(file.data(), file.size())) << c.what;
    EXPECT_EQ(c.trailerSearch, image.Parse(file.data(), file.size(), PeRules::kTrailerSearch)) << c.what;
  }
  EXPECT_TRUE(HasPeSignature(PeProblem::kUnknownMagic));
  EXPECT_FALSE(HasPeSignature(PeProblem::kNoPeSignature));
}

// Fields, directories and sections that lie past what holds them are absent; ranges that run
// past the file or the image are refused, however their sums would wrap in 32 bits.
TEST(PeImageTest, HandsOutOnlyRangesThatLieInsideTheFileAndTheImage) {
  const Bytes good = MakeImage(PeKind::kPe32Plus, 0x40);
  const uint32_t certificate = FirstDirectory(PeKind::kPe32Plus) + 8 * kPeCertificateDirectory;
  const uint32_t rsrc = SectionEntry(PeKind::kPe32Plus, 2);
  struct Case {
    const char* what;
    uint32_t at;
    uint32_t value;
    bool table, tableOffset;
    PeProblem section, resources;
  };
  const Case cases[] = {
      {"as made", 0, 'M' | 'Z' << 8, true, true, PeProblem::kNone, PeProblem::kNone},
      {"four directories", FirstDirectory(PeKind::kPe32Plus) - 4, 4, false, false, PeProblem::kNone,
       PeProblem::kNone},
      {"table past the end", certificate + 4, 0x41, false, true, PeProblem::kNone, PeProblem::kNone},
      {"table size that wraps", certificate + 4, 0xFFFFFFF8, false, true, PeProblem::kNone,
       PeProblem::kNone},
      {"table offset past the end", certificate, 0xFFFFFFF0, false, false, PeProblem::kNone,
       PeProblem::kNone},
      {"raw data that wrap", rsrc + 20, 0xFFFFFF00, true, true, PeProblem::kSectionOutsideFile,
       PeProblem::kSectionOutsideFile},
      {"virtual range past SizeOfImage", rsrc + 8, 0x1001, true, true,
       PeProblem::kSectionOutsideImage, PeProblem::kSectionOutsideImage},
      {"resources past the raw data", rsrc + 16, 0x60, true, true, PeProblem::kNone,
       PeProblem::kNotInAnySection},
      {"two sections", kHeader + 6, 0x10002, true, true, PeProblem::kNoSuchSection,
       PeProblem::kNotInAnySection},
  };
  for (const Case& c : cases) {
    Bytes file = good;
    StoreU32(&file[c.at], c.value);
    PeImage image;
    ASSERT_EQ(PeProblem::kNone, image.Parse(file.data(), file.size())) << c.what;
    PeRange range;
    uint32_t offset = 0;
    EXPECT_EQ(c.table, image.CertificateTable(&range)) << c.what;
    EXPECT_EQ(c.tableOffset, image.CertificateTableOffset(&offset)) << c.what;
    PeSection section;
    EXPECT_EQ(c.section, image.Section(2, &section)) << c.what;
    EXPECT_EQ(c.resources, image.ResourceDirectory(&range, nullptr)) << c.what;
  }
  // A table of 0xFFFF sections runs past the file: those past it are cut off, not read.
  Bytes many = good;
  StoreU16(&many[kHeader + 6], 0xFFFF);
  PeImage image;
  ASSERT_EQ(PeProblem::kNone, image.Parse(many.data(), many.size()));
  PeSection section;
  EXPECT_EQ(PeProblem::kSectionTableCut, image.Section(0xFFFE, &section));
}

// An optional header declared too short: strictly its fields and directories are absent; the
// trailer search still reads entry 4 where PE32's layout puts it, once the declared header
// reaches NumberOfRvaAndSizes.
TEST(PeImageTest, AShortOptionalHeaderHidesWhatLiesPastIt) {
  for (uint16_t size : {uint16_t{60}, uint16_t{68}, uint16_t{96}, uint16_t{136}}) {
    SCOPED_TRACE(size);
    Bytes file = MakeImage(PeKind::kPe32, 0x40);
    StoreU16(&file[kHeader + 20], size);
    PeImage strict, lenient;
    ASSERT_EQ(PeProblem::kNone, strict.Parse(file.data(), file.size()));
    ASSERT_EQ(PeProblem::kNone, lenient.Parse(file.data(), file.size(), PeRules::kTrailerSearch));
    uint32_t at = 0;
    EXPECT_EQ(size >= 68, strict.CheckSumOffset(&at));
    PeRange table;
    EXPECT_EQ(size >= 136, strict.CertificateTable(&table));
    EXPECT_EQ(size >= 96, lenient.CertificateTable(&table));
  }
}

// The stream's way: the DOS header, then kPeHeadersSize bytes from the PE header on, wherever it
// stands; the result is what parsing the whole file gives.
TEST(PeImageTest, ReadsTheHeadersThroughAStreamsReads) {
  Bytes file = MakeImage(PeKind::kPe32Plus, 0x40);
  // The headers moved 64 KiB further into the file, the certificate table with them.
  Bytes far(0x10000 + file.size() - kHeader, 0);
  std::copy(file.begin(), file.begin() + 0x40, far.begin());
  std::copy(file.begin() + kHeader, file.end(), far.begin() + 0x10000);
  StoreU32(&far[kPeHeaderOffsetField], 0x10000);
  const uint32_t entry = 0x10000 - kHeader + FirstDirectory(PeKind::kPe32Plus) + 32;
  StoreU32(&far[entry], static_cast<uint32_t>(far.size() - 0x40));

  int reads = 0;
  bool fail = false;
  auto readAt = [&](uint64_t at, uint8_t* buffer, uint32_t n) {
    ++reads;
    if (fail || at + n > far.size()) return false;
    std::memcpy(buffer, far.data() + at, n);
    return true;
  };
  uint8_t headers[kPeHeadersSize];
  PeImage streamed, whole;
  ASSERT_EQ(PeProblem::kNone, ReadPeHeaders(readAt, far.size(), PeRules::kStrict, headers, &streamed));
  EXPECT_EQ(2, reads);
  ASSERT_EQ(PeProblem::kNone, whole.Parse(far.data(), far.size()));
  PeRange a, b;
  ASSERT_TRUE(streamed.CertificateTable(&a));
  ASSERT_TRUE(whole.CertificateTable(&b));
  EXPECT_EQ(b.offset, a.offset);
  EXPECT_EQ(0x10000u, streamed.headerOffset());
  // The section table lies past the bytes read.
  PeSection section;
  EXPECT_EQ(PeProblem::kSectionTableCut, streamed.Section(0, &section));
  EXPECT_EQ(PeProblem::kNone, whole.Section(0, &section));

  // A file that ends inside the headers hands over what it has; a failed read says so.
  EXPECT_EQ(PeProblem::kHeadersCut,
            ReadPeHeaders(readAt, 0x10000 + 25, PeRules::kStrict, headers, &streamed));
  fail = true;
  EXPECT_EQ(PeProblem::kUnreadable, ReadPeHeaders(readAt, far.size(), PeRules::kStrict, headers, &streamed));
  EXPECT_EQ(PeProblem::kNoDosHeader, ReadPeHeaders(readAt, 63, PeRules::kStrict, headers, &streamed));
}

// The stubs this tree builds, where the Windows trees have made them (natively, after
// scripts/build.sh built every tree): each is what its build says, with the resources in the
// last section and no certificate table.
TEST(PeImageTest, ReadsTheRealStubs) {
  struct Stub {
    const char* path;
    PeKind kind;
    uint16_t machine;
  };
  const Stub stubs[] = {
      {SFXSTUB_SOURCE_DIR "/build/win32/sfxstub/main/sfxstub.exe", PeKind::kPe32, 0x14C},
      {SFXSTUB_SOURCE_DIR "/build/win64/sfxstub/main/sfxstub64.exe", PeKind::kPe32Plus, 0x8664},
  };
  int found = 0;
  for (const Stub& stub : stubs) {
    std::ifstream in(stub.path, std::ios::binary);
    if (!in) continue;
    ++found;
    SCOPED_TRACE(stub.path);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    PeImage image;
    ASSERT_EQ(PeProblem::kNone, image.Parse(file.data(), file.size()));
    EXPECT_EQ(stub.kind, image.kind());
    EXPECT_EQ(stub.machine, image.machine());
    EXPECT_NE(0u, LoadU32(&file[image.timeDateStampOffset()]));
    PeRange range;
    EXPECT_FALSE(image.CertificateTable(&range));
    uint32_t last = 0, imageSize = 0;
    ASSERT_EQ(PeProblem::kNone, image.ResourceDirectory(&range, &last));
    ASSERT_TRUE(image.SizeOfImage(&imageSize));
    EXPECT_EQ(image.SectionCount() - 1u, last);
    for (uint32_t i = 0; i < image.SectionCount(); ++i) {
      PeSection section;
      EXPECT_EQ(PeProblem::kNone, image.Section(i, &section)) << i;
      if (i == last) {
        EXPECT_EQ(0, std::memcmp(section.name, ".rsrc", 6));
        EXPECT_EQ(imageSize, (section.virtualAddress + section.virtualSize + 0xFFF) & ~0xFFFu);
      }
    }
  }
  if (found == 0) GTEST_SKIP() << "no stub built yet in build/win32 or build/win64";
}

}  // namespace
}  // namespace sfx
