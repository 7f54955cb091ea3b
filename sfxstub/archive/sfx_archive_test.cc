// SfxArchive on whole packages: built in memory with the package writer, signed with the test
// signer's private key, written to a scratch folder, opened with the matching public key.
#include "sfxstub/archive/sfx_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>
#endif

#include "sfxstub/io/memory_stream.h"
#include "sfxstub/archive/package_file.h"
#include "tests/common/minimal_pe.h"
#include "tests/common/status_printer.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_signer.h"
#include "tools/sfxpack/package_writer.h"

namespace sfx {
namespace {

using sfxpack::AppendChunk;
using sfxpack::AppendTextChunk;
using sfxpack::CatalogEntry;
using sfxpack::ObjectRange;
using sfxpack::PackageBuilder;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

sfxpack::TrailerSigner Signer() { return test::TestTrailerSigner(); }

Bytes FakeStub() { return MinimalPeImage(0x60); }

Bytes Decode(const Bytes& packageFile) {
  Bytes copy = packageFile;
  MemoryStream stream;
  std::unique_ptr<uint8_t[]> content;
  uint32_t length = 0;
  if (!stream.Attach(copy.data(), static_cast<uint32_t>(copy.size())) ||
      !ReadPackageFile(&stream, &content, &length)) {
    ADD_FAILURE() << "not a package file";
    return Bytes();
  }
  return Bytes(content.get(), content.get() + length);
}

uint32_t ModificationTime(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint32_t>(st.st_mtime) : 0;
}

// The folder separator in the names these tests store: '/', a separator on both platforms
// (Win32 takes it as well as the backslash), so that their packages, and the signatures the
// Windows builds take from the native ones, are the same in both builds.
std::string Sep() { return "/"; }

struct RecordingProgress : ProgressSink {
  std::vector<int32_t> ranges;
  std::vector<int32_t> deltas;
  void SetProgressRange(int32_t total) override { ranges.push_back(total); }
  void AdvanceProgress(int32_t delta) override { deltas.push_back(delta); }
};

class SfxArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(testing::Test::HasFailure());
    key = test::TestSignerPublicKey();
    out = dir.Path("out");
    std::filesystem::create_directory(out);
  }

  // A builder with the stub in place.
  PackageBuilder Start() {
    PackageBuilder b(Signer());
    Bytes stub = FakeStub();
    EXPECT_TRUE(b.AddStub(stub.data(), stub.size()).ok());
    return b;
  }
  std::string Save(PackageBuilder& b, const std::string& name = "package.exe") {
    EXPECT_TRUE(b.status().ok()) << b.status().reason();
    return dir.Write(name, b.bytes());
  }
  // A package of `contents` (as package files), a main program, and the catalog that
  // `catalog` makes from their ranges.
  std::string Craft(const std::vector<Bytes>& contents,
                    const std::function<Bytes(ObjectRange, const std::vector<ObjectRange>&)>& catalog) {
    PackageBuilder b = Start();
    std::vector<ObjectRange> ranges(contents.size());
    for (size_t i = 0; i < contents.size(); ++i)
      b.AddPackageFile(contents[i].data(), contents[i].size(), &ranges[i]);
    ObjectRange main;
    Bytes program = B("MZ the main setup program");
    b.AddPackageFile(program.data(), program.size(), &main);
    b.Finish(catalog(main, ranges));
    return Save(b);
  }
  static Bytes CatalogHead(const std::string& mode, ObjectRange main) {
    Bytes c;
    AppendTextChunk(&c, "MODE", mode);
    AppendTextChunk(&c, "CMDL", "%CMDLINE%");
    Bytes range;
    AppendU32(&range, main.offset);
    AppendU32(&range, main.size);
    AppendChunk(&c, "CMDP", range);
    return c;
  }
  // Opens `path` with a fresh archive.
  Status OpenWith(const std::string& path) {
    SfxArchive archive(key);
    return archive.Open(path);
  }

  TempDir dir;
  std::string out;
  DsaPublicKey key;
};

