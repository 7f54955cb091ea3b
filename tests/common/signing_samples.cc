#include "tests/common/signing_samples.h"
#include "tests/common/test_signer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "sfxstub/format/byte_order.h"


namespace sfx {
namespace test {

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 15];
  }
  return s;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes MakePe(uint32_t objectSize, uint32_t certificateOffset, uint32_t directories,
             uint16_t optionalHeaderSize, PeKind kind) {
  const uint32_t h = 0x80;
  EXPECT_GE(objectSize, 0x200u) << "room for the headers";
  Bytes pe(objectSize);
  for (size_t i = 0; i < pe.size(); ++i) pe[i] = static_cast<uint8_t>(i * 7 + 1);
  pe[0] = 'M';
  pe[1] = 'Z';
  StoreU32(&pe[0x3C], h);
  pe[h] = 'P';
  pe[h + 1] = 'E';
  pe[h + 2] = 0;
  pe[h + 3] = 0;
  const bool plus = kind == PeKind::kPe32Plus;
  if (optionalHeaderSize == 0) optionalHeaderSize = plus ? 240 : 224;
  StoreU16(&pe[h + 20], optionalHeaderSize);
  if (kind != PeKind::kUnknown) StoreU16(&pe[h + 24], plus ? 0x20B : 0x10B);
  const uint32_t directoriesAt = plus ? h + 132 : h + 116;
  StoreU32(&pe[directoriesAt], directories);
  StoreU32(&pe[directoriesAt + 4 + 8 * 4], certificateOffset);
  StoreU32(&pe[directoriesAt + 4 + 8 * 4 + 4], 40);
  return pe;
}

Bytes MakeSignedPe(uint32_t objectSize, uint32_t padding, uint32_t* signedLength, PeKind kind) {
  Bytes pe = MakePe(objectSize, objectSize + 48 + padding, 16, 0, kind);
  pe = Concat(pe, TestBinaryTrailer(pe.data(), pe.size()));
  pe.resize(pe.size() + padding, 0);
  for (uint8_t i = 0; i < 40; ++i) pe.push_back(static_cast<uint8_t>(0xA0 + i));  // certificates
  *signedLength = objectSize;
  return pe;
}

}  // namespace test
}  // namespace sfx
