#include "sfxstub/io/file_system.h"

namespace sfx {

FileSystem::~FileSystem() = default;

}  // namespace sfx