TEST_F(SfxArchiveTest, RoundTripGivesTheInputsWithTheirTimes) {
  sfxpack::PackageInput input;
  input.stub = FakeStub();
  input.mainProgram = B(std::string(5000, 'm') + "end of main");
  input.commandTemplate = "/s \"%CMDLINE%\"";
  input.files.push_back({"data.bin", B(std::string(3000, 'd')), 1000000000u, sfxpack::PackageInput::Kind::kPackage});
  input.files.push_back({"readme.txt", B("hello\r\n"), 0xFFFFFFF0u, sfxpack::PackageInput::Kind::kRaw});
  input.files.push_back({"empty", Bytes(), 86400u, sfxpack::PackageInput::Kind::kRaw});
  Bytes package;
  const sfxpack::Status built = sfxpack::BuildPackage(input, Signer(), &package);
  ASSERT_TRUE(built.ok()) << built.reason();
  std::string path = dir.Write("package.exe", package);

  RecordingProgress progress;
  SfxArchive archive(key, &progress);
  ASSERT_EQ(Status::Ok(), archive.Open(path));
  EXPECT_EQ(input.commandTemplate, archive.commandTemplate);
  ASSERT_EQ(3u, archive.files.size());
  ASSERT_EQ(Status::Ok(), archive.ExtractMainProgram(JoinTargetPath(out, "setup.ovr")));
  EXPECT_EQ(input.mainProgram, TempDir::Read(JoinTargetPath(out, "setup.ovr")));
  EXPECT_TRUE(progress.ranges.empty());  // the main program does not count

  ASSERT_EQ(Status::Ok(), archive.ExtractFiles(out));
  uint32_t total = 0;
  for (const FileRecord& r : archive.files) {
    std::string target = JoinTargetPath(out, r.name);
    Bytes stored = TempDir::Read(target);
    EXPECT_EQ(Bytes(package.begin() + r.offset, package.begin() + r.offset + r.size), stored);
    EXPECT_EQ(r.time, ModificationTime(target)) << r.name;
    total += r.size;
  }
  // A package file is copied as it is stored: compressed, with its own trailer.
  Bytes data = TempDir::Read(JoinTargetPath(out, "data.bin"));
  EXPECT_EQ(input.files[0].data, Decode(data));
  // A raw file is its bytes and its own 48-byte trailer.
  Bytes readme = TempDir::Read(JoinTargetPath(out, "readme.txt"));
  ASSERT_EQ(7u + 48u, readme.size());
  EXPECT_EQ(input.files[1].data, Bytes(readme.begin(), readme.begin() + 7));
  EXPECT_EQ(1000000000u, archive.files[0].time);
  EXPECT_EQ(0xFFFFFFF0u, archive.files[1].time);

  EXPECT_EQ(std::vector<int32_t>({static_cast<int32_t>(total)}), progress.ranges);
  std::vector<int32_t> sizes;
  for (const FileRecord& r : archive.files) sizes.push_back(static_cast<int32_t>(r.size));
  EXPECT_EQ(sizes, progress.deltas);
}

