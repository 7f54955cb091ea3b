#include <cstdio>

#include "tools/sfxpack/commands.h"

namespace sfxpack {

int RunExtract(int, char**) {
  std::fprintf(stderr, "sfxpack: extract is not built yet\n");
  return 2;
}

}  // namespace sfxpack
