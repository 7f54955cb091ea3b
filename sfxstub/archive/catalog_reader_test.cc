// The catalog's chunk readers over memory streams: no file, no signature.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sfxstub/archive/memory_stream.h"
#include "sfxstub/archive/sfx_archive.h"
#include "tools/sfxpack/package_writer.h"

namespace sfx {
namespace {

using sfxpack::AppendChunk;
using sfxpack::AppendTextChunk;
using sfxpack::AppendU32;
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

int32_t Read(SfxArchive* archive, Bytes catalog) {
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
  ASSERT_EQ(0, Read(&archive, sfxpack::MakeCatalog("extract", "/x \"%SRCPATH%\"", {5, 6}, entries)));
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
  ASSERT_EQ(0, Read(&archive, c));
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
    EXPECT_EQ(-1, Read(&archive, c)) << n;
  }
}

TEST(CatalogReader, BadFileEntryFailsTheCatalogButTheListGoesOn) {
  Bytes shortRange;
  AppendTextChunk(&shortRange, "NAME", "bad");
  AppendChunk(&shortRange, "PTRL", U32s({1, 2}));  // 8 bytes
  Bytes c = GoodHead();
  AppendChunk(&c, "LIST", ListOf({shortRange, FileChunkPayload("good", 1, 2, 3)}));
  SfxArchive archive;
  EXPECT_EQ(1006, Read(&archive, c));
  ASSERT_EQ(1u, archive.files.size());  // the bad entry added nothing
  EXPECT_EQ("good", archive.files[0].name);

  // The mode check comes first.
  Bytes wrongMode;
  AppendTextChunk(&wrongMode, "MODE", "Extract");
  AppendChunk(&wrongMode, "CMDP", U32s({0, 0}));
  AppendChunk(&wrongMode, "LIST", ListOf({shortRange}));
  SfxArchive second;
  EXPECT_EQ(87, Read(&second, wrongMode));
}

TEST(CatalogReader, MissingLocationsAreRefused) {
  Bytes nameOnly;
  AppendTextChunk(&nameOnly, "NAME", "nowhere");
  Bytes c = GoodHead();
  AppendChunk(&c, "LIST", ListOf({nameOnly}));
  SfxArchive archive;
  EXPECT_EQ(1006, Read(&archive, c));
  EXPECT_TRUE(archive.files.empty());

  Bytes noMain;
  AppendTextChunk(&noMain, "MODE", "extract");
  AppendChunk(&noMain, "LIST", ListOf({FileChunkPayload("a", 1, 2, 3)}));
  SfxArchive second;
  EXPECT_EQ(1006, Read(&second, noMain));
}

// A length that runs past its container, at every level, including lengths that would wrap
// the end of the payload around to a small position.
TEST(CatalogReader, ChunkRunningPastItsContainerIsRefused) {
  for (uint32_t n : {9u, 1000u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
    Bytes top = GoodHead();
    top.insert(top.end(), {'X', 'X', 'X', 'X'});
    AppendU32(&top, n);
    top.insert(top.end(), 8, 'x');
    SfxArchive a;
    EXPECT_EQ(1006, Read(&a, top)) << n;

    Bytes brokenText = GoodHead();
    brokenText.insert(brokenText.end(), {'C', 'M', 'D', 'L'});
    AppendU32(&brokenText, n);
    brokenText.insert(brokenText.end(), 8, 'x');
    SfxArchive b;
    EXPECT_EQ(1006, Read(&b, brokenText)) << n;
    EXPECT_EQ("%CMDLINE%", b.commandTemplate);

    Bytes list;
    list.insert(list.end(), {'F', 'I', 'L', 'E'});
    AppendU32(&list, n);
    list.insert(list.end(), 8, 'x');
    Bytes inList = GoodHead();
    AppendChunk(&inList, "LIST", list);
    SfxArchive c;
    EXPECT_EQ(1006, Read(&c, inList)) << n;

    Bytes entry;
    AppendTextChunk(&entry, "NAME", "n");
    entry.insert(entry.end(), {'P', 'T', 'R', 'L'});
    AppendU32(&entry, n);
    entry.insert(entry.end(), 12, 'x');
    Bytes inFile = GoodHead();
    AppendChunk(&inFile, "LIST", ListOf({entry}));
    SfxArchive d;
    EXPECT_EQ(1006, Read(&d, inFile)) << n;
    EXPECT_TRUE(d.files.empty());
  }
}

TEST(CatalogReader, TruncatedChunkHeaderIsRefused) {
  for (size_t extra = 1; extra < 8; ++extra) {
    Bytes c = GoodHead();
    c.insert(c.end(), extra, 'L');
    SfxArchive archive;
    EXPECT_EQ(1006, Read(&archive, c)) << extra;
  }
}

TEST(JoinTargetPath, JoinsWithOneSeparator) {
  const std::string sep(1, kPathSeparator);
  EXPECT_EQ("name", JoinTargetPath("", "name"));
  EXPECT_EQ("dir", JoinTargetPath("dir", ""));
  EXPECT_EQ("dir" + sep + "name", JoinTargetPath("dir", "name"));
  EXPECT_EQ("dir" + sep + "name", JoinTargetPath("dir" + sep, "name"));
  EXPECT_EQ("dir" + sep + "name", JoinTargetPath("dir", sep + "name"));
}

}  // namespace
}  // namespace sfx
