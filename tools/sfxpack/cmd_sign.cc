#include <cstdio>

#include "tools/sfxpack/commands.h"

namespace sfxpack {

int RunSign(int, char**) {
  std::fprintf(stderr, "sfxpack: sign is not built yet\n");
  return 2;
}

}  // namespace sfxpack
