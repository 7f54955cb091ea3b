// Inflating a stored package file ("OLMsetupFPkgFile", u32 inflated size, u32 stored size, one
// zlib stream) straight from the package, in pieces, for `list` and `extract`: the same checks
// as the stub's reader (sfxstub/archive/package_file.h) without holding the content.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKAGE_INFLATE_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKAGE_INFLATE_H_

#include <cstdint>
#include <functional>
#include <string>

#include "tools/sfxpack/files.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// Receives the inflated content piece by piece; a failure stops the inflation with it.
using ContentSink = std::function<Status(const uint8_t* data, size_t size)>;

// Whether the object at [offset, offset + size) of `file` starts with the compressed package
// file magic.
bool IsCompressedObject(const InputFile& file, uint64_t offset, uint64_t size);

// Inflates the compressed package file at [offset, offset + size) into `sink`. A verdict of
// "bad" (kExitBad) when it is no compressed package file, its stored size runs past `size`, the
// zlib stream is damaged or ends early, or it inflates to more than its stated size (less is
// accepted, as the stub does); the read's or the sink's failure as they give it. `inflated` gets
// the content's length.
Status InflateObject(const InputFile& file, uint64_t offset, uint64_t size, const ContentSink& sink,
                     uint64_t* inflated);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKAGE_INFLATE_H_
