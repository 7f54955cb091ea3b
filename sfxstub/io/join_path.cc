#include "sfxstub/io/join_path.h"

namespace sfx {

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (name.empty()) return folder;
  if (folder.back() == '\\' || name.front() == '\\') return folder + name;
  return folder + '\\' + name;
}

}  // namespace sfx
