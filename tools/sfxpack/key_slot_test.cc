// The key slot: found only where its marker occurs once, stamped only when empty (or already
// holding the key), the checksum set again, nothing else changed.
#include "tools/sfxpack/key_slot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/common/stand_in_stub.h"
#include "tests/common/test_signer_key.h"
#include "tools/sfxgen/pe_stamp.h"

namespace sfxpack {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(KeySlot, FoundOnlyWhereTheMarkerOccursOnce) {
  const sfx::DsaPublicKey& key = sfx::TestSignerKey().pub;
  struct Case {
    Bytes image;
    const char* refusal;  // null: found
  };
  Bytes cut = sfx::test::StandInStub(nullptr);
  cut.resize(0x210 + 16 + 403);
  const Case cases[] = {
      {sfx::test::StandInStub(nullptr), nullptr},
      {sfx::test::StandInStub(&key, 0x1000, 0x1000 - sizeof(sfx::DsaKeySlot)), nullptr},
      {Bytes(0x400, 0), "carries no key slot"},
      {sfx::test::StandInStub(nullptr, 0x800, 0, 2), "occurs 2 times"},
      {sfx::test::StandInStub(&key, 0x800, 0, 3), "occurs 3 times"},
      {cut, "cut off"},
  };
  for (const Case& c : cases) {
    StubKeySlot slot;
    const Status status = FindKeySlot(c.image.data(), c.image.size(), &slot);
    if (!c.refusal) {
      ASSERT_TRUE(status.ok()) << status.reason();
      EXPECT_EQ(0, std::memcmp(c.image.data() + slot.offset, sfx::kKeySlotMarker, 16));
      continue;
    }
    EXPECT_EQ(2, status.code());
    EXPECT_NE(std::string::npos, status.reason().find(c.refusal)) << status.reason();
  }
}

TEST(KeySlot, StampingWritesTheKeyAndTheChecksumOnly) {
  const sfx::DsaPublicKey& key = sfx::TestSignerKey().pub;
  const Bytes generic = sfx::test::StandInStub(nullptr);
  Bytes image = generic;
  ASSERT_TRUE(StampKey(&image, key).ok());
  StubKeySlot slot;
  ASSERT_TRUE(FindKeySlot(image.data(), image.size(), &slot).ok());
  EXPECT_FALSE(slot.generic);
  EXPECT_EQ(0, std::memcmp(&slot.key, &key, sizeof key));
  sfxgen::PeStampFields fields;
  ASSERT_TRUE(sfxgen::FindPeStampFields(image.data(), image.size(), &fields).ok());
  const uint32_t sum = sfxgen::PeCheckSum(image.data(), image.size(), fields.checkSumOffset);
  EXPECT_EQ(0, std::memcmp(&sum, image.data() + fields.checkSumOffset, 4));  // little-endian host
  for (size_t i = 0; i < image.size(); ++i) {
    const bool inKey = i >= slot.offset + 16 && i < slot.offset + sizeof(sfx::DsaKeySlot);
    const bool inSum = i >= fields.checkSumOffset && i < fields.checkSumOffset + 4;
    if (!inKey && !inSum) {
      ASSERT_EQ(generic[i], image[i]) << "byte " << i;
    }
  }
  // Stamping the same key again changes nothing; another key, or no PE image, is refused.
  const Bytes once = image;
  EXPECT_TRUE(StampKey(&image, key).ok());
  EXPECT_EQ(once, image);
  sfx::DsaPublicKey other = key;
  other.g[0] ^= 1;
  EXPECT_NE(std::string::npos, StampKey(&image, other).reason().find("carries another key"));
  Bytes notPe = generic;
  notPe[0] = 'X';
  EXPECT_FALSE(StampKey(&notPe, key).ok());
  EXPECT_EQ(once, image);
}

TEST(KeySlot, ImageEndIsTheLastSectionsEnd) {
  Bytes image = sfx::test::StandInStub(nullptr, 0x1000);
  EXPECT_EQ(0x1000u, PeImageEnd(image.data(), image.size()));
  EXPECT_EQ(0x1000u, PeImageEnd(image.data(), 0x200));  // the headers suffice
  EXPECT_EQ(0u, PeImageEnd(image.data(), 0x150));       // the section table is cut
  image[0x40] = 'X';
  EXPECT_EQ(0u, PeImageEnd(image.data(), image.size()));
}

}  // namespace
}  // namespace sfxpack
