#include "tools/sfxpack/stub_key.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sfxpack {

Status KeyWithin(const InputFile& file, uint64_t length, const sfx::DsaPublicKey& key,
                 bool* carries) {
  *carries = false;
  uint8_t pattern[sizeof key.p + sizeof key.q + sizeof key.g + sizeof key.y];
  uint8_t* at = pattern;
  std::memcpy(at, key.p, sizeof key.p);
  at += sizeof key.p;
  std::memcpy(at, key.q, sizeof key.q);
  at += sizeof key.q;
  std::memcpy(at, key.g, sizeof key.g);
  at += sizeof key.g;
  std::memcpy(at, key.y, sizeof key.y);
  // Read in pieces that overlap by the pattern's length less one, so that no match is cut.
  constexpr size_t kPiece = 1 << 20;
  std::vector<uint8_t> buffer(kPiece + sizeof pattern);
  const uint64_t end = std::min(length, file.size());
  size_t kept = 0;
  for (uint64_t offset = 0; offset < end;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, end - offset));
    const Status status = file.ReadAt(offset, buffer.data() + kept, n);
    if (!status.ok()) return status;
    const size_t have = kept + n;
    for (size_t i = 0; i + sizeof pattern <= have; ++i) {
      if (buffer[i] == pattern[0] && std::memcmp(buffer.data() + i, pattern, sizeof pattern) == 0) {
        *carries = true;
        return status;
      }
    }
    kept = std::min(have, sizeof pattern - 1);
    std::memmove(buffer.data(), buffer.data() + have - kept, kept);
    offset += n;
  }
  return Status::Ok();
}

}  // namespace sfxpack