// sfxpack puts a salt block between the stub and the first stored object; nothing in the catalog
// names it. The reader opens and extracts such a package exactly as it does one without: the
// same template, names, sizes and times, the same bytes out, every range past the block.
TEST_F(SfxArchiveTest, SaltedPackageReadsAsTheUnsaltedOne) {
  sfxpack::PackageInput input;
  input.stub = FakeStub();
  input.mainProgram = B(std::string(4000, 'm') + "end of main");
  input.commandTemplate = "/s %CMDLINE%";
  input.files.push_back({"data.bin", B(std::string(3000, 'd')), 1000u, sfxpack::PackageInput::Kind::kPackage});
  input.files.push_back({"readme.txt", B("hello\r\n"), 2000u, sfxpack::PackageInput::Kind::kRaw});
  Bytes plain, salted;
  ASSERT_TRUE(sfxpack::BuildPackage(input, Signer(), &plain).ok());
  for (size_t i = 0; i < sfxpack::kSaltSize; ++i) input.salt.push_back(static_cast<uint8_t>(i * 37 + 5));
  ASSERT_TRUE(sfxpack::BuildPackage(input, Signer(), &salted).ok());

  const uint32_t saltAt = static_cast<uint32_t>(input.stub.size() + 48);
  EXPECT_EQ(sfxpack::kSaltMagic, std::string(salted.begin() + saltAt, salted.begin() + saltAt + 16));
  EXPECT_EQ(input.salt, Bytes(salted.begin() + saltAt + 16, salted.begin() + saltAt + 48));

  SfxArchive before(key), after(key);
  ASSERT_EQ(Status::Ok(), before.Open(dir.Write("plain.exe", plain)));
  ASSERT_EQ(Status::Ok(), after.Open(dir.Write("salted.exe", salted)));
  EXPECT_EQ(before.commandTemplate, after.commandTemplate);
  EXPECT_EQ(before.mainSize, after.mainSize);
  EXPECT_EQ(before.mainOffset + sfxpack::kSaltBlockSize, after.mainOffset);
  ASSERT_EQ(before.files.size(), after.files.size());
  for (size_t i = 0; i < after.files.size(); ++i) {
    EXPECT_EQ(before.files[i].name, after.files[i].name);
    EXPECT_EQ(before.files[i].size, after.files[i].size);
    EXPECT_EQ(before.files[i].time, after.files[i].time);
    EXPECT_EQ(before.files[i].offset + sfxpack::kSaltBlockSize, after.files[i].offset);
  }
  // No range reaches into the block; the first object starts right after it.
  uint32_t first = after.mainOffset;
  for (const FileRecord& r : after.files) first = std::min(first, r.offset);
  EXPECT_EQ(saltAt + sfxpack::kSaltBlockSize, first);

  const std::string plainOut = dir.Path("plain-out"), saltedOut = dir.Path("salted-out");
  std::filesystem::create_directory(plainOut);
  std::filesystem::create_directory(saltedOut);
  ASSERT_EQ(Status::Ok(), before.ExtractMainProgram(JoinTargetPath(plainOut, "setup.ovr")));
  ASSERT_EQ(Status::Ok(), after.ExtractMainProgram(JoinTargetPath(saltedOut, "setup.ovr")));
  ASSERT_EQ(Status::Ok(), before.ExtractFiles(plainOut));
  ASSERT_EQ(Status::Ok(), after.ExtractFiles(saltedOut));
  for (const char* name : {"setup.ovr", "data.bin", "readme.txt"}) {
    EXPECT_EQ(TempDir::Read(JoinTargetPath(plainOut, name)),
              TempDir::Read(JoinTargetPath(saltedOut, name))) << name;
  }
  EXPECT_EQ(input.mainProgram, TempDir::Read(JoinTargetPath(saltedOut, "setup.ovr")));

  // The block is signed content like any other byte: a changed salt byte is refused.
  Bytes spoilt = salted;
  spoilt[saltAt + 20] ^= 1;
  EXPECT_EQ(Status(kErrorFileInvalid, Refusal::kBadSignature), OpenWith(dir.Write("spoilt.exe", spoilt)));
}

TEST_F(SfxArchiveTest, CatalogErrorsAsOpenReportsThem) {
  Bytes content = B("some content");
  auto withFiles = [](Bytes c, const std::vector<Bytes>& files) {
    Bytes list;
    for (const Bytes& f : files) AppendChunk(&list, "FILE", f);
    AppendChunk(&c, "LIST", list);
    return c;
  };
  auto entry = [](const std::string& name, std::vector<uint32_t> ptrl) {
    Bytes e, p;
    AppendTextChunk(&e, "NAME", name);
    for (uint32_t v : ptrl) AppendU32(&p, v);
    AppendChunk(&e, "PTRL", p);
    return e;
  };

  EXPECT_EQ(Status(87, Refusal::kNotExtractMode), OpenWith(Craft({}, [](ObjectRange main, auto&) { return CatalogHead("Extract", main); })));
  EXPECT_EQ(Status(87, Refusal::kNotExtractMode), OpenWith(Craft({}, [](ObjectRange main, auto&) {
    Bytes c = CatalogHead("x", main);
    return Bytes(c.begin() + 9, c.end());  // drops the one-byte "MODE" chunk
  })));
  EXPECT_EQ(Status(-1, Refusal::kBadMainRangeLength), OpenWith(Craft({}, [](ObjectRange, auto&) {
    Bytes c;
    AppendTextChunk(&c, "MODE", "extract");
    AppendChunk(&c, "CMDP", Bytes(12, 0));
    return c;
  })));
  EXPECT_EQ(Status(1006, Refusal::kBadFileRange), OpenWith(Craft({content, content}, [&](ObjectRange main, auto& r) {
    return withFiles(CatalogHead("extract", main),
                     {entry("bad", {r[0].offset, r[0].size}), entry("good", {r[1].offset, r[1].size, 0})});
  })));
  // Longer than 12 bytes is as wrong as shorter, even when the first 12 make sense.
  EXPECT_EQ(Status(1006, Refusal::kBadFileRange), OpenWith(Craft({content}, [&](ObjectRange main, auto& r) {
    return withFiles(CatalogHead("extract", main), {entry("long", {r[0].offset, r[0].size, 0, 0})});
  })));
  // Ranges that leave the signed content, also by u32 wrap-around.
  EXPECT_EQ(Status(1006, Refusal::kFileRangeOutsideSignedContent), OpenWith(Craft({content}, [&](ObjectRange main, auto&) {
    return withFiles(CatalogHead("extract", main), {entry("wraps", {0xFFFFFF00u, 0x200, 0})});
  })));
  EXPECT_EQ(Status(1006, Refusal::kFileRangeOutsideSignedContent), OpenWith(Craft({content}, [&](ObjectRange main, auto& r) {
    return withFiles(CatalogHead("extract", main), {entry("long", {r[0].offset, 0x10000, 0})});
  })));
  EXPECT_EQ(Status(1006, Refusal::kMainRangeOutsideSignedContent), OpenWith(Craft({}, [&](ObjectRange main, auto&) {
    return CatalogHead("extract", {main.offset, 0xFFFFFFFFu});
  })));
  // A sound catalog of the same shape opens, so the refusals above are the ranges' doing.
  EXPECT_EQ(Status::Ok(), OpenWith(Craft({content}, [&](ObjectRange main, auto& r) {
    return withFiles(CatalogHead("extract", main), {entry("fine", {r[0].offset, r[0].size, 0})});
  })));
}

