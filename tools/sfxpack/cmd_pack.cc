#include <cstdio>

#include "tools/sfxpack/commands.h"

namespace sfxpack {

int RunPack(int, char**) {
  std::fprintf(stderr, "sfxpack: pack is not built yet\n");
  return 2;
}

}  // namespace sfxpack
