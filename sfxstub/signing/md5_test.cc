// The stub's own MD5 against known vectors, also over data fed in pieces of every size.
#include "sfxstub/signing/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/common/signing_samples.h"

namespace sfx {
namespace {

using test::Bytes;
using test::Hex;

std::string Md5Hex(const std::string& text) {
  Md5 md5;
  md5.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  uint8_t d[16];
  md5.Final(d);
  return Hex(d, 16);
}

TEST(Md5Test, KnownVectors) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Md5Hex(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Md5Hex("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5Hex("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Md5Hex("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Md5Hex("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
}

// Lengths around the 64-byte block and the 56-byte padding limit, fed in pieces of every size:
// the digest is that of the whole (computed by another MD5, OpenSSL's, over the same bytes).
TEST(Md5Test, PiecesOfAnySizeGiveTheWholeDigest) {
  struct Known {
    size_t length;
    const char* digest;
  };
  // The bytes of each length are the next ones of std::mt19937(7), whose output is the same on
  // every platform.
  const Known known[] = {
      {0, "d41d8cd98f00b204e9800998ecf8427e"},    {1, "00d9712ec5eb70807a73b8d2d6ead90d"},
      {55, "0775ba17a73fa8109004e5e6a2b874a2"},   {56, "b7c091224c7db92bdb8896632e9424ec"},
      {57, "3554635d8f832017c5bafc760d0c9597"},   {63, "1ea7710e415ff150a315350fdd785be2"},
      {64, "e82325731a661f84927cd397abbaa2da"},   {65, "3e3b3a8b5e10bdbe943e538c67f84edb"},
      {119, "dccb89503ac7444047dcd974e2c7a15f"},  {120, "dfa8abc0cc1c963e2827e0bd6da2e569"},
      {128, "8e07dd7b7e592f5ee27d6a1c6e9654be"},  {1000, "b8c28e76ec0f23ae41a16c27efd45d5a"},
      {4099, "2b5b0e918fdcbe08998b8aaa5c48f62d"},
  };
  std::mt19937 random(7);
  for (const Known& k : known) {
    Bytes data(k.length);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    for (size_t piece : {1, 3, 55, 64, 65, 1000}) {
      Md5 md5;
      for (size_t at = 0; at < k.length; at += piece) {
        md5.Update(data.data() + at, std::min(piece, k.length - at));
      }
      uint8_t got[16];
      md5.Final(got);
      EXPECT_EQ(k.digest, Hex(got, 16)) << k.length << " in pieces of " << piece;
    }
  }
  // Final starts afresh.
  Md5 md5;
  uint8_t first[16], second[16];
  md5.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
  md5.Final(first);
  md5.Final(second);
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(second, 16));
}

}  // namespace
}  // namespace sfx
