// The stub's resources as pack sets them: the resource tree codec, icon files, version
// information, the manifest's execution level, and the rewrite of a PE image's last section.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/sfxgen/pe_stamp.h"
#include "tools/sfxpack/icon_file.h"
#include "tools/sfxpack/resource_tree.h"
#include "tools/sfxpack/stub_manifest.h"
#include "tools/sfxpack/stub_resources.h"
#include "tools/sfxpack/version_info.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(Bytes* b, size_t at, uint32_t v) {
  (*b)[at] = static_cast<uint8_t>(v);
  (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

const char kManifest[] =
    "<?xml version=\"1.0\"?>\n<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "<dependency/>\n</assembly>\n";

// Resources shaped like the stub's: a named type, numbered ones, several languages.
ResourceTree SampleTree() {
  ResourceTree tree;
  tree.Put({ResourceId{0, u"AVI"}, ResourceId::Number(129), 0x409, 0, Bytes(301, 'a')});
  tree.Put({ResourceId::Number(kResourceIcon), ResourceId::Number(2), 0x409, 0, Bytes(40, 'i')});
  tree.Put({ResourceId::Number(kResourceIcon), ResourceId::Number(1), 0x409, 0, Bytes(41, 'j')});
  tree.Put({ResourceId::Number(kResourceManifest), ResourceId::Number(1), 0x409, 1252,
            Bytes(kManifest, kManifest + sizeof kManifest - 1)});
  tree.Put({ResourceId::Number(kResourceManifest), ResourceId{0, u"NAMED"}, 0x407, 0, Bytes(3, 'm')});
  tree.Put({ResourceId::Number(kResourceManifest), ResourceId{0, u"NAMED"}, 0x409, 0, Bytes(5, 'n')});
  return tree;
}

void ExpectSameResources(const ResourceTree& a, const ResourceTree& b) {
  ASSERT_EQ(a.resources().size(), b.resources().size());
  for (const Resource& r : a.resources()) {
    bool found = false;
    for (const Resource& s : b.resources()) {
      found |= r.type == s.type && r.name == s.name && r.language == s.language && r.codePage == s.codePage &&
               r.data == s.data;
    }
    EXPECT_TRUE(found) << "type " << r.type.id << " name " << r.name.id;
  }
}

TEST(ResourceTreeTest, SerializedTreesParseBackAndAreStable) {
  const ResourceTree tree = SampleTree();
  for (uint32_t rva : {0x1000u, 0x1d000u}) {
    Bytes bytes, again;
    ASSERT_TRUE(tree.Serialize(rva, &bytes).ok());
    ResourceTree parsed;
    const Status status = ResourceTree::Parse(bytes.data(), bytes.size(), rva, &parsed);
    ASSERT_TRUE(status.ok()) << status.reason();
    ExpectSameResources(tree, parsed);
    ASSERT_TRUE(parsed.Serialize(rva, &again).ok());
    EXPECT_EQ(bytes, again);
  }
  // The loader's order: named types first, then numbers ascending.
  Bytes bytes;
  ASSERT_TRUE(tree.Serialize(0x1000, &bytes).ok());
  EXPECT_EQ(Get32(bytes, 12), 1u | 2u << 16);  // one named type, two numbered
  EXPECT_NE(Get32(bytes, 16) & 0x80000000u, 0u);
  EXPECT_EQ(Get32(bytes, 24), kResourceIcon);
  EXPECT_EQ(Get32(bytes, 32), kResourceManifest);
}

TEST(ResourceTreeTest, RefusesDamagedTrees) {
  Bytes good;
  ASSERT_TRUE(SampleTree().Serialize(0x1000, &good).ok());
  // The first type's (AVI's) directory is at 0x28 (root: 16 + 3 entries of 8); its one name
  // entry at 0x38, whose language directory is at 0x40; that one's entry at 0x50.
  struct Case {
    const char* what;
    void (*damage)(Bytes*);
    const char* reason;
  } cases[] = {
      {"cut short", [](Bytes* b) { b->resize(12); }, "does not fit"},
      {"a loop to the root", [](Bytes* b) { Put32(b, 0x3C, 0x80000000u); }, "reached twice"},
      {"data where a directory belongs", [](Bytes* b) { Put32(b, 0x3C, 0x50); }, "three levels"},
      {"a directory under a language", [](Bytes* b) { Put32(b, 0x54, 0x80000028u); }, "three levels"},
      {"entries past the end", [](Bytes* b) { Put16(b, 14, 0xFFFF); }, "does not fit"},
      {"a name past the end", [](Bytes* b) { Put32(b, 16, 0x8FFFFFF0u); }, "does not fit"},
      {"bytes outside the section", [](Bytes* b) {
         const uint32_t entry = Get32(*b, 0x54);
         Put32(b, entry, 0x0FFF);
       }, "lie outside"},
  };
  for (const Case& c : cases) {
    Bytes bytes = good;
    c.damage(&bytes);
    ResourceTree tree;
    const Status status = ResourceTree::Parse(bytes.data(), bytes.size(), 0x1000, &tree);
    EXPECT_FALSE(status.ok()) << c.what;
    EXPECT_NE(status.reason().find(c.reason), std::string::npos) << c.what << ": " << status.reason();
  }
}

// An icon file with a 16x16 bitmap (planes and bits left 0 in its entry) and a 256x256 PNG.
Bytes IconFile() {
  Bytes bmp(40 + 64, 0), png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3};
  Put32(&bmp, 0, 40);
  Put16(&bmp, 12, 1);
  Put16(&bmp, 14, 32);
  Bytes file(6 + 2 * 16, 0);
  Put16(&file, 2, 1);
  Put16(&file, 4, 2);
  file[6] = 16;
  file[7] = 16;
  Put32(&file, 6 + 8, static_cast<uint32_t>(bmp.size()));
  Put32(&file, 6 + 12, static_cast<uint32_t>(file.size()));
  Put16(&file, 22 + 4, 1);
  Put16(&file, 22 + 6, 32);
  Put32(&file, 22 + 8, static_cast<uint32_t>(png.size()));
  Put32(&file, 22 + 12, static_cast<uint32_t>(file.size() + bmp.size()));
  file.insert(file.end(), bmp.begin(), bmp.end());
  file.insert(file.end(), png.begin(), png.end());
  return file;
}

