// The generators behind sfxgen. Each writes its output file through WriteGenerated and returns
// what that returns.
#ifndef SFXSTUB_TOOLS_SFXGEN_GENERATORS_H_
#define SFXSTUB_TOOLS_SFXGEN_GENERATORS_H_

#include <cstdint>
#include <vector>

namespace sfxgen {

// Writes `data` as the whole of the file at `path` (a temporary file renamed into place) and
// returns 0, or prints "sfxgen: ..." to stderr and returns 1.
int WriteGenerated(const char* path, const std::vector<uint8_t>& data);

int WriteKeyHeader(const char* keyPath, const char* outPath);
int WriteAnimation(const char* outPath);
int WriteIcon(const char* outPath);
// Sets the PE image's time stamp (to `seconds`, decimal, or derived from the image when null) and
// its checksum, in place (pe_stamp.h).
int StampImage(const char* imagePath, const char* seconds);
// Stamps the public half of the key in `keyPath` into the generic stub image at `imagePath`, in
// place, and sets its checksum again (tools/sfxpack/key_slot.h); after StampImage.
int StampStubKey(const char* imagePath, const char* keyPath);

}  // namespace sfxgen

#endif  // SFXSTUB_TOOLS_SFXGEN_GENERATORS_H_
