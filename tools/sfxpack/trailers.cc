#include "tools/sfxpack/trailers.h"

#include "sfxstub/format/package_format.h"
#include "sfxstub/signing/signature_verify.h"

namespace sfxpack {
namespace {

void AppendHex(std::vector<uint8_t>* out, const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    out->push_back(static_cast<uint8_t>(kDigits[bytes[i] >> 4]));
    out->push_back(static_cast<uint8_t>(kDigits[bytes[i] & 15]));
  }
}

void AppendMagic(std::vector<uint8_t>* out, const char* magic) {
  out->insert(out->end(), magic, magic + sfx::kTrailerMagicSize);
}

// `text` framed by `magic` on both sides.
std::vector<uint8_t> TextTrailer(const char* magic, const uint8_t* bytes, size_t n) {
  std::vector<uint8_t> trailer;
  AppendMagic(&trailer, magic);
  AppendHex(&trailer, bytes, n);
  AppendMagic(&trailer, magic);
  return trailer;
}

}  // namespace

std::vector<uint8_t> BinaryTrailer(const uint8_t signature[40]) {
  std::vector<uint8_t> trailer(signature, signature + sfx::kDsaSignatureSize);
  AppendMagic(&trailer, sfx::kBinaryDsaMagic);
  return trailer;
}

std::vector<uint8_t> TextDsaTrailer(const uint8_t signature[40]) {
  return TextTrailer(sfx::kTextDsaMagic, signature, sfx::kDsaSignatureSize);
}

std::vector<uint8_t> TextMd5Trailer(const uint8_t digest[16]) {
  return TextTrailer(sfx::kTextMd5Magic, digest, sfx::kMd5DigestSize);
}

std::vector<uint8_t> MakeTextMd5Trailer(const uint8_t* data, size_t length) {
  if (!FitsWithTrailer(length, sfx::kTextMd5TrailerSize)) return {};
  uint8_t digest[sfx::kMd5DigestSize];
  sfx::TextDigest(digest, data, static_cast<uint32_t>(length));
  return TextMd5Trailer(digest);
}

bool FitsWithTrailer(uint64_t length, uint32_t trailerSize) {
  return length <= uint64_t{0xFFFFFFFFu} - trailerSize;
}

}  // namespace sfxpack
