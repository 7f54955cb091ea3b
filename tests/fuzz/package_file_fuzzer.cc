// libFuzzer target for ReadPackageFile: any bytes as the stream it decodes. It must answer false
// or hand back a buffer of at most inflatedSize bytes, never read outside the stream's block and
// never leave the stream's position outside it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sfxstub/io/memory_stream.h"
#include "sfxstub/archive/package_file.h"
#include "sfxstub/format/byte_order.h"

namespace {

// An inflated-size claim is honoured by allocating it; beyond this the fuzzer's memory limit,
// not the decoder, would be what is tested.
constexpr uint32_t kMaxInflated = 1u << 22;

// The inflated-size field as the decoder reads it: byte by byte, missing bytes as zero.
uint32_t InflatedSizeField(const uint8_t* data, size_t size) {
  uint8_t field[4] = {};
  for (size_t i = 0; i < 4 && 16 + i < size; ++i) field[i] = data[16 + i];
  return sfx::LoadU32(field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFF0u) return 0;
  if (InflatedSizeField(data, size) > kMaxInflated) return 0;
  // An exact-size copy, so that any read past the end is seen by the sanitizer.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(copy.get(), data, size);

  sfx::MemoryStream stream;
  if (!stream.Attach(copy.get(), static_cast<uint32_t>(size))) __builtin_trap();
  std::unique_ptr<uint8_t[]> content;  // must stay empty on failure
  uint32_t length = 0xDEADBEEFu;
  if (sfx::ReadPackageFile(&stream, &content, &length)) {
    if (size < sfx::kPackageHeaderSize) __builtin_trap();
    if (std::memcmp(data, sfx::CompressedPackageMagic(), sfx::kPackageMagicSize) != 0)
      __builtin_trap();
    if (length > sfx::LoadU32(data + 16)) __builtin_trap();
    // Every inflated byte is readable (ASan checks the buffer's bounds).
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum = sum + content[i];
  } else if (length != 0xDEADBEEFu || content) {
    __builtin_trap();  // an out-parameter written on failure
  }
  if (stream.Position() > size) __builtin_trap();
  return 0;
}
