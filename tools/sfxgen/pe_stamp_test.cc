#include "tools/sfxgen/pe_stamp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/format/byte_order.h"

namespace sfxgen {
namespace {

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) { return sfx::LoadU32(&b[at]); }
void SetU32(std::vector<uint8_t>* b, size_t at, uint32_t v) { sfx::StoreU32(&(*b)[at], v); }

// A PE32 (or PE32+) header at 0x80 with a 0xE0-byte optional header, then some bytes of body.
std::vector<uint8_t> Image(uint16_t magic = 0x10B) {
  std::vector<uint8_t> b(0x300);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  b[0] = 'M';
  b[1] = 'Z';
  SetU32(&b, 0x3C, 0x80);
  b[0x80] = 'P';
  b[0x81] = 'E';
  b[0x82] = b[0x83] = 0;
  b[0x80 + 20] = 0xE0;  // SizeOfOptionalHeader
  b[0x80 + 21] = 0;
  sfx::StoreU16(&b[0x80 + 24], magic);
  return b;
}
constexpr size_t kTimeStampAt = 0x80 + 8;
constexpr size_t kCheckSumAt = 0x80 + 24 + 64;

TEST(PeStampTest, CheckSumAddsWordsWithFoldedCarriesThenTheLength) {
  const struct {
    std::vector<uint8_t> bytes;
    size_t fieldAt;
    uint32_t sum;
  } cases[] = {
      {{0x01, 0x02, 0x03, 0x00}, 100, 0x0204 + 4},
      {{0x01, 0x02, 0x03}, 100, 0x0204 + 3},                    // odd length: padded with zero
      {{0xFF, 0xFF, 0x02, 0x00}, 100, 0x0002 + 4},              // 0x10001 folds to 0x0002
      {{0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0x00}, 2, 0x0003 + 8},  // the field counts as 0
      {{0x01, 0xAA, 0xBB, 0xCC, 0xDD, 0x02}, 1, 0x0201 + 6},    // also where it is not aligned
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.sum, PeCheckSum(c.bytes.data(), c.bytes.size(), c.fieldAt)) << c.fieldAt;
  }
}

TEST(PeStampTest, GivenTimeAndACheckSumThatVerifies) {
  for (uint16_t magic : {0x10B, 0x20B}) {
    std::vector<uint8_t> image = Image(magic);
    const uint32_t time = 1700000000;
    Status status;
    ASSERT_TRUE((status = StampPeImage(&image, &time)).ok()) << status.reason();
    EXPECT_EQ(time, U32At(image, kTimeStampAt));
    EXPECT_EQ(PeCheckSum(image.data(), image.size(), kCheckSumAt), U32At(image, kCheckSumAt));
    std::vector<uint8_t> before = Image(magic);
    SetU32(&before, kTimeStampAt, time);
    SetU32(&before, kCheckSumAt, U32At(image, kCheckSumAt));
    EXPECT_EQ(before, image) << "nothing else changes";
  }
}

TEST(PeStampTest, DerivedTimeDependsOnTheContentOnly) {
  std::vector<uint8_t> image = Image();
  Status status;
  ASSERT_TRUE((status = StampPeImage(&image, nullptr)).ok()) << status.reason();
  const uint32_t stamp = U32At(image, kTimeStampAt);
  EXPECT_GE(stamp, kDerivedTimeStampBase);
  EXPECT_LT(stamp, kDerivedTimeStampBase + (1u << 28));
  EXPECT_EQ(PeCheckSum(image.data(), image.size(), kCheckSumAt), U32At(image, kCheckSumAt));

  // Stamped again, or from other old values of the two fields: the same file.
  const std::vector<uint8_t> stamped = image;
  ASSERT_TRUE(StampPeImage(&image, nullptr).ok());
  EXPECT_EQ(stamped, image);
  SetU32(&image, kTimeStampAt, 12345);
  SetU32(&image, kCheckSumAt, 0xFFFFFFFF);
  ASSERT_TRUE(StampPeImage(&image, nullptr).ok());
  EXPECT_EQ(stamped, image);

  // Any other byte changed: another stamp.
  image[0x200] ^= 1;
  ASSERT_TRUE(StampPeImage(&image, nullptr).ok());
  EXPECT_NE(stamp, U32At(image, kTimeStampAt));
}

// Both flags join what the link set, in PE32 and PE32+, and the checksum stamped after them
// covers them.
TEST(PeStampTest, RunFromSwapFlagsJoinTheCharacteristics) {
  constexpr size_t kCharacteristicsAt = 0x80 + 22;
  for (uint16_t magic : {0x10B, 0x20B}) {
    std::vector<uint8_t> image = Image(magic);
    image[kCharacteristicsAt] = 0x2E;
    image[kCharacteristicsAt + 1] = 0x02;
    std::vector<uint8_t> expected = image;
    expected[kCharacteristicsAt + 1] = 0x0E;
    Status status;
    ASSERT_TRUE((status = SetRunFromSwap(&image)).ok()) << status.reason();
    EXPECT_EQ(expected, image);
    ASSERT_TRUE(SetRunFromSwap(&image).ok());
    EXPECT_EQ(expected, image) << "setting them again changes nothing";
    ASSERT_TRUE(StampPeImage(&image, nullptr).ok());
    EXPECT_EQ(PeCheckSum(image.data(), image.size(), kCheckSumAt), U32At(image, kCheckSumAt));
  }
}

TEST(PeStampTest, RefusesWhatIsNotAPeImageAndLeavesItAlone) {
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
    size_t size;
  };
  const Case cases[] = {
      {"no MZ", 0, 0x5A4E, 0x300},
      {"PE header beyond the file", 0x3C, 0x2F0, 0x300},
      {"PE header offset near 4 GiB", 0x3C, 0xFFFFFFF0, 0x300},
      {"no PE signature", 0x80, 0x00004550 ^ 0x01, 0x300},
      {"unknown magic", 0x80 + 24, 0x107, 0x300},
      {"optional header too short", 0x80 + 20, 64, 0x300},
      {"file ends inside the optional header", 0, 0x5A4D, 0x80 + 24 + 60},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = Image();
    SetU32(&image, c.at, c.value);
    image.resize(c.size);
    const std::vector<uint8_t> before = image;
    const Status status = StampPeImage(&image, nullptr);
    EXPECT_FALSE(status.ok()) << c.what;
    EXPECT_FALSE(status.reason().empty()) << c.what;
    EXPECT_FALSE(SetRunFromSwap(&image).ok()) << c.what;
    EXPECT_EQ(before, image) << c.what;
  }
}

}  // namespace
}  // namespace sfxgen
