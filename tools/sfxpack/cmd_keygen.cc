#include <cstdio>

#include "tools/sfxpack/commands.h"

namespace sfxpack {

int RunKeygen(int, char**) {
  std::fprintf(stderr, "sfxpack: keygen is not built yet\n");
  return 2;
}

}  // namespace sfxpack
