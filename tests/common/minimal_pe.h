// The smallest image that passes for a PE file: "MZ", the header offset 0x40 at 0x3C, and
// "PE\0\0" there. Enough for the tools' and the trailer search's PE checks; nothing runs it.
#ifndef SFXSTUB_TESTS_COMMON_MINIMAL_PE_H_
#define SFXSTUB_TESTS_COMMON_MINIMAL_PE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sfx {

inline std::vector<uint8_t> MinimalPeImage(size_t size = 0x80) {
  std::vector<uint8_t> image(size < 0x44 ? 0x44 : size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image[0x40] = 'P';
  image[0x41] = 'E';
  return image;
}

}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_MINIMAL_PE_H_
