#include "sfxstub/archive/package_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/io/memory_stream.h"

namespace sfx {
namespace {

// A package file as packages carry it: magic, sizes, zlib stream, a 48-byte trailer.
std::vector<uint8_t> MakePackage(const std::string& content, uint32_t announcedSize,
                                 const char* magic = "OLMsetupFPkgFile") {
  uLongf packedSize = compressBound(content.size());
  std::vector<uint8_t> packed(packedSize);
  EXPECT_EQ(compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(content.data()),
                      content.size(), 9),
            Z_OK);
  packed.resize(packedSize);
  std::vector<uint8_t> pkg(magic, magic + 16);
  AppendU32(&pkg, announcedSize);
  AppendU32(&pkg, static_cast<uint32_t>(packed.size()));
  pkg.insert(pkg.end(), packed.begin(), packed.end());
  pkg.insert(pkg.end(), 40, 0xEE);
  pkg.insert(pkg.end(), {'O', 'L', 'M', 'S', 'i', 'g', 'n', 'd'});
  return pkg;
}

// Decodes through a MemoryStream over the whole object; returns the content or "<fail>".
std::string Decode(std::vector<uint8_t> pkg) {
  MemoryStream m;
  EXPECT_TRUE(m.Attach(pkg.data(), static_cast<uint32_t>(pkg.size())));
  std::unique_ptr<uint8_t[]> content;
  uint32_t length = 0xDEADBEEF;  // must stay untouched on failure
  if (!ReadPackageFile(&m, &content, &length)) {
    EXPECT_EQ(0xDEADBEEFu, length);
    EXPECT_FALSE(content);
    return "<fail>";
  }
  return std::string(reinterpret_cast<char*>(content.get()), length);
}

const std::string kText = "The quick brown fox jumps over the lazy dog, again and again and again.";

TEST(ReadPackageFileTest, InflatesWithExactOrLargerAnnouncedSize) {
  EXPECT_EQ(Decode(MakePackage(kText, kText.size())), kText);
  EXPECT_EQ(Decode(MakePackage(kText, kText.size() + 1000)), kText);
  EXPECT_EQ(Decode(MakePackage("", 0)), "");
}

TEST(ReadPackageFileTest, AnnouncedSizeOneShortFails) {
  EXPECT_EQ(Decode(MakePackage(kText, kText.size() - 1)), "<fail>");
}

TEST(ReadPackageFileTest, EveryDamagedByteOfTheStreamFails) {
  std::vector<uint8_t> good = MakePackage(kText, kText.size());
  uint32_t stored = LoadU32(&good[20]);
  // Any change of the zlib data (header, deflate data or Adler-32) must be detected.
  for (uint32_t i = 24; i < 24 + stored; ++i) {
    std::vector<uint8_t> bad = good;
    bad[i] ^= 0x01;
    std::string got = Decode(bad);
    EXPECT_NE(got, kText) << "byte " << i;
  }
}

TEST(ReadPackageFileTest, DamagedTrailerDoesNotMatter) {
  std::vector<uint8_t> pkg = MakePackage(kText, kText.size());
  for (size_t i = pkg.size() - 48; i < pkg.size(); ++i) pkg[i] = 0;
  EXPECT_EQ(Decode(pkg), kText);
}

TEST(ReadPackageFileTest, DeltaKindAndShortInputFailAtTheMagic) {
  EXPECT_EQ(Decode(MakePackage(kText, kText.size(), "OLMsetupDPkgFile")), "<fail>");
  std::vector<uint8_t> shortMagic = {'O', 'L', 'M', 's', 'e', 't'};
  EXPECT_EQ(Decode(shortMagic), "<fail>");
}

TEST(ReadPackageFileTest, StoredSizeBeyondTheBlockFailsWithoutReadingPastIt) {
  std::vector<uint8_t> pkg = MakePackage(kText, kText.size());
  pkg.resize(pkg.size() - 48);  // the block ends right after the zlib stream
  uint32_t stored = LoadU32(&pkg[20]);
  for (uint32_t bogus : {stored + 1, 0xFFFFFFFFu, 0xFFFFFFF0u}) {
    std::vector<uint8_t> bad = pkg;
    StoreU32(&bad[20], bogus);
    EXPECT_EQ(Decode(bad), "<fail>") << bogus;
  }
  EXPECT_EQ(Decode(pkg), kText);
}

TEST(ReadPackageFileTest, PresetDictionaryIsRefused) {
  // A zlib stream that asks for a preset dictionary can't be inflated by the one-call decoder.
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  const char dict[] = "dictionary";
  ASSERT_EQ(deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dict), sizeof dict), Z_OK);
  std::vector<uint8_t> packed(256);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(kText.data()));
  z.avail_in = static_cast<uInt>(kText.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  packed.resize(z.total_out);
  deflateEnd(&z);
  std::vector<uint8_t> pkg(CompressedPackageMagic(), CompressedPackageMagic() + 16);
  AppendU32(&pkg, static_cast<uint32_t>(kText.size()));
  AppendU32(&pkg, static_cast<uint32_t>(packed.size()));
  pkg.insert(pkg.end(), packed.begin(), packed.end());
  EXPECT_EQ(Decode(pkg), "<fail>");
}

}  // namespace
}  // namespace sfx
