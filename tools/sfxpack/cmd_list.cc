#include <cstdio>

#include "tools/sfxpack/commands.h"

namespace sfxpack {

int RunList(int, char**) {
  std::fprintf(stderr, "sfxpack: list is not built yet\n");
  return 2;
}

}  // namespace sfxpack