TEST(IconFileTest, ReadsEveryImageIntoAGroup) {
  std::vector<IconImage> images;
  const Status status = ParseIconFile(IconFile(), "app.ico", &images);
  ASSERT_TRUE(status.ok()) << status.reason();
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].bitCount, 32u);  // from the bitmap's header
  EXPECT_EQ(images[0].planes, 1u);
  EXPECT_EQ(images[1].width, 256u);
  EXPECT_EQ(images[1].data.size(), 11u);
  std::vector<IconGroupEntry> entries;
  ASSERT_TRUE(ParseIconGroup(IconGroupData(images, 7), &entries).ok());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].width, 16u);
  EXPECT_EQ(entries[0].id, 7);
  EXPECT_EQ(entries[1].width, 256u);
  EXPECT_EQ(entries[1].id, 8);
}

TEST(IconFileTest, RefusesWhatIsNoIconWithTheReason) {
  struct Case {
    const char* what;
    void (*change)(Bytes*);
    const char* reason;
  } cases[] = {
      {"empty", [](Bytes* b) { b->clear(); }, "too short"},
      {"a cursor", [](Bytes* b) { Put16(b, 2, 2); }, "a cursor file"},
      {"a bitmap file", [](Bytes* b) { (*b)[0] = 'B', (*b)[1] = 'M'; }, "does not start with an icon directory"},
      {"no image", [](Bytes* b) { Put16(b, 4, 0); }, "no image"},
      {"a directory past the end", [](Bytes* b) { Put16(b, 4, 0xFFFF); }, "runs past the end"},
      {"an image past the end", [](Bytes* b) { Put32(b, 22 + 8, 12); }, "lies outside the file"},
      {"an empty image", [](Bytes* b) { Put32(b, 6 + 8, 0); }, "lies outside the file"},
      {"an image of text", [](Bytes* b) { (*b)[b->size() - 11] = 'x'; }, "neither a bitmap nor a PNG"},
  };
  for (const Case& c : cases) {
    Bytes file = IconFile();
    c.change(&file);
    std::vector<IconImage> images;
    const Status status = ParseIconFile(file, "--icon x.ico", &images);
    EXPECT_FALSE(status.ok()) << c.what;
    EXPECT_EQ(status.reason().rfind("--icon x.ico is not an icon file: ", 0), 0u) << status.reason();
    EXPECT_NE(status.reason().find(c.reason), std::string::npos) << c.what << ": " << status.reason();
  }
}