TEST_F(SfxArchiveTest, ArchiveTrailerAndCatalogErrors) {
  Bytes catalogText = B("not the catalog");
  {  // wrong archive magic
    PackageBuilder b = Start();
    ObjectRange cat;
    Bytes catalog = CatalogHead("extract", {0, 1});
    b.AddPackageFile(catalog.data(), catalog.size(), &cat);
    b.AddArchiveTrailer(cat.offset, "OLMsetupSelfExt1");
    b.AddClosingSignature();
    EXPECT_EQ(Status(1006, Refusal::kBadArchiveMagic), OpenWith(Save(b)));
  }
  {  // catalog stored raw rather than as a package file
    PackageBuilder b = Start();
    ObjectRange cat;
    Bytes catalog = CatalogHead("extract", {0, 1});
    b.AddRawFile(catalog.data(), catalog.size(), &cat);
    b.AddArchiveTrailer(cat.offset);
    b.AddClosingSignature();
    EXPECT_EQ(Status(1006, Refusal::kBadCatalogPackage), OpenWith(Save(b)));
  }
  {  // catalog offset beyond the archive trailer: L - 20 - K would wrap around
    PackageBuilder b = Start();
    b.AddArchiveTrailer(0xFFFFFFF0u);
    b.AddClosingSignature();
    EXPECT_EQ(Status(1006, Refusal::kCatalogOffsetPastTrailer), OpenWith(Save(b)));
  }
  {  // a signed file too short to hold an archive trailer (L < 20)
    PackageBuilder b(Signer());
    Bytes tiny = B("tiny");
    b.AddObject(tiny.data(), tiny.size(), nullptr);
    b.AddClosingSignature();
    EXPECT_EQ(Status(1006, Refusal::kSignedLengthOutsideFile), OpenWith(Save(b)));
  }
  // Signed with another key; no file at all.
  PackageBuilder b = Start();
  b.Finish(CatalogHead("extract", {0, 1}));
  std::string path = Save(b);
  DsaPublicKey other = key;
  other.y[127] ^= 1;
  SfxArchive archive(other);
  EXPECT_EQ(Status(1006, Refusal::kBadSignature), archive.Open(path));
  EXPECT_EQ(Status(1006, Refusal::kCannotOpen), OpenWith(dir.Path("missing.exe")));
}

