#include "sfxstub/io/file_stream.h"

namespace sfx {

FileStream::~FileStream() = default;

// Each byte is read on its own and the result of Read is not looked at: the byte stays 0 when
// nothing could be read, which the chunk readers rely on at the end of a memory stream.
uint8_t FileStream::ReadU8() {
  uint8_t b = 0;
  Read(&b, 1, nullptr);
  return b;
}

uint16_t FileStream::ReadU16() {
  uint16_t lo = ReadU8();
  uint16_t hi = ReadU8();
  return static_cast<uint16_t>(lo | (hi << 8));
}

uint32_t FileStream::ReadU32() {
  uint32_t value = 0;
  for (int shift = 0; shift < 32; shift += 8) value |= static_cast<uint32_t>(ReadU8()) << shift;
  return value;
}

}  // namespace sfx
