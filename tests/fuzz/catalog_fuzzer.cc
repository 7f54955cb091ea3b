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

namespace {

// Keeps the fuzzer's memory limit for the catalog, not for a 4 GiB inflated-size claim.
constexpr uint32_t kMaxInflated = 1u << 20;

void ReadAsCatalog(uint8_t* data, uint32_t size) {
  sfx::MemoryStream stream;
  if (!stream.Attach(data, size)) return;
  sfx::SfxArchive archive;
  int32_t result = archive.ReadCatalog(&stream);
  if (result == 0 && (archive.Mode() != "extract" || !archive.HasMainRange())) __builtin_trap();
  if (result != 0 && result != -1 && result != 87 && result != 1006) __builtin_trap();
}

uint32_t LoadU32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
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
      LoadU32(data + 16) <= kMaxInflated) {
    std::vector<uint8_t> packed(data, data + size);
    sfx::MemoryStream stream;
    uint8_t* content = nullptr;
    uint32_t length = 0;
    if (stream.Attach(packed.data(), static_cast<uint32_t>(size)) &&
        sfx::ReadPackageFile(&stream, &content, &length)) {
      std::unique_ptr<uint8_t[]> owner(content);
      ReadAsCatalog(content, length);
    }
  }
  return 0;
}
