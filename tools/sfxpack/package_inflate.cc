#include "tools/sfxpack/package_inflate.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "sfxstub/archive/package_file.h"
#include "sfxstub/format/byte_order.h"

namespace sfxpack {
namespace {

constexpr size_t kPieceSize = 1 << 20;

}  // namespace

bool IsCompressedObject(const InputFile& file, uint64_t offset, uint64_t size) {
  uint8_t magic[sfx::kPackageMagicSize];
  return size >= sizeof magic && file.ReadAt(offset, magic, sizeof magic).ok() &&
         std::memcmp(magic, sfx::CompressedPackageMagic(), sizeof magic) == 0;
}

namespace {

// The header of the object at [offset, offset + size): its inflated and stored sizes.
Status ReadHeader(const InputFile& file, uint64_t offset, uint64_t size, uint32_t* expected,
                  uint32_t* stored) {
  uint8_t header[sfx::kPackageHeaderSize];
  if (size < sizeof header) return Status::Bad("too short for a package file");
  const Status status = file.ReadAt(offset, header, sizeof header);
  if (!status.ok()) return status;
  if (std::memcmp(header, sfx::CompressedPackageMagic(), sfx::kPackageMagicSize) != 0) {
    return Status::Bad("not a compressed package file");
  }
  *expected = sfx::LoadU32(header + sfx::kPackageMagicSize);
  *stored = sfx::LoadU32(header + sfx::kPackageMagicSize + 4);
  if (*stored > size - sizeof header) return Status::Bad("its stored size runs past the object");
  return Status::Ok();
}

}  // namespace

Status InflateObject(const InputFile& file, uint64_t offset, uint64_t size, const ContentSink& sink,
                     uint64_t* inflated) {
  uint32_t expected = 0, stored = 0;
  Status status = ReadHeader(file, offset, size, &expected, &stored);
  if (!status.ok()) return status;
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return Status::Error("zlib: cannot start decompression");
  struct End {
    z_stream* z;
    ~End() { inflateEnd(z); }
  } end{&z};
  std::unique_ptr<uint8_t[]> in(new uint8_t[kPieceSize]);
  std::unique_ptr<uint8_t[]> out(new uint8_t[kPieceSize]);
  const uint64_t data = offset + sfx::kPackageHeaderSize;
  uint64_t consumed = 0, produced = 0;
  for (int rc = Z_OK; rc != Z_STREAM_END;) {
    if (z.avail_in == 0) {
      if (consumed == stored) return Status::Bad("its zlib stream ends early");
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, stored - consumed));
      status = file.ReadAt(data + consumed, in.get(), n);
      if (!status.ok()) return status;
      consumed += n;
      z.next_in = in.get();
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = out.get();
    z.avail_out = static_cast<uInt>(kPieceSize);
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && z.avail_in == 0)) {
      return Status::Bad("its zlib stream is damaged");
    }
    const size_t n = kPieceSize - z.avail_out;
    produced += n;
    if (produced > expected) return Status::Bad("it inflates to more than its stated size");
    if (n && !(status = sink(out.get(), n)).ok()) return status;
  }
  *inflated = produced;
  return Status::Ok();
}

}  // namespace sfxpack
