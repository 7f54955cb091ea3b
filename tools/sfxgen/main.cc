// sfxgen: the build-time generators of the stub's assets.
//   sfxgen key-header KEYFILE OUT.h   the key slot as constant data (KEYFILE "-": empty)
//   sfxgen avi OUT.avi                the progress window's animation clip
//   sfxgen icon OUT.ico               the program icon
//   sfxgen pe-stamp IMAGE [SECONDS]   a linked image's run-from-swap flags, time stamp (given,
//                                     or derived from the image) and checksum, set in place
//   sfxgen key-stamp IMAGE KEYFILE    the key stamped into a generic stub, in place
#include <cstdio>
#include <cstring>

#include "tools/sfxgen/generators.h"

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "key-header")) return sfxgen::WriteKeyHeader(argv[2], argv[3]);
  if (argc == 3 && !std::strcmp(argv[1], "avi")) return sfxgen::WriteAnimation(argv[2]);
  if (argc == 3 && !std::strcmp(argv[1], "icon")) return sfxgen::WriteIcon(argv[2]);
  if (argc == 4 && !std::strcmp(argv[1], "key-stamp")) return sfxgen::StampStubKey(argv[2], argv[3]);
  if ((argc == 3 || argc == 4) && !std::strcmp(argv[1], "pe-stamp")) {
    return sfxgen::StampImage(argv[2], argc == 4 ? argv[3] : nullptr);
  }
  std::fprintf(stderr, "usage: sfxgen key-header KEYFILE OUT.h | avi OUT.avi | icon OUT.ico | "
                       "pe-stamp IMAGE [SECONDS] | key-stamp IMAGE KEYFILE\n");
  return 2;
}
