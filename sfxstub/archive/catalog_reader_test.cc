// The catalog's chunk readers over memory streams: no file, no signature.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sfxstub/io/memory_stream.h"
#include "sfxstub/archive/sfx_archive.h"
#include "tests/common/status_printer.h"
#include "tools/sfxpack/package_writer.h"

namespace sfx {
namespace {

using sfxpack::AppendChunk;
using sfxpack::AppendTextChunk;
using Bytes = std::vector<uint8_t>;

Bytes U32s(std::initializer_list<uint32_t> values) {
  Bytes out;
  for (uint32_t v : values) AppendU32(&out, v);
  return out;
}

Bytes FileChunkPayload(const std::string& name, uint32_t offset, uint32_t size, uint32_t time) {
  Bytes entry;
  AppendTextChunk(&entry, "NAME", name);
  AppendChunk(&entry, "PTRL", U32s({offset, size, time}));
  return entry;
}

Bytes ListOf(const std::vector<Bytes>& filePayloads) {
  Bytes list;
  for (const Bytes& f : filePayloads) AppendChunk(&list, "FILE", f);
  return list;
}

Status Read(SfxArchive* archive, Bytes catalog) {
  MemoryStream stream;
  catalog.push_back(0);  // Attach wants a non-null buffer even for an empty catalog
  EXPECT_TRUE(stream.Attach(catalog.data(), static_cast<uint32_t>(catalog.size() - 1)));
  return archive->ReadCatalog(&stream);
}

Bytes GoodHead() {
  Bytes c;
  AppendTextChunk(&c, "MODE", "extract");
  AppendTextChunk(&c, "CMDL", "%CMDLINE%");
  AppendChunk(&c, "CMDP", U32s({100, 200}));
  return c;
}

TEST(CatalogReader, ReadsTheCatalogAsWritten) {
  std::vector<sfxpack::CatalogEntry> entries = {{"a.dll", {10, 20}, 1000}, {"b.txt", {30, 0}, 7}};
  SfxArchive archive;
  ASSERT_EQ(Status::Ok(), Read(&archive, sfxpack::MakeCatalog("extract", "/x \"%SRCPATH%\"", {5, 6}, entries)));
  EXPECT_EQ("extract", archive.Mode());
  EXPECT_EQ("/x \"%SRCPATH%\"", archive.commandTemplate);
  EXPECT_EQ(5u, archive.mainOffset);
  EXPECT_EQ(6u, archive.mainSize);
  ASSERT_EQ(2u, archive.files.size());
  EXPECT_EQ("a.dll", archive.files[0].name);
  EXPECT_EQ(10u, archive.files[0].offset);
  EXPECT_EQ(20u, archive.files[0].size);
  EXPECT_EQ(1000u, archive.files[0].time);
  EXPECT_EQ("b.txt", archive.files[1].name);
  EXPECT_EQ(0u, archive.files[1].size);
}

TEST(CatalogReader, AnyOrderLaterChunksReplaceListsAppendUnknownTagsSkipped) {
  Bytes c;
  AppendTextChunk(&c, "XTRA", "odd length!");
  Bytes list1;
  Bytes entry;
  AppendChunk(&entry, "PTRL", U32s({1, 2, 3}));
  AppendTextChunk(&entry, "JUNK", "");
  AppendTextChunk(&entry, "NAME", "first");
  AppendTextChunk(&entry, "NAME", "one");  // replaces "first"
  AppendChunk(&entry, "PTRL", U32s({4, 5, 6}));  // replaces 1, 2, 3
  AppendChunk(&list1, "FILE", entry);
  AppendTextChunk(&list1, "NAME", "not in a FILE");  // other tags in a LIST are skipped
  AppendChunk(&c, "LIST", list1);
  AppendChunk(&c, "CMDP", U32s({1, 1}));
  AppendTextChunk(&c, "CMDL", "old");
  AppendTextChunk(&c, "MODE", "install");
  AppendTextChunk(&c, "MODE", "extract");  // replaces "install"
  AppendTextChunk(&c, "CMDL", "new");
  AppendChunk(&c, "CMDP", U32s({7, 8}));
  AppendChunk(&c, "LIST", ListOf({FileChunkPayload("two", 9, 10, 11)}));
  AppendChunk(&c, "LIST", Bytes());
  AppendTextChunk(&c, "ZZZZ", std::string(1000, 'z'));

  SfxArchive archive;
  ASSERT_EQ(Status::Ok(), Read(&archive, c));
  EXPECT_EQ("new", archive.commandTemplate);
  EXPECT_EQ(7u, archive.mainOffset);
  EXPECT_EQ(8u, archive.mainSize);
  ASSERT_EQ(2u, archive.files.size());
  EXPECT_EQ("one", archive.files[0].name);
  EXPECT_EQ(4u, archive.files[0].offset);
  EXPECT_EQ(5u, archive.files[0].size);
  EXPECT_EQ(6u, archive.files[0].time);
  EXPECT_EQ("two", archive.files[1].name);
  EXPECT_EQ(11u, archive.files[1].time);
}

TEST(CatalogReader, MainRangeOfOtherThanEightBytesIsMinusOneAtOnce) {
  for (uint32_t n : {0u, 4u, 12u}) {
    Bytes c;
    AppendChunk(&c, "CMDP", Bytes(n, 1));
    AppendTextChunk(&c, "MODE", "nonsense");  // never reached: -1 comes before the mode check
    SfxArchive archive;
    EXPECT_EQ(Status(-1, Refusal::kBadMainRangeLength), Read(&archive, c)) << n;
  }
}

TEST(CatalogReader, BadFileEntryFailsTheCatalogButTheListGoesOn) {
  Bytes shortRange;
  AppendTextChunk(&shortRange, "NAME", "bad");
  AppendChunk(&shortRange, "PTRL", U32s({1, 2}));  // 8 bytes
  Bytes c = GoodHead();
  AppendChunk(&c, "LIST", ListOf({shortRange, FileChunkPayload("good", 1, 2, 3)}));
  SfxArchive archive;
  EXPECT_EQ(Status(1006, Refusal::kBadFileRange), Read(&archive, c));
  ASSERT_EQ(1u, archive.files.size());  // the bad entry added nothing
  EXPECT_EQ("good", archive.files[0].name);

  // Of two bad entries the first one's reason is reported, in one list and across lists.
  Bytes nameOnly;
  AppendTextChunk(&nameOnly, "NAME", "nowhere");
  for (bool oneList : {true, false}) {
    Bytes both = GoodHead();
    if (oneList) {
      AppendChunk(&both, "LIST", ListOf({nameOnly, shortRange}));
    } else {
      AppendChunk(&both, "LIST", ListOf({nameOnly}));
      AppendChunk(&both, "LIST", ListOf({shortRange}));
    }
    SfxArchive twice;
    EXPECT_EQ(Status(1006, Refusal::kFileWithoutRange), Read(&twice, both)) << oneList;
  }

  // The mode check comes first.
  Bytes wrongMode;
  AppendTextChunk(&wrongMode, "MODE", "Extract");
  AppendChunk(&wrongMode, "CMDP", U32s({0, 0}));
  AppendChunk(&wrongMode, "LIST", ListOf({shortRange}));
  SfxArchive second;
  EXPECT_EQ(Status(87, Refusal::kNotExtractMode), Read(&second, wrongMode));
}

TEST(CatalogReader, MissingLocationsAreRefused) {
  Bytes nameOnly;
  AppendTextChunk(&nameOnly, "NAME", "nowhere");
  Bytes c = GoodHead();
  AppendChunk(&c, "LIST", ListOf({nameOnly}));
  SfxArchive archive;
  EXPECT_EQ(Status(1006, Refusal::kFileWithoutRange), Read(&archive, c));
  EXPECT_TRUE(archive.files.empty());

  Bytes noMain;
  AppendTextChunk(&noMain, "MODE", "extract");
  AppendChunk(&noMain, "LIST", ListOf({FileChunkPayload("a", 1, 2, 3)}));
  SfxArchive second;
  EXPECT_EQ(Status(1006, Refusal::kNoMainRange), Read(&second, noMain));
  // A bad "FILE" is reported before the missing "CMDP".
  AppendChunk(&noMain, "LIST", ListOf({nameOnly}));
  SfxArchive third;
  EXPECT_EQ(Status(1006, Refusal::kFileWithoutRange), Read(&third, noMain));
}

// Appends a chunk header with any length and `payload` bytes of 'x' after it.
void AppendRawChunk(Bytes* out, const char (&tag)[5], uint32_t length, size_t payload) {
  out->insert(out->end(), tag, tag + 4);
  AppendU32(out, length);
  out->insert(out->end(), payload, 'x');
}

// Lengths past the end of the container, including ones that would wrap the end of the payload
// around to a small position.
constexpr uint32_t kPastTheEnd[] = {9u, 1000u, 0xFFFFFFF8u, 0xFFFFFFFFu};

// An unknown chunk is skipped by its length: one that runs past its container ends that
// container's chunks, at every level, and what was read before it stands.
TEST(CatalogReader, UnknownChunkRunningPastItsContainerEndsIt) {
  for (uint32_t n : kPastTheEnd) {
    Bytes top = GoodHead();
    AppendChunk(&top, "LIST", ListOf({FileChunkPayload("a", 1, 2, 3)}));
    AppendRawChunk(&top, "XXXX", n, 8);
    SfxArchive a;
    EXPECT_EQ(Status::Ok(), Read(&a, top)) << n;
    EXPECT_EQ(1u, a.files.size()) << n;

    // Whatever lies inside the unknown chunk's claimed length is never read as chunks.
    Bytes hidesMode = GoodHead();
    AppendRawChunk(&hidesMode, "XXXX", n, 0);
    AppendTextChunk(&hidesMode, "MODE", "Extract");
    SfxArchive b;
    EXPECT_EQ(Status::Ok(), Read(&b, hidesMode)) << n;

    Bytes list;
    AppendChunk(&list, "FILE", FileChunkPayload("first", 1, 2, 3));
    AppendRawChunk(&list, "NAME", n, 8);  // not a tag of a list: unknown there
    Bytes inList = GoodHead();
    AppendChunk(&inList, "LIST", list);
    AppendChunk(&inList, "LIST", ListOf({FileChunkPayload("second", 4, 5, 6)}));
    SfxArchive c;
    EXPECT_EQ(Status::Ok(), Read(&c, inList)) << n;
    ASSERT_EQ(2u, c.files.size()) << n;  // the list after it is read: only its own list ended
    EXPECT_EQ("second", c.files[1].name);

    Bytes entry = FileChunkPayload("n", 7, 8, 9);
    AppendRawChunk(&entry, "LIST", n, 12);  // not a tag of a file entry
    Bytes inFile = GoodHead();
    AppendChunk(&inFile, "LIST", ListOf({entry}));
    SfxArchive d;
    EXPECT_EQ(Status::Ok(), Read(&d, inFile)) << n;
    ASSERT_EQ(1u, d.files.size()) << n;
    EXPECT_EQ(8u, d.files[0].size);
  }
}

// A known chunk whose payload runs past its container can't be read and is refused.
TEST(CatalogReader, KnownChunkRunningPastItsContainerIsRefused) {
  for (uint32_t n : kPastTheEnd) {
    Bytes brokenText = GoodHead();
    AppendRawChunk(&brokenText, "CMDL", n, 8);
    SfxArchive b;
    EXPECT_EQ(Status(1006, Refusal::kChunkPastContainer), Read(&b, brokenText)) << n;
    EXPECT_EQ("%CMDLINE%", b.commandTemplate);

    Bytes brokenList = GoodHead();
    AppendRawChunk(&brokenList, "LIST", n, 8);
    SfxArchive l;
    EXPECT_EQ(Status(1006, Refusal::kChunkPastContainer), Read(&l, brokenList)) << n;

    Bytes list;
    AppendRawChunk(&list, "FILE", n, 8);
    Bytes inList = GoodHead();
    AppendChunk(&inList, "LIST", list);
    SfxArchive c;
    EXPECT_EQ(Status(1006, Refusal::kChunkPastContainer), Read(&c, inList)) << n;

    Bytes entry;
    AppendTextChunk(&entry, "NAME", "n");
    AppendRawChunk(&entry, "PTRL", n, 12);
    Bytes inFile = GoodHead();
    AppendChunk(&inFile, "LIST", ListOf({entry}));
    SfxArchive d;
    // None of these lengths is 12: the length is what refuses it.
    EXPECT_EQ(Status(1006, Refusal::kBadFileRange), Read(&d, inFile)) << n;
    EXPECT_TRUE(d.files.empty());
  }
  // A "PTRL" of the right length that runs past its "FILE".
  Bytes entry;
  AppendTextChunk(&entry, "NAME", "n");
  AppendRawChunk(&entry, "PTRL", 12, 4);
  Bytes inFile = GoodHead();
  AppendChunk(&inFile, "LIST", ListOf({entry}));
  SfxArchive f;
  EXPECT_EQ(Status(1006, Refusal::kChunkPastContainer), Read(&f, inFile));
  EXPECT_TRUE(f.files.empty());
  // A "CMDP" of the right length that runs past the catalog.
  Bytes mainRange;
  AppendTextChunk(&mainRange, "MODE", "extract");
  AppendRawChunk(&mainRange, "CMDP", 8, 4);
  SfxArchive e;
  EXPECT_EQ(Status(1006, Refusal::kChunkPastContainer), Read(&e, mainRange));
}

// The length of a "CMDP" is judged before whether its payload fits: -1 even when it runs past
// the end of the catalog.
TEST(CatalogReader, MainRangeOfWrongLengthIsMinusOneEvenPastTheEnd) {
  for (uint32_t n : {12u, 9u, 0xFFFFFFFFu}) {
    Bytes c;
    AppendTextChunk(&c, "MODE", "extract");
    AppendRawChunk(&c, "CMDP", n, 8);
    SfxArchive archive;
    EXPECT_EQ(Status(-1, Refusal::kBadMainRangeLength), Read(&archive, c)) << n;
  }
}

// 1 to 7 bytes at the end of a container are too few for a chunk header: they end its chunks
// and are ignored, at every level.
TEST(CatalogReader, TooFewBytesForAChunkHeaderAreIgnored) {
  for (size_t extra = 1; extra < 8; ++extra) {
    Bytes top = GoodHead();
    top.insert(top.end(), extra, 'L');
    SfxArchive a;
    EXPECT_EQ(Status::Ok(), Read(&a, top)) << extra;

    Bytes entry = FileChunkPayload("e", 1, 2, 3);
    entry.insert(entry.end(), extra, 'P');
    Bytes list = ListOf({entry});
    list.insert(list.end(), extra, 'F');
    Bytes nested = GoodHead();
    AppendChunk(&nested, "LIST", list);
    SfxArchive b;
    EXPECT_EQ(Status::Ok(), Read(&b, nested)) << extra;
    ASSERT_EQ(1u, b.files.size()) << extra;
    EXPECT_EQ(3u, b.files[0].time);

    // Those bytes never stand for a chunk, even when they begin like one.
    Bytes modeless;
    AppendChunk(&modeless, "CMDP", U32s({1, 2}));
    modeless.insert(modeless.end(), {'M', 'O', 'D', 'E', 7, 0, 0});
    SfxArchive c;
    EXPECT_EQ(Status(87, Refusal::kNotExtractMode), Read(&c, Bytes(modeless.begin(), modeless.end() - (7 - extra)))) << extra;
  }
}

}  // namespace
}  // namespace sfx
