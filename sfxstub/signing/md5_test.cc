// The stub's own MD5 against known vectors and against Crypto++ over pieces of every size.
#include "sfxstub/signing/md5.h"

#include <gtest/gtest.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

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
// the digest is that of Crypto++ over the whole.
TEST(Md5Test, PiecesOfAnySizeGiveTheWholeDigest) {
  std::mt19937 random(7);
  for (size_t length : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 4099}) {
    Bytes data(length);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    uint8_t expected[16];
    CryptoPP::Weak::MD5 reference;
    reference.Update(data.data(), data.size());
    reference.Final(expected);
    for (size_t piece : {1, 3, 55, 64, 65, 1000}) {
      Md5 md5;
      for (size_t at = 0; at < length; at += piece) {
        md5.Update(data.data() + at, std::min(piece, length - at));
      }
      uint8_t got[16];
      md5.Final(got);
      EXPECT_EQ(Hex(expected, 16), Hex(got, 16)) << length << " in pieces of " << piece;
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
