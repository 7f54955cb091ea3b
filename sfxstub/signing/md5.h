// MD5 (RFC 1321), fed in pieces of any size: the digest of the whole-file check and of the text
// trailers. The stub carries its own small MD5 instead of linking a cryptographic library's,
// which would bring a large part of that library into every package (see dsa_arithmetic.h).
#ifndef SFXSTUB_SIGNING_MD5_H_
#define SFXSTUB_SIGNING_MD5_H_

#include <cstddef>
#include <cstdint>

namespace sfx {

class Md5 {
 public:
  Md5();
  // Adds `length` bytes; `data` may be null when `length` is 0.
  void Update(const uint8_t* data, size_t length);
  // Writes the 16-byte digest of everything added and starts afresh.
  void Final(uint8_t out[16]);

 private:
  void Reset();
  void Transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t bytes_;  // total added, for the length in the padding
  uint8_t buffer_[64];
  size_t buffered_;
};

}  // namespace sfx

#endif  // SFXSTUB_SIGNING_MD5_H_
