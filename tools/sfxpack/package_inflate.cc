#include "tools/sfxpack/package_inflate.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "sfxstub/archive/package_file.h"

namespace sfxpack {
namespace {

constexpr size_t kPieceSize = 1 << 20;

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool IsCompressedObject(const InputFile& file, uint64_t offset, uint64_t size) {
  uint8_t magic[sfx::kPackageMagicSize];
  std::string ignored;
  return size >= sizeof magic && file.ReadAt(offset, magic, sizeof magic, &ignored) &&
         std::memcmp(magic, sfx::CompressedPackageMagic(), sizeof magic) == 0;
}

bool InflateObject(const InputFile& file, uint64_t offset, uint64_t size, const ContentSink& sink,
                   uint64_t* inflated, std::string* error) {
  uint8_t header[sfx::kPackageHeaderSize];
  if (size < sizeof header || !file.ReadAt(offset, header, sizeof header, error)) {
    if (error->empty()) *error = "too short for a package file";
    return false;
  }
  if (std::memcmp(header, sfx::CompressedPackageMagic(), sfx::kPackageMagicSize) != 0) {
    *error = "not a compressed package file";
    return false;
  }
  const uint32_t expected = LoadU32(header + 16);
  const uint32_t stored = LoadU32(header + 20);
  if (stored > size - sizeof header) {
    *error = "its stored size runs past the object";
    return false;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) {
    *error = "zlib: cannot start decompression";
    return false;
  }
  struct End {
    z_stream* z;
    ~End() { inflateEnd(z); }
  } end{&z};
  std::unique_ptr<uint8_t[]> in(new uint8_t[kPieceSize]);
  std::unique_ptr<uint8_t[]> out(new uint8_t[kPieceSize]);
  uint64_t consumed = 0, produced = 0;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (z.avail_in == 0) {
      if (consumed == stored) {
        *error = "its zlib stream ends early";
        return false;
      }
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, stored - consumed));
      if (!file.ReadAt(offset + sizeof header + consumed, in.get(), n, error)) return false;
      consumed += n;
      z.next_in = in.get();
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = out.get();
    z.avail_out = static_cast<uInt>(kPieceSize);
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && z.avail_in == 0)) {
      *error = "its zlib stream is damaged";
      return false;
    }
    const size_t n = kPieceSize - z.avail_out;
    produced += n;
    if (produced > expected) {
      *error = "it inflates to more than its stated size";
      return false;
    }
    if (n && !sink(out.get(), n)) return false;
  }
  *inflated = produced;
  return true;
}

}  // namespace sfxpack
