// The package file decoder (the layout is in package_format.h). The object's own signature
// trailer after the zlib stream is never read here.
#ifndef SFXSTUB_ARCHIVE_PACKAGE_FILE_H_
#define SFXSTUB_ARCHIVE_PACKAGE_FILE_H_

#include <cstdint>
#include <memory>

#include "sfxstub/format/package_format.h"
#include "sfxstub/io/file_stream.h"

namespace sfx {

// Inflates the package file at the stream's position. On success `content` owns the inflated
// bytes and `length` is their number (at most inflatedSize). On failure (wrong magic, no memory,
// a missing block, any zlib error, output longer than inflatedSize) it returns false and leaves
// both alone.
bool ReadPackageFile(FileStream* stream, std::unique_ptr<uint8_t[]>* content, uint32_t* length);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_PACKAGE_FILE_H_
