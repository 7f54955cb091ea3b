#include <cstdio>

#include "tools/sfxgen/generators.h"

namespace sfxgen {

int WriteKeyHeader(const char*, const char*) {
  std::fprintf(stderr, "sfxgen: not built yet\n");
  return 1;
}

}  // namespace sfxgen
