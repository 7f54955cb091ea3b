// libFuzzer target over the catalog readers: the input is read as a catalog's chunks, and, when
// it begins like a compressed package file of a modest inflated size, also inflated first and
// read the way Open reads the catalog block. Any read outside a block, any wrap-around of a
// chunk length, and any catalog accepted in a wrong mode shows up as a crash.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sfxstub/io/memory_stream.h"
#include "sfxstub/archive/package_file.h"
#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/format/byte_order.h"

namespace {

// Keeps the fuzzer's memory limit for the catalog, not for a 4 GiB inflated-size claim.
constexpr uint32_t kMaxInflated = 1u << 20;

void ReadAsCatalog(uint8_t* data, uint32_t size) {
  sfx::MemoryStream stream;
  if (!stream.Attach(data, size)) return;
  sfx::SfxArchive archive;
  const sfx::Status status = archive.ReadCatalog(&stream);
  const int32_t result = status.code();
  if (result == 0 && (archive.Mode() != "extract" || !archive.HasMainRange())) __builtin_trap();
  if (result != 0 && result != -1 && result != 87 && result != 1006) __builtin_trap();
  // Every refusal names its check, and success none.
  if ((result == 0) != (status.reason() == sfx::Refusal::kNone)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFF0u) return 0;
  // A private copy with one spare byte, so an empty input still has a non-null block.
  std::vector<uint8_t> copy(data, data + size);
  copy.push_back(0);
  ReadAsCatalog(copy.data(), static_cast<uint32_t>(size));

  if (size >= sfx::kPackageHeaderSize &&
      std::memcmp(data, sfx::CompressedPackageMagic(), sfx::kPackageMagicSize) == 0 &&
      sfx::LoadU32(data + 16) <= kMaxInflated) {
    std::vector<uint8_t> packed(data, data + size);
    sfx::MemoryStream stream;
    std::unique_ptr<uint8_t[]> content;
    uint32_t length = 0;
    if (stream.Attach(packed.data(), static_cast<uint32_t>(size)) &&
        sfx::ReadPackageFile(&stream, &content, &length)) {
      ReadAsCatalog(content.get(), length);
    }
  }
  return 0;
}
