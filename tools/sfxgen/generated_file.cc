#include <cstdio>

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
