#include <cstdio>

#include "tools/sfxpack/commands.h"

namespace sfxpack {

int RunVerify(int, char**) {
  std::fprintf(stderr, "sfxpack: verify is not built yet\n");
  return 2;
}

}  // namespace sfxpack
