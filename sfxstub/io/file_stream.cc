#include "sfxstub/io/file_stream.h"

#include "sfxstub/format/byte_order.h"

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
  const uint8_t bytes[2] = {ReadU8(), ReadU8()};
  return LoadU16(bytes);
}

uint32_t FileStream::ReadU32() {
  const uint8_t bytes[4] = {ReadU8(), ReadU8(), ReadU8(), ReadU8()};
  return LoadU32(bytes);
}

}  // namespace sfx