TEST_F(SfxArchiveTest, MainProgramErrors) {
  PackageBuilder b = Start();
  Bytes program = B("stored raw, not as a package file");
  ObjectRange main;
  b.AddRawFile(program.data(), program.size(), &main);
  b.Finish(CatalogHead("extract", main));
  SfxArchive raw(key);
  ASSERT_EQ(Status::Ok(), raw.Open(Save(b, "raw.exe")));
  EXPECT_EQ(Status(1006, Refusal::kBadMainPackage), raw.ExtractMainProgram(JoinTargetPath(out, "setup.ovr")));
  EXPECT_FALSE(std::filesystem::exists(JoinTargetPath(out, "setup.ovr")));

  SfxArchive good(key);
  ASSERT_EQ(Status::Ok(), good.Open(Craft({}, [](ObjectRange m, auto&) { return CatalogHead("extract", m); })));
  EXPECT_EQ(Status(82, Refusal::kCannotCreateTarget), good.ExtractMainProgram(JoinTargetPath(JoinTargetPath(out, "no-such-folder"), "setup.ovr")));

  // Nothing is extracted from an archive that did not open.
  SfxArchive closed(key);
  EXPECT_EQ(1006, closed.Open(dir.Path("missing.exe")).code());
  EXPECT_EQ(Status(1006, Refusal::kNotOpened), closed.ExtractMainProgram(JoinTargetPath(out, "setup.ovr")));
  EXPECT_EQ(Status(1006, Refusal::kNotOpened), closed.ExtractFiles(out));
  EXPECT_TRUE(std::filesystem::is_empty(out));
}

