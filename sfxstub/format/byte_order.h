// Little-endian integers in bytes: the byte order of the package format and of PE images. Every
// load, store and append of a 16- or 32-bit field in the stub and the tools goes through these.
// Loads take bytes of any one-byte type (the format's tags are char strings) and are constexpr;
// nothing here checks a length: a caller hands in a pointer with room for the field. Loads and
// stores are always inlined: at -Os GCC otherwise calls a one-instruction function from every
// use in the stub, which costs more bytes than the load itself.
#ifndef SFXSTUB_FORMAT_BYTE_ORDER_H_
#define SFXSTUB_FORMAT_BYTE_ORDER_H_

#include <cstdint>
#include <vector>

namespace sfx {

template <typename Byte>
[[gnu::always_inline]] constexpr uint16_t LoadU16(const Byte* p) {
  static_assert(sizeof(Byte) == 1, "bytes only");
  return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8);
}

template <typename Byte>
[[gnu::always_inline]] constexpr uint32_t LoadU32(const Byte* p) {
  return static_cast<uint32_t>(LoadU16(p)) | static_cast<uint32_t>(LoadU16(p + 2)) << 16;
}

[[gnu::always_inline]] inline void StoreU16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

[[gnu::always_inline]] inline void StoreU32(uint8_t* p, uint32_t value) {
  StoreU16(p, static_cast<uint16_t>(value));
  StoreU16(p + 2, static_cast<uint16_t>(value >> 16));
}

inline void AppendU16(std::vector<uint8_t>* out, uint16_t value) {
  uint8_t bytes[2];
  StoreU16(bytes, value);
  out->insert(out->end(), bytes, bytes + 2);
}

inline void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

}  // namespace sfx

#endif  // SFXSTUB_FORMAT_BYTE_ORDER_H_