TEST(VersionInfoTest, DottedVersions) {
  struct Case {
    const char* text;
    DottedVersion want;
    const char* reason;  // null: accepted
  } cases[] = {
      {"1", {1, 0, 0, 0}, nullptr},
      {"1.2.3", {1, 2, 3, 0}, nullptr},
      {"65535.0.00.4", {65535, 0, 0, 4}, nullptr},
      {"", {}, "not numbers"},
      {"1..2", {}, "not numbers"},
      {"1.2.", {}, "not numbers"},
      {" 1", {}, "not numbers"},
      {"-1", {}, "not numbers"},
      {"1.2.3-beta", {}, "not numbers"},
      {"1.2.3.4.5", {}, "more than four"},
      {"65536", {}, "above 65535"},
      {"99999999999", {}, "not numbers"},
  };
  for (const Case& c : cases) {
    DottedVersion got{};
    const Status status = ParseDottedVersion(c.text, &got);
    EXPECT_EQ(status.ok(), c.reason == nullptr) << c.text << ": " << status.reason();
    if (c.reason) {
      EXPECT_NE(status.reason().find(c.reason), std::string::npos) << status.reason();
    } else {
      EXPECT_EQ(got, c.want) << c.text;
    }
  }
}

TEST(VersionInfoTest, RefusesBadArgumentsWithTheReason) {
  struct Case {
    std::vector<std::string> arguments;
    const char* reason;
  } cases[] = {
      {{"Version=1"}, "unknown key 'Version' (the keys: FileVersion, ProductVersion, CompanyName"},
      {{"companyname=x"}, "unknown key"},
      {{"CompanyName"}, "wants KEY=VALUE"},
      {{"CompanyName="}, "empty value"},
      {{"CompanyName=a", "CompanyName=b"}, "given twice"},
      {{"ProductName=\xC3"}, "not UTF-8"},
      {{"ProductName=" + std::string(kMaxVersionValue + 1, 'x')}, "longer than"},
      {{"FileVersion=1.x"}, "--version-info FileVersion: version '1.x'"},
  };
  for (const Case& c : cases) {
    VersionInfo info;
    Status status;
    for (const std::string& a : c.arguments) {
      if (status.ok()) status = AddVersionString(a, &info);
    }
    EXPECT_NE(status.reason().find(c.reason), std::string::npos) << c.arguments[0] << ": " << status.reason();
  }
}

TEST(VersionInfoTest, BuildsAResourceThatReadsBack) {
  struct Case {
    std::vector<std::string> arguments;
    DottedVersion file, product;
  } cases[] = {
      {{"ProductVersion=1.2.3"}, {1, 2, 3, 0}, {1, 2, 3, 0}},
      {{"FileVersion=4.5.6.7", "ProductVersion=1.2"}, {4, 5, 6, 7}, {1, 2, 0, 0}},
      {{"ProductVersion=1.2", "FileVersion=4.5.6.7"}, {4, 5, 6, 7}, {1, 2, 0, 0}},
      {{"CompanyName=Bär & Söhne GmbH", "LegalCopyright=© 2026", "OriginalFilename=Setup.exe"}, {}, {}},
  };
  for (const Case& c : cases) {
    VersionInfo info;
    for (const std::string& a : c.arguments) ASSERT_TRUE(AddVersionString(a, &info).ok()) << a;
    const Bytes data = BuildVersionResource(info);
    EXPECT_EQ(data[0] | data[1] << 8, static_cast<int>(data.size()));
    EXPECT_EQ(Get32(data, 40), 0xFEEF04BDu);  // the fixed part, after "VS_VERSION_INFO" and padding
    VersionInfo read;
    const Status status = ParseVersionResource(data, &read);
    ASSERT_TRUE(status.ok()) << status.reason();
    EXPECT_EQ(read.fileVersion, c.file);
    EXPECT_EQ(read.productVersion, c.product);
    EXPECT_EQ(read.strings, info.strings);
    EXPECT_EQ(info.strings.size(), c.arguments.size());
  }
  // Kept in the keys' order, whatever the order given.
  VersionInfo info;
  ASSERT_TRUE(AddVersionString("ProductName=P", &info).ok());
  ASSERT_TRUE(AddVersionString("FileVersion=1", &info).ok());
  EXPECT_EQ(info.strings.front().first, "FileVersion");
}

