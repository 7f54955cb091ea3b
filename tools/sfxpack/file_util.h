// Whole-file reading and all-or-nothing writing for sfxpack and sfxgen.
#ifndef SFXSTUB_TOOLS_SFXPACK_FILE_UTIL_H_
#define SFXSTUB_TOOLS_SFXPACK_FILE_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sfxpack {

// Reads the whole file. On failure `error` says why ("cannot open X: No such file ...").
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error);

// Writes `data` to a temporary file beside `path`, flushes it and renames it over `path`, so that
// `path` either keeps its old content or gets the whole new one; never a half-written file.
bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                         std::string* error);
inline bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data,
                                std::string* error) {
  return WriteFileAtomically(path, data.data(), data.size(), error);
}

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_FILE_UTIL_H_