// Every single changed byte and every truncation of a small package is refused by Open.
TEST_F(SfxArchiveTest, ChangedOrTruncatedPackageIsRefused) {
  Bytes content = B("abc");
  std::string path = Craft({content}, [](ObjectRange main, const std::vector<ObjectRange>& r) {
    return sfxpack::MakeCatalog("extract", "", main, {{"a", r[0], 1}});
  });
  const Bytes good = TempDir::Read(path);
  ASSERT_EQ(Status::Ok(), OpenWith(path));
  for (size_t i = 0; i < good.size(); ++i) {
    Bytes changed = good;
    changed[i] ^= static_cast<uint8_t>(1u << (i % 8));
    dir.Write("package.exe", changed);
    ASSERT_EQ(1006, OpenWith(path).code()) << "byte " << i;
  }
  for (size_t n = 0; n < good.size(); ++n) {
    dir.Write("package.exe", Bytes(good.begin(), good.begin() + n));
    ASSERT_EQ(1006, OpenWith(path).code()) << "length " << n;
  }
  EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(SfxArchiveTest, UnknownChunksEverywhereAndAnEmptyList) {
  Bytes content = B("payload");
  std::string path = Craft({content}, [](ObjectRange main, const std::vector<ObjectRange>& r) {
    Bytes c;
    AppendTextChunk(&c, "ABCD", "x");
    Bytes head = CatalogHead("extract", main);
    c.insert(c.end(), head.begin(), head.end());
    AppendChunk(&c, "LIST", Bytes());
    Bytes e, p, list;
    AppendTextChunk(&e, "WHAT", "odd");
    AppendTextChunk(&e, "NAME", "f.bin");
    AppendU32(&p, r[0].offset);
    AppendU32(&p, r[0].size);
    AppendU32(&p, 12345);
    AppendChunk(&e, "PTRL", p);
    AppendTextChunk(&e, "ZZZZ", std::string(33, 'z'));
    AppendTextChunk(&list, "OTHR", "");
    AppendChunk(&list, "FILE", e);
    AppendChunk(&c, "LIST", list);
    AppendTextChunk(&c, "TAIL", "");
    return c;
  });
  {
    // Closed before the next package is written over it: an open archive keeps writers out.
    RecordingProgress progress;
    SfxArchive archive(key, &progress);
    ASSERT_EQ(Status::Ok(), archive.Open(path));
    ASSERT_EQ(Status::Ok(), archive.ExtractFiles(out));
    EXPECT_EQ(12345u, ModificationTime(JoinTargetPath(out, "f.bin")));
  }

  RecordingProgress none;
  SfxArchive empty(key, &none);
  ASSERT_EQ(Status::Ok(), empty.Open(Craft({}, [](ObjectRange main, auto&) {
    return sfxpack::MakeCatalog("extract", "", main, {});
  })));
  EXPECT_EQ(Status::Ok(), empty.ExtractFiles(out));
  EXPECT_EQ(std::vector<int32_t>({0}), none.ranges);
  EXPECT_TRUE(none.deltas.empty());
}

TEST_F(SfxArchiveTest, ZeroSizeDuplicatesAndAListedSetupOvr) {
  Bytes first = B("first bytes"), second = B("second"), replacement = B("listed setup.ovr");
  std::string path = Craft({first, second, replacement}, [](ObjectRange main, const std::vector<ObjectRange>& r) {
    return sfxpack::MakeCatalog("extract", "", main,
                                {{"dup", r[0], 10}, {"empty", {r[1].offset, 0}, 20}, {"dup", r[1], 30},
                                 {"setup.ovr", r[2], 40}});
  });
  RecordingProgress progress;
  SfxArchive archive(key, &progress);
  ASSERT_EQ(Status::Ok(), archive.Open(path));
  ASSERT_EQ(Status::Ok(), archive.ExtractMainProgram(JoinTargetPath(out, "setup.ovr")));
  ASSERT_EQ(Status::Ok(), archive.ExtractFiles(out));
  EXPECT_EQ(second, Decode(TempDir::Read(JoinTargetPath(out, "dup"))));
  EXPECT_EQ(30u, ModificationTime(JoinTargetPath(out, "dup")));
  EXPECT_TRUE(TempDir::Read(JoinTargetPath(out, "empty")).empty());
  EXPECT_EQ(20u, ModificationTime(JoinTargetPath(out, "empty")));
  EXPECT_EQ(replacement, Decode(TempDir::Read(JoinTargetPath(out, "setup.ovr"))));
  const auto& f = archive.files;
  ASSERT_EQ(1u, progress.ranges.size());
  EXPECT_EQ(static_cast<int32_t>(f[0].size + f[2].size + f[3].size), progress.ranges[0]);
  EXPECT_EQ(std::vector<int32_t>({static_cast<int32_t>(f[0].size), 0, static_cast<int32_t>(f[2].size),
                                  static_cast<int32_t>(f[3].size)}),
            progress.deltas);
}

TEST_F(SfxArchiveTest, SecondOpenStartsAfresh) {
  Bytes a = B("a"), b = B("b");
  std::string two = Craft({a, b}, [](ObjectRange main, const std::vector<ObjectRange>& r) {
    return sfxpack::MakeCatalog("extract", "two", main, {{"a", r[0], 1}, {"b", r[1], 2}});
  });
  dir.Write("two.exe", TempDir::Read(two));
  std::string one = Craft({a}, [](ObjectRange main, const std::vector<ObjectRange>& r) {
    return sfxpack::MakeCatalog("extract", "one", main, {{"a", r[0], 1}});
  });
  SfxArchive archive(key);
  ASSERT_EQ(Status::Ok(), archive.Open(dir.Path("two.exe")));
  ASSERT_EQ(Status::Ok(), archive.Open(one));
  EXPECT_EQ("one", archive.commandTemplate);
  EXPECT_EQ(1u, archive.files.size());
  EXPECT_EQ(Status(1006, Refusal::kCannotOpen), archive.Open(dir.Path("missing.exe")));
  EXPECT_TRUE(archive.files.empty());
  EXPECT_EQ(Status(1006, Refusal::kNotOpened), archive.ExtractFiles(out));
  // Opened bad, then good: the good one's success is what is reported, and it extracts.
  EXPECT_EQ(Status::Ok(), archive.Open(one));
  EXPECT_EQ(Status::Ok(), archive.ExtractFiles(out));
}

TEST_F(SfxArchiveTest, ThirdOfFiveFailingStopsTheRun) {
  std::vector<Bytes> contents = {B("1"), B("2"), B("3"), B("4"), B("5")};
  std::string path = Craft(contents, [](ObjectRange main, const std::vector<ObjectRange>& r) {
    return sfxpack::MakeCatalog("extract", "", main,
                                {{"one", r[0], 1}, {"two", r[1], 2}, {"missing" + Sep() + "three", r[2], 3},
                                 {"four", r[3], 4}, {"five", r[4], 5}});
  });
  RecordingProgress progress;
  SfxArchive archive(key, &progress);
  ASSERT_EQ(Status::Ok(), archive.Open(path));
  EXPECT_EQ(2, archive.ExtractFiles(out).code());  // ENOENT from the create, as ERROR_FILE_NOT_FOUND
  EXPECT_TRUE(std::filesystem::exists(JoinTargetPath(out, "one")));
  EXPECT_TRUE(std::filesystem::exists(JoinTargetPath(out, "two")));
  EXPECT_FALSE(std::filesystem::exists(JoinTargetPath(out, "four")));
  EXPECT_FALSE(std::filesystem::exists(JoinTargetPath(out, "five")));
  EXPECT_EQ(2u, progress.deltas.size());
}

// A signed catalog still may not name a file outside the folder: the extraction stops with 87
// before any listed file is written (every name is checked first), and nothing appears beside
// the folder or in a device.
TEST_F(SfxArchiveTest, NamesThatLeaveTheFolderAreRefused) {
  const std::string folder = JoinTargetPath(out, "work");
  std::filesystem::create_directory(folder);
  const std::string up = std::string("..") + Sep();
  for (const std::string& bad : {up + "escaped.txt", std::string("COM1"), std::string("nul.txt"),
                                 std::string("x.txt:stream"), std::string(".. ") + Sep() + "escaped.txt",
                                 up + up + "escaped.txt"}) {
    std::string path = Craft({B("first"), B("evil"), B("after")},
                             [&bad](ObjectRange main, const std::vector<ObjectRange>& r) {
      return sfxpack::MakeCatalog("extract", "", main,
                                  {{"first.txt", r[0], 1}, {bad, r[1], 2}, {"after.txt", r[2], 3}});
    });
    {
      RecordingProgress progress;
      SfxArchive archive(key, &progress);
      ASSERT_EQ(Status::Ok(), archive.Open(path)) << bad;  // The catalog itself is fine.
      EXPECT_EQ(Status(kErrorInvalidParameter, Refusal::kNameLeavesFolder), archive.ExtractFiles(folder)) << bad;
      EXPECT_TRUE(progress.deltas.empty()) << bad;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << bad;
    EXPECT_FALSE(std::filesystem::exists(JoinTargetPath(out, "escaped.txt"))) << bad;
    EXPECT_FALSE(std::filesystem::exists(JoinTargetPath(dir.path(), "escaped.txt"))) << bad;
  }
}

// What Windows' normalisation keeps inside the folder is extracted there: a name that begins
// with a separator (joined without a second one) and trailing dots and blanks (which Windows
// strips, and other systems keep).
TEST_F(SfxArchiveTest, NamesThatStayInsideAfterNormalisationAreExtracted) {
  const std::string folder = JoinTargetPath(out, "work");
  std::filesystem::create_directory(folder);
  std::string path = Craft({B("1"), B("2"), B("3")}, [](ObjectRange main, const std::vector<ObjectRange>& r) {
    return sfxpack::MakeCatalog("extract", "", main,
                                {{Sep() + "lead.txt", r[0], 1}, {"trailing. ", r[1], 2}, {"x.txt ", r[2], 3}});
  });
  SfxArchive archive(key);
  ASSERT_EQ(Status::Ok(), archive.Open(path));
  ASSERT_EQ(Status::Ok(), archive.ExtractFiles(folder));
  const bool windows = kPathSeparator == '\\';
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(windows ? std::vector<std::string>({"lead.txt", "trailing", "x.txt"})
                    : std::vector<std::string>({"lead.txt", "trailing. ", "x.txt "}),
            names);
  EXPECT_EQ(1u, std::distance(std::filesystem::directory_iterator(out), {}));  // "work" only
}

// Listed objects are copied in pieces of kCopyChunkSize: sizes at a piece boundary and one
// byte either side come out byte for byte, with their times, and the bar moves piece by piece
// with deltas that add up to each file's size.
TEST_F(SfxArchiveTest, ObjectsLargerThanOneCopyPieceComeOutWhole) {
  const uint32_t c = kCopyChunkSize;
  Bytes big(2 * c + 100);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 131 + (i >> 13));
  PackageBuilder b = Start();
  ObjectRange object, main;
  ASSERT_TRUE(b.AddRawFile(big.data(), big.size(), &object).ok());
  Bytes program = B("MZ the main setup program");
  b.AddPackageFile(program.data(), program.size(), &main);
  const std::vector<uint32_t> sizes = {c - 1, c, c + 1, 2 * c, object.size, 0};
  std::vector<sfxpack::CatalogEntry> entries;
  for (size_t i = 0; i < sizes.size(); ++i) {
    entries.push_back({"f" + std::to_string(i), {object.offset, sizes[i]}, 1000u + static_cast<uint32_t>(i)});
  }
  b.Finish(sfxpack::MakeCatalog("extract", "", main, entries));
  const std::string path = Save(b);
  const Bytes package = b.bytes();

  RecordingProgress progress;
  SfxArchive archive(key, &progress);
  ASSERT_EQ(Status::Ok(), archive.Open(path));
  ASSERT_EQ(Status::Ok(), archive.ExtractFiles(out));
  uint64_t total = 0;
  std::vector<int32_t> expectedDeltas;
  for (size_t i = 0; i < sizes.size(); ++i) {
    const std::string target = JoinTargetPath(out, "f" + std::to_string(i));
    EXPECT_EQ(Bytes(package.begin() + object.offset, package.begin() + object.offset + sizes[i]),
              TempDir::Read(target)) << sizes[i];
    EXPECT_EQ(1000u + i, ModificationTime(target));
    total += sizes[i];
    uint32_t left = sizes[i];
    do {
      const uint32_t piece = left < c ? left : c;
      expectedDeltas.push_back(static_cast<int32_t>(piece));
      left -= piece;
    } while (left > 0);
  }
  EXPECT_EQ(std::vector<int32_t>({static_cast<int32_t>(total)}), progress.ranges);
  EXPECT_EQ(expectedDeltas, progress.deltas);
}

// The main program is inflated in memory whole, so its sizes are bounded: a package file that
// announces more than kMaxMainProgramSize is refused as too much memory (8), not as damage.
TEST_F(SfxArchiveTest, MainProgramAboveTheBoundIsNotEnoughMemory) {
  auto withInflatedSize = [&](uint32_t inflated) {
    Bytes content = B("MZ small program");
    Bytes packed;
    EXPECT_TRUE(sfxpack::MakePackageFileBody(content.data(), content.size(), &packed).ok());
    StoreU32(&packed[16], inflated);
    PackageBuilder b = Start();
    ObjectRange main;
    b.AddRawFile(packed.data(), packed.size(), &main);
    b.Finish(sfxpack::MakeCatalog("extract", "", main, {}));
    return Save(b, "main" + std::to_string(inflated) + ".exe");
  };
  for (uint32_t inflated : {kMaxMainProgramSize + 1, 0xFFFFFFFFu}) {
    SfxArchive archive(key);
    ASSERT_EQ(Status::Ok(), archive.Open(withInflatedSize(inflated)));
    EXPECT_EQ(Status(8, Refusal::kMainProgramTooLarge), archive.ExtractMainProgram(JoinTargetPath(out, "setup.ovr"))) << inflated;
    EXPECT_FALSE(std::filesystem::exists(JoinTargetPath(out, "setup.ovr")));
  }
  // A claim larger than the content but within the bound is fine: the real content is written.
  SfxArchive archive(key);
  ASSERT_EQ(Status::Ok(), archive.Open(withInflatedSize(1000)));
  ASSERT_EQ(Status::Ok(), archive.ExtractMainProgram(JoinTargetPath(out, "setup.ovr")));
  EXPECT_EQ(B("MZ small program"), TempDir::Read(JoinTargetPath(out, "setup.ovr")));
}

#if !defined(_WIN32)
// A file size limit makes the write come back short without an error: the partial file goes,
// and the failure is not reported as success.
TEST_F(SfxArchiveTest, ShortWritesDeleteThePartialFile) {
  Bytes big(4096, 'b');
  std::string path = Craft({big}, [](ObjectRange main, const std::vector<ObjectRange>& r) {
    return sfxpack::MakeCatalog("extract", "", main, {{"small", {r[0].offset, 10}, 1}, {"big", r[0], 2}});
  });
  SfxArchive archive(key);
  ASSERT_EQ(Status::Ok(), archive.Open(path));
  struct rlimit old;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 20;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  const Status files = archive.ExtractFiles(out);
  const Status main = archive.ExtractMainProgram(JoinTargetPath(out, "setup.ovr"));
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(Status(112, Refusal::kCannotWriteTarget), files);
  EXPECT_EQ(Status(82, Refusal::kCannotWriteTarget), main);
  EXPECT_TRUE(std::filesystem::exists(JoinTargetPath(out, "small")));
  EXPECT_FALSE(std::filesystem::exists(JoinTargetPath(out, "big")));
  EXPECT_FALSE(std::filesystem::exists(JoinTargetPath(out, "setup.ovr")));
}
#endif

}  // namespace
}  // namespace sfx