TEST(StubManifestTest, SetsEachExecutionLevelOnce) {
  for (const char* level : {"asInvoker", "highestAvailable", "requireAdministrator"}) {
    ASSERT_TRUE(CheckExecutionLevel(level).ok());
    std::string manifest = kManifest;
    ASSERT_TRUE(SetExecutionLevel("asInvoker", &manifest).ok());
    ASSERT_TRUE(SetExecutionLevel(level, &manifest).ok());  // replaces the first
    EXPECT_EQ(ManifestExecutionLevel(manifest), level);
    EXPECT_EQ(manifest.find("<trustInfo"), manifest.rfind("<trustInfo"));
    EXPECT_LT(manifest.find("</trustInfo>"), manifest.find("</assembly>"));
  }
  EXPECT_EQ(ManifestExecutionLevel(kManifest), "");
  for (const char* bad : {"", "admin", "AsInvoker", "requireAdministrator "}) {
    EXPECT_NE(CheckExecutionLevel(bad).reason().find("none of asInvoker, highestAvailable"), std::string::npos);
  }
  std::string noEnd = "<assembly>";
  EXPECT_NE(SetExecutionLevel("asInvoker", &noEnd).reason().find("no </assembly>"), std::string::npos);
  std::string prefixed = "<assembly><v3:trustInfo/></assembly>";
  EXPECT_FALSE(SetExecutionLevel("asInvoker", &prefixed).ok());
}

// A PE32+ image of two sections, .text and .rsrc (the tree of SampleTree), with `tail` bytes
// after the last section.
Bytes PeImage(size_t tail = 0) {
  Bytes tree;
  SampleTree().Serialize(0x2000, &tree);
  Bytes image(0x400, 0);
  image[0] = 'M', image[1] = 'Z';
  Put32(&image, 0x3C, 0x40);
  Put32(&image, 0x40, 0x4550);
  Put16(&image, 0x44, kMachineAmd64);
  Put16(&image, 0x46, 2);
  Put16(&image, 0x54, 240);  // SizeOfOptionalHeader
  const size_t opt = 0x58;
  Put16(&image, opt, 0x20B);
  Put32(&image, opt + 32, 0x1000);
  Put32(&image, opt + 36, 0x200);
  Put32(&image, opt + 56, 0x3000);
  Put32(&image, opt + 60, 0x400);
  Put32(&image, opt + 108, 16);
  Put32(&image, opt + 112 + 16, 0x2000);
  Put32(&image, opt + 112 + 20, static_cast<uint32_t>(tree.size()));
  const size_t text = opt + 240, rsrc = text + 40;
  std::memcpy(&image[text], ".text", 5);
  Put32(&image, text + 8, 0x10);
  Put32(&image, text + 12, 0x1000);
  Put32(&image, text + 16, 0x200);
  Put32(&image, text + 20, 0x400);
  std::memcpy(&image[rsrc], ".rsrc", 5);
  Put32(&image, rsrc + 8, static_cast<uint32_t>(tree.size()));
  Put32(&image, rsrc + 12, 0x2000);
  Put32(&image, rsrc + 16, static_cast<uint32_t>((tree.size() + 0x1FF) & ~0x1FFu));
  Put32(&image, rsrc + 20, 0x600);
  Put32(&image, opt + 8, 0x200 + Get32(image, rsrc + 16));  // SizeOfInitializedData
  image.resize(0x600, 0xCC);
  image.insert(image.end(), tree.begin(), tree.end());
  image.resize(0x600 + Get32(image, rsrc + 16) + tail, 0);
  return image;
}

