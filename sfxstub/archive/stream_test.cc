#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sfxstub/archive/disk_stream.h"
#include "sfxstub/archive/memory_stream.h"
#include "sfxstub/archive/lowlevel_io.h"
#include "tests/common/temp_dir.h"

namespace sfx {
namespace {

TEST(DiskStreamTest, OpenTwiceKeepsFirstFileAndReportsInvalidHandle) {
  TempDir dir;
  std::string a = dir.Write("a.bin", "first");
  std::string b = dir.Write("b.bin", "second file");
  DiskStream s;
  ASSERT_TRUE(s.OpenRead(a.c_str()));
  EXPECT_EQ(s.Size(), 5u);
  EXPECT_FALSE(s.OpenRead(b.c_str()));
  EXPECT_EQ(s.LastError, 6u);
  EXPECT_TRUE(s.IsOpen());
  char buf[8] = {};
  uint32_t done = 0;
  ASSERT_TRUE(s.Read(buf, sizeof buf, &done));
  EXPECT_EQ(std::string(buf, done), "first");
}

TEST(DiskStreamTest, ClosedAndMissingFilesReportWin32Numbers) {
  TempDir dir;
  DiskStream s;
  char c;
  EXPECT_FALSE(s.Read(&c, 1, nullptr));
  EXPECT_EQ(s.LastError, 6u);
  EXPECT_FALSE(s.Write(&c, 1, nullptr));
  EXPECT_EQ(s.LastError, 6u);
  EXPECT_FALSE(s.OpenRead(dir.Path("missing.bin").c_str()));
  EXPECT_EQ(s.LastError, 2u);
  EXPECT_FALSE(s.IsOpen());
  // The stream is usable again after a failed open.
  std::string a = dir.Write("a.bin", "x");
  EXPECT_TRUE(s.OpenRead(a.c_str()));
}

TEST(DiskStreamTest, ReadAtEndSucceedsWithZeroBytes) {
  TempDir dir;
  std::string a = dir.Write("a.bin", "abc");
  DiskStream s;
  ASSERT_TRUE(s.OpenRead(a.c_str()));
  EXPECT_EQ(s.Seek(0, kSeekEnd), 3u);
  char buf[4];
  uint32_t done = 99;
  EXPECT_TRUE(s.Read(buf, 4, &done));
  EXPECT_EQ(done, 0u);
}

// Relative moves take the u32 offset as signed: 0xFFFFFFFE is two bytes back, from the current
// position or from the end, for both streams.
TEST(FileStreamTest, RelativeSeeksGoBackwardsToo) {
  TempDir dir;
  std::string a = dir.Write("a.bin", "0123456789");
  DiskStream disk;
  ASSERT_TRUE(disk.OpenRead(a.c_str()));
  uint8_t bytes[10];
  std::memcpy(bytes, "0123456789", 10);
  MemoryStream memory;
  ASSERT_TRUE(memory.Attach(bytes, 10));
  for (FileStream* s : {static_cast<FileStream*>(&disk), static_cast<FileStream*>(&memory)}) {
    EXPECT_EQ(6u, s->Seek(6, kSeekSet));
    EXPECT_EQ(4u, s->Seek(0xFFFFFFFEu, kSeekCur));
    EXPECT_EQ('4', s->ReadU8());
    EXPECT_EQ(7u, s->Seek(2, kSeekCur));
  }
  EXPECT_EQ(8u, disk.Seek(0xFFFFFFFEu, kSeekEnd));
  EXPECT_EQ('8', disk.ReadU8());
}

TEST(DiskStreamTest, ReadBlockPastEndIsZeroFilled) {
  TempDir dir;
  std::string a = dir.Write("a.bin", "0123456789");
  DiskStream s;
  ASSERT_TRUE(s.OpenRead(a.c_str()));
  s.Seek(6, kSeekSet);
  uint8_t* block = s.ReadBlock(10);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::memcmp(block, "6789\0\0\0\0\0\0", 10), 0);
  s.ReleaseBlock(block);
  uint8_t* empty = s.ReadBlock(0);
  EXPECT_NE(empty, nullptr);
  s.ReleaseBlock(empty);
  s.ReleaseBlock(nullptr);
}

TEST(DiskStreamTest, SizeFollowsWritesAndKeepsPosition) {
  TempDir dir;
  DiskStream s;
  ASSERT_TRUE(s.Create(dir.Path("new.bin").c_str()));
  EXPECT_EQ(s.Size(), 0u);
  EXPECT_EQ(s.Position(), 0u);
  uint32_t done = 0;
  ASSERT_TRUE(s.Write("hello world", 11, &done));
  EXPECT_EQ(done, 11u);
  s.Seek(2, kSeekSet);
  EXPECT_EQ(s.Size(), 11u);
  EXPECT_EQ(s.Position(), 2u);
  char c = 0;
  ASSERT_TRUE(s.Read(&c, 1, nullptr));
  EXPECT_EQ(c, 'l');
  s.Close();
  EXPECT_FALSE(s.IsOpen());
  EXPECT_EQ(s.Size(), 11u);  // size survives Close
  // Create truncates an existing file.
  ASSERT_TRUE(s.Create(dir.Path("new.bin").c_str()));
  EXPECT_EQ(s.Size(), 0u);
}

TEST(MemoryStreamTest, ReadsClampAtEndAndFailPastIt) {
  uint8_t data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<uint8_t>(i);
  MemoryStream m;
  ASSERT_TRUE(m.Attach(data, 16));
  m.Seek(12, kSeekSet);
  uint8_t out[10] = {};
  uint32_t done = 0;
  ASSERT_TRUE(m.Read(out, 10, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(out[0], 12);
  done = 77;
  EXPECT_FALSE(m.Read(out, 1, &done));
  EXPECT_EQ(done, 77u);  // untouched on failure
}

TEST(MemoryStreamTest, ReadBlockNeverReachesPastTheBlock) {
  uint8_t data[16] = {};
  MemoryStream m;
  ASSERT_TRUE(m.Attach(data, 16));
  m.Seek(12, kSeekSet);
  EXPECT_EQ(m.ReadBlock(5), nullptr);
  EXPECT_EQ(m.Position(), 12u);
  EXPECT_EQ(m.ReadBlock(4), data + 12);
  EXPECT_EQ(m.Position(), 16u);
  EXPECT_NE(m.ReadBlock(0), nullptr);  // an empty block at the very end
  // Counts near 2^32 must not wrap around the position + count comparison.
  m.Seek(12, kSeekSet);
  EXPECT_EQ(m.ReadBlock(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(m.ReadBlock(0xFFFFFFF5u), nullptr);
  EXPECT_EQ(m.Position(), 12u);
  m.Seek(40, kSeekSet);  // beyond the end: no block, no read
  EXPECT_EQ(m.ReadBlock(0), nullptr);
  uint8_t b;
  EXPECT_FALSE(m.Read(&b, 1, nullptr));
}

TEST(MemoryStreamTest, HugeCountsReadAndWriteOnlyWhatIsLeft) {
  uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t out[8] = {};
  MemoryStream m;
  ASSERT_TRUE(m.Attach(data, 8));
  m.Seek(5, kSeekSet);
  uint32_t done = 0;
  ASSERT_TRUE(m.Read(out, 0xFFFFFFFEu, &done));
  EXPECT_EQ(done, 3u);
  m.Seek(6, kSeekSet);
  const uint8_t src[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  ASSERT_TRUE(m.Write(src, 0xFFFFFFFFu, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(data[7], 9);
  EXPECT_FALSE(m.Write(src, 1, &done));  // the block never grows
}

TEST(MemoryStreamTest, AttachRulesAndCloseKeepsSize) {
  uint8_t a[4] = {}, b[2] = {};
  MemoryStream m;
  EXPECT_FALSE(m.Attach(nullptr, 4));
  uint8_t x;
  EXPECT_FALSE(m.Read(&x, 1, nullptr));  // detached
  EXPECT_EQ(m.ReadBlock(0), nullptr);
  ASSERT_TRUE(m.Attach(a, 4));
  EXPECT_FALSE(m.Attach(b, 2));
  m.Close();
  EXPECT_EQ(m.Size(), 4u);
  EXPECT_TRUE(m.Attach(b, 2));
  EXPECT_EQ(m.Size(), 2u);
}

TEST(FileStreamTest, LittleEndianIntegersAndZeroPastEnd) {
  uint8_t data[7] = {0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0xAB};
  MemoryStream m;
  ASSERT_TRUE(m.Attach(data, 7));
  EXPECT_EQ(m.ReadU32(), 0x04030201u);
  EXPECT_EQ(m.ReadU16(), 0x0201u);
  EXPECT_EQ(m.ReadU32(), 0x000000ABu);  // missing bytes read as zero
  EXPECT_EQ(m.ReadU8(), 0u);
}

}  // namespace
}  // namespace sfx
