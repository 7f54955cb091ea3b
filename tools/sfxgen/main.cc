// sfxgen: the build-time generators of the stub's assets.
//   sfxgen key-header KEYFILE OUT.h   the built-in signer key as constant data
//   sfxgen avi OUT.avi                the progress window's animation clip
//   sfxgen icon OUT.ico               the program icon
#include <cstdio>
#include <cstring>

#include "tools/sfxgen/generators.h"
#include "tools/sfxpack/files.h"

namespace sfxgen {

int WriteGenerated(const char* path, const std::vector<uint8_t>& data) {
  const sfxpack::Status status = sfxpack::WriteFileAtomically(path, data);
  if (status.ok()) return 0;
  std::fprintf(stderr, "sfxgen: %s\n", status.reason().c_str());
  return 1;
}

}  // namespace sfxgen

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "key-header")) return sfxgen::WriteKeyHeader(argv[2], argv[3]);
  if (argc == 3 && !std::strcmp(argv[1], "avi")) return sfxgen::WriteAnimation(argv[2]);
  if (argc == 3 && !std::strcmp(argv[1], "icon")) return sfxgen::WriteIcon(argv[2]);
  std::fprintf(stderr, "usage: sfxgen key-header KEYFILE OUT.h | avi OUT.avi | icon OUT.ico\n");
  return 2;
}