TEST(StubResourcesTest, RewritesTheLastSectionAndItsHeaders) {
  StubResourceEdits edits;
  ASSERT_TRUE(ParseIconFile(IconFile(), "app.ico", &edits.icon).ok());
  edits.versionGiven = AddVersionString("ProductVersion=1.2.3", &edits.version).ok();
  edits.executionLevel = "requireAdministrator";
  Bytes image = PeImage();
  const Bytes before = image;
  const Status status = ApplyStubResources(edits, nullptr, &image);
  ASSERT_TRUE(status.ok()) << status.reason();

  ResourceSectionLayout l;
  ASSERT_TRUE(FindResourceSection(image.data(), image.size(), &l).ok());
  EXPECT_TRUE(l.last);
  EXPECT_EQ(l.rva, 0x2000u);
  EXPECT_EQ(l.rawOffset, 0x600u);
  EXPECT_EQ(l.rawSize % 0x200, 0u);
  EXPECT_EQ(image.size(), l.rawOffset + l.rawSize);
  EXPECT_EQ(Get32(image, l.sizeOfImage), (0x2000 + l.virtualSize + 0xFFF) & ~0xFFFu);
  EXPECT_EQ(Get32(image, l.directory + 4), l.virtualSize);
  EXPECT_EQ(Get32(image, l.sizeOfInitializedData), 0x200 + l.rawSize);
  EXPECT_TRUE(std::equal(before.begin() + 0x400, before.begin() + 0x600, image.begin() + 0x400));  // .text
  sfxgen::PeStampFields fields;
  ASSERT_TRUE(sfxgen::FindPeStampFields(image.data(), image.size(), &fields).ok());
  EXPECT_EQ(Get32(image, fields.checkSumOffset), sfxgen::PeCheckSum(image.data(), image.size(), fields.checkSumOffset));
  EXPECT_NE(Get32(image, fields.timeStampOffset), 0u);

  ResourceTree tree;
  ASSERT_TRUE(ResourceTree::Parse(image.data() + l.rawOffset, l.virtualSize, l.rva, &tree).ok());
  EXPECT_EQ(tree.OfType(kResourceIcon).size(), 4u);  // the two the group did not use, and the new two
  std::vector<IconGroupEntry> group;
  ASSERT_TRUE(ParseIconGroup(tree.Find(kResourceGroupIcon, 1)->data, &group).ok());
  EXPECT_EQ(group[0].id, 3);  // after the highest id left
  EXPECT_EQ(tree.Find(kResourceIcon, 4)->data.size(), 11u);
  const Resource* manifest = tree.Find(kResourceManifest, 1);
  EXPECT_EQ(ManifestExecutionLevel(std::string(manifest->data.begin(), manifest->data.end())),
            "requireAdministrator");
  EXPECT_EQ(manifest->codePage, 1252u);
  EXPECT_NE(tree.Find(kResourceVersion, 1), nullptr);

  // Again, on the result: the group's images give way to the new ones.
  ASSERT_TRUE(ApplyStubResources(edits, nullptr, &image).ok());
  ASSERT_TRUE(FindResourceSection(image.data(), image.size(), &l).ok());
  ASSERT_TRUE(ResourceTree::Parse(image.data() + l.rawOffset, l.virtualSize, l.rva, &tree).ok());
  EXPECT_EQ(tree.OfType(kResourceIcon).size(), 4u);
}

TEST(StubResourcesTest, RefusesWhatItCannotRewrite) {
  StubResourceEdits level;
  level.executionLevel = "asInvoker";
  struct Case {
    const char* what;
    Bytes image;
    void (*change)(Bytes*);
    const char* reason;
  } cases[] = {
      {"bytes after the section", PeImage(16), [](Bytes*) {}, "does not end with its resource section"},
      {"resources in the first section", PeImage(), [](Bytes* b) { Put32(b, 0x58 + 112 + 16, 0x1000); },
       "not at the start of its last section"},
      {"no resources", PeImage(), [](Bytes* b) { Put32(b, 0x58 + 112 + 16, 0); }, "has no resources"},
      {"no manifest", PeImage(), [](Bytes* b) {
         // The manifest type's id becomes 25: the tree has no RT_MANIFEST then.
         ResourceSectionLayout l;
         FindResourceSection(b->data(), b->size(), &l);
         Put32(b, l.rawOffset + 16 + 2 * 8, 25);
       }, "no manifest"},
      {"not a PE image", PeImage(), [](Bytes* b) { (*b)[0x40] = 'X'; }, "not a PE32 or PE32+"},
  };
  for (Case& c : cases) {
    c.change(&c.image);
    const Bytes before = c.image;
    const Status status = ApplyStubResources(level, nullptr, &c.image);
    EXPECT_NE(status.reason().find(c.reason), std::string::npos) << c.what << ": " << status.reason();
    EXPECT_EQ(c.image, before) << c.what;
  }
}

}  // namespace
}  // namespace sfxpack
