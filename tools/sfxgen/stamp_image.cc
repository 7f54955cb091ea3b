// sfxgen pe-stamp: the stub's time stamp and checksum, set after the link (pe_stamp.h).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/sfxgen/generators.h"
#include "tools/sfxgen/pe_stamp.h"
#include "tools/sfxpack/files.h"

namespace sfxgen {

int StampImage(const char* imagePath, const char* seconds) {
  uint32_t time = 0;
  if (seconds != nullptr) {
    // Seconds since 1970 in decimal, as SOURCE_DATE_EPOCH is given; the field holds 32 bits.
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(seconds, &end, 10);
    if (*seconds < '0' || *seconds > '9' || *end != '\0' || errno != 0 || value == 0 ||
        value > 0xFFFFFFFFull) {
      std::fprintf(stderr,
                   "sfxgen: time stamp \"%s\" is not a number of seconds from 1 to 4294967295\n",
                   seconds);
      return 1;
    }
    time = static_cast<uint32_t>(value);
  }
  std::vector<uint8_t> image;
  Status status = sfxpack::ReadWholeFile("pe-stamp", imagePath, UINT32_MAX, &image);
  if (status.ok()) {
    status = SetRunFromSwap(&image);
    if (status.ok()) status = StampPeImage(&image, seconds != nullptr ? &time : nullptr);
    status = status.Within(std::string(imagePath) + ": ");
  }
  if (status.ok()) status = sfxpack::WriteFileAtomically(imagePath, image);
  if (status.ok()) return 0;
  std::fprintf(stderr, "sfxgen: %s\n", status.reason().c_str());
  return 1;
}

}  // namespace sfxgen
