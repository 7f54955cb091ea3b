// Package files: the stored form of one file.
//   0   16  magic "OLMsetupFPkgFile"
//   16   4  inflatedSize (u32 LE)
//   20   4  storedSize (u32 LE)
//   24   n  one zlib stream of storedSize bytes
//   24+n 48 the object's own binary signature trailer (never read by the decoder)
#ifndef SFXSTUB_ARCHIVE_PACKAGE_FILE_H_
#define SFXSTUB_ARCHIVE_PACKAGE_FILE_H_

#include <cstdint>

#include "sfxstub/archive/file_stream.h"

namespace sfx {

constexpr uint32_t kPackageHeaderSize = 24;
constexpr uint32_t kPackageMagicSize = 16;
// The two package kinds, in table order: compressed (decoded here) and delta (only ever copied).
extern const char kPackageMagics[2][kPackageMagicSize + 1];
inline const char* CompressedPackageMagic() { return kPackageMagics[0]; }
inline const char* DeltaPackageMagic() { return kPackageMagics[1]; }

// Inflates the package file at the stream's position. On success `content` is a new buffer that
// the caller releases with `delete[]`, and `length` the number of inflated bytes (at most
// inflatedSize). On failure (wrong magic, no memory, a missing block, any zlib error, output
// longer than inflatedSize) it returns false and the caller owns nothing.
bool ReadPackageFile(FileStream* stream, uint8_t** content, uint32_t* length);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_PACKAGE_FILE_H_
