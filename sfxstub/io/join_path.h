// JoinPath(folder, name): the name alone if the folder is empty; otherwise the folder, a
// backslash unless the folder already ends with one or the name begins with one, then the name.
// An empty name gives the folder alone.
#ifndef SFXSTUB_IO_JOIN_PATH_H_
#define SFXSTUB_IO_JOIN_PATH_H_

#include <string>

namespace sfx {

std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace sfx

#endif  // SFXSTUB_IO_JOIN_PATH_H_
