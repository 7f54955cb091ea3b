// The resource rewrite on the real stub (SFXSTUB_EXE, a Windows tree's): its own section parses
// and serializes to the same bytes, and the stub with an icon, version information and an
// execution level set still passes every check `pack` makes of a stub. The edited stub is left
// at SFXSTUB_EDITED for the analysers (resources_e2e.sh runs them on it). A native program that
// the Windows trees run: the native tree has no stub.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sfxstub/signing/signature_trailer.h"
#include "tests/common/test_signer_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/key_slot.h"
#include "tools/sfxpack/pack_checks.h"
#include "tools/sfxpack/resource_tree.h"
#include "tools/sfxpack/stub_resources.h"

namespace sfxpack {
namespace {

std::vector<uint8_t> ReadStub() {
  const char* path = std::getenv("SFXSTUB_EXE");
  std::vector<uint8_t> image;
  EXPECT_NE(path, nullptr) << "SFXSTUB_EXE is not set";
  if (path) {
    EXPECT_TRUE(ReadWholeFile("SFXSTUB_EXE", path, 1u << 24, &image).ok()) << path;
  }
  return image;
}

TEST(StubImageResourcesTest, TheStubsOwnSectionSerializesToTheSameBytes) {
  const std::vector<uint8_t> image = ReadStub();
  ResourceSectionLayout l;
  ASSERT_TRUE(FindResourceSection(image.data(), image.size(), &l).ok());
  ASSERT_TRUE(l.last);
  ResourceTree tree;
  const Status status = ResourceTree::Parse(image.data() + l.rawOffset, l.treeBytes(), l.rva, &tree);
  ASSERT_TRUE(status.ok()) << status.reason();
  EXPECT_EQ(tree.resources().size(), 5u);  // the clip, two icon images, the group, the manifest
  std::vector<uint8_t> again;
  ASSERT_TRUE(tree.Serialize(l.rva, &again).ok());
  const std::vector<uint8_t> own(image.begin() + l.rawOffset, image.begin() + l.rawOffset + l.virtualSize);
  ASSERT_EQ(again.size(), own.size());
  for (size_t i = 0; i < own.size(); ++i) ASSERT_EQ(again[i], own[i]) << "at offset " << i;
}

TEST(StubImageResourcesTest, TheEditedStubPassesPacksChecks) {
  std::vector<uint8_t> image = ReadStub();
  StubKeySlot slotBefore;
  ASSERT_TRUE(FindKeySlot(image.data(), image.size(), &slotBefore).ok());
  StubResourceEdits edits;
  IconImage big;  // a 48x48 PNG-compressed image, as icon editors write them
  big.width = big.height = 48;
  big.planes = 1;
  big.bitCount = 32;
  big.data = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0};
  edits.icon = {big};
  edits.versionGiven = AddVersionString("FileVersion=1.2.3.4", &edits.version).ok() &&
                       AddVersionString("CompanyName=Example Ltd", &edits.version).ok();
  edits.executionLevel = "highestAvailable";
  const Status status = ApplyStubResources(edits, nullptr, &image);
  ASSERT_TRUE(status.ok()) << status.reason();
  const char* out = std::getenv("SFXSTUB_EDITED");
  ASSERT_NE(out, nullptr) << "SFXSTUB_EDITED is not set";
  ASSERT_TRUE(WriteFileAtomically(out, image).ok());

  InputFile edited;
  ASSERT_TRUE(edited.Open("edited", out, 1u << 24).ok());
  EXPECT_TRUE(IsPeFile(edited));
  EXPECT_FALSE(HasCertificateTable(edited));
  // The key slot, generic or keyed, comes through as it was, and a key can still be stamped in.
  StubKeySlot slotAfter;
  ASSERT_TRUE(FindKeySlot(image.data(), image.size(), &slotAfter).ok());
  EXPECT_EQ(0, std::memcmp(&slotBefore.key, &slotAfter.key, sizeof slotAfter.key));
  std::vector<uint8_t> keyed = image;
  EXPECT_TRUE(StampKey(&keyed, sfx::TestSignerKey().pub).ok());
  uint8_t signature[sfx::kDsaSignatureSize];
  sfx::SignatureKind kind;
  uint32_t signedLength = 0;
  EXPECT_FALSE(sfx::FindSignatureTrailer(out, signature, &kind, &signedLength));

  StubResources read;
  ASSERT_TRUE(ReadStubResources(edited, &read).ok());
  ASSERT_EQ(read.icon.size(), 1u);
  EXPECT_EQ(read.icon[0].width, 48u);
  EXPECT_EQ(read.version.strings, edits.version.strings);
  EXPECT_EQ(read.version.fileVersion, edits.version.fileVersion);
  EXPECT_EQ(read.executionLevel, "highestAvailable");
}

}  // namespace
}  // namespace sfxpack
