#include "sfxstub/archive/package_file.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace sfx {

bool ReadPackageFile(FileStream* stream, std::unique_ptr<uint8_t[]>* content, uint32_t* length) {
  uint8_t magic[kPackageMagicSize];
  uint32_t got = 0;
  if (!stream->Read(magic, kPackageMagicSize, &got) || got != kPackageMagicSize ||
      std::memcmp(magic, CompressedPackageMagic(), kPackageMagicSize) != 0) {
    return false;
  }
  uint32_t inflatedSize = stream->ReadU32();
  uint32_t storedSize = stream->ReadU32();

  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[inflatedSize == 0 ? 1 : inflatedSize]);
  if (!out) return false;
  // Empty when storedSize runs past the end of the stream, or there is no memory for the block.
  Block packed = stream->ReadBlock(storedSize);
  if (!packed) return false;
  uLongf produced = inflatedSize;
  // Z_OK only if the stream ends, with a correct Adler-32, within inflatedSize bytes. Anything
  // else (Z_BUF_ERROR: longer output or truncated input; Z_DATA_ERROR: corrupt data, bad
  // checksum or a preset dictionary; Z_MEM_ERROR) is a failure.
  if (uncompress(out.get(), &produced, packed.get(), storedSize) != Z_OK) return false;
  *content = std::move(out);
  *length = static_cast<uint32_t>(produced);
  return true;
}

}  // namespace sfx
