// libFuzzer target for the trailer search: any bytes as a file in memory, through every finder.
// The finders must never read outside the block, crash or loop, whatever offsets the bytes hold.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sfxstub/io/memory_stream.h"
#include "sfxstub/signing/signature_trailer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  // A copy of exactly `size` bytes, so that the sanitizer sees any read past the end.
  std::vector<uint8_t> copy(data, data + size);
  uint8_t empty = 0;
  uint8_t* block = copy.empty() ? &empty : copy.data();
  const uint32_t n = static_cast<uint32_t>(size);

  sfx::MemoryStream stream;
  if (!stream.Attach(block, n)) return 0;
  uint8_t signature[40];
  sfx::SignatureKind kind;
  uint32_t length = 0;
  if (sfx::FindSignatureTrailerInStream(&stream, signature, &kind, &length)) {
    // The trailer lies within the file, right after the signed bytes.
    const uint32_t trailer = kind == sfx::SignatureKind::kTextDsa ? 96 : 48;
    if (static_cast<uint64_t>(length) + trailer > n) __builtin_trap();
  }
  sfx::FindBinaryTrailer(&stream, signature, &length);
  sfx::FindTextDsaTrailer(&stream, signature, &length);
  sfx::FindTextMd5Trailer(&stream, signature, &length);
  sfx::FindTextDsaTrailer(&stream, nullptr, nullptr);
  if (size >= 80) {
    std::vector<char> chars(copy.begin(), copy.begin() + 80);
    sfx::DecodeHexBytes(signature, 40, chars.data());
  }
  return 0;
}
