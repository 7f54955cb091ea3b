#include "sfxstub/signing/signature_trailer.h"

#include <cstdlib>
#include <cstring>

#include "sfxstub/format/pe_image.h"
#include "sfxstub/io/disk_stream.h"

namespace sfx {

namespace {

constexpr uint32_t kMagicSize = kTrailerMagicSize;
constexpr int kMaxPaddingBytes = 7;                  // padding up to the table's 8-byte boundary

// Reads exactly n bytes at `position`. Offsets come from the file itself, so they are taken as
// 64-bit values and anything reaching past the end of the stream fails instead of wrapping.
bool ReadAt(FileStream* s, uint64_t position, void* buffer, uint32_t n) {
  if (position + n > s->Size()) return false;
  const uint32_t at = static_cast<uint32_t>(position);
  if (s->Seek(at, kSeekSet) != at) return false;
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t got = 0;
  while (got < n) {
    uint32_t done = 0;
    if (!s->Read(out + got, n - got, &done) || done == 0) return false;
    got += done;
  }
  return true;
}

bool MagicAt64(FileStream* s, uint64_t position, const char* magic, uint32_t n) {
  uint8_t buffer[16];
  if (n > sizeof(buffer)) return false;
  return ReadAt(s, position, buffer, n) && std::memcmp(buffer, magic, n) == 0;
}

// The offset E of the "OLMSignd" that closes a binary trailer standing in front of the
// certificate table of a PE file. The headers are read as the stub has always read them
// (PeRules::kTrailerSearch): only the table's offset counts, not its size.
bool FindMagicBeforeCertificateTable(FileStream* s, uint32_t* magicOffset) {
  uint8_t headers[kPeHeadersSize];
  PeImage image;
  const auto readAt = [s](uint64_t at, uint8_t* buffer, uint32_t n) { return ReadAt(s, at, buffer, n); };
  uint32_t x = 0;
  if (ReadPeHeaders(readAt, s->Size(), PeRules::kTrailerSearch, headers, &image) != PeProblem::kNone ||
      !image.CertificateTableOffset(&x)) {
    return false;
  }
  // The trailer is padded with zeros up to the table's 8-byte boundary: at most 7 of them.
  for (int skipped = 0; skipped < kMaxPaddingBytes && x > 0; ++skipped) {
    uint8_t b = 0;
    if (!ReadAt(s, x - 1, &b, 1) || b != 0) break;
    --x;
  }
  if (x < kBinaryTrailerSize) return false;
  if (!MagicAt64(s, x - kMagicSize, kBinaryDsaMagic, kMagicSize)) return false;
  *magicOffset = x - kMagicSize;
  return true;
}

// The common scheme of the two text trailers: `distance` bytes from the opening to the closing
// magic, `decoded` bytes of payload.
bool FindTextTrailer(FileStream* s, const char* magic, uint32_t distance, uint32_t decoded,
                     uint8_t* out, uint32_t* signedLength) {
  const uint32_t size = s->Size();
  if (size < kMagicSize) return false;
  // Closing magic candidates: size-8 down to size-107, never position 0.
  const uint32_t highest = size - kMagicSize;
  uint32_t lowest = highest > kMaxBytesAfterTextTrailer ? highest - kMaxBytesAfterTextTrailer : 0;
  if (lowest == 0) lowest = 1;
  if (highest < lowest) return false;
  uint8_t tail[kMaxBytesAfterTextTrailer + 2 * kMagicSize];
  const uint32_t tailSize = size - lowest;
  if (!ReadAt(s, lowest, tail, tailSize)) return false;
  uint32_t p = highest;
  while (std::memcmp(tail + (p - lowest), magic, kMagicSize) != 0) {
    if (p == lowest) return false;
    --p;
  }
  if (p < distance) return false;
  const uint32_t t = p - distance;
  uint8_t trailer[kTextDsaTrailerSize];
  if (!ReadAt(s, t, trailer, distance + kMagicSize)) return false;
  if (std::memcmp(trailer, magic, kMagicSize) != 0) return false;
  if (out) DecodeHexBytes(out, decoded, reinterpret_cast<const char*>(trailer + kMagicSize));
  if (signedLength) *signedLength = t;
  return true;
}

}  // namespace

bool MagicAt(FileStream* s, uint32_t position, const char* magic, uint32_t n) {
  return MagicAt64(s, position, magic, n);
}

void DecodeHexBytes(uint8_t* out, uint32_t n, const char* chars) {
  for (uint32_t i = 0; i < n; ++i) {
    const char pair[3] = {chars[2 * i], chars[2 * i + 1], '\0'};
    out[i] = static_cast<uint8_t>(std::strtoul(pair, nullptr, 16) & 0xFF);
  }
}

bool FindBinaryTrailer(FileStream* s, uint8_t* signature, uint32_t* signedLength) {
  const uint32_t size = s->Size();
  if (size < kBinaryTrailerSize) return false;
  // The end of the file comes first; the certificate table only when the magic isn't there.
  uint32_t e = size - kMagicSize;
  if (!MagicAt64(s, e, kBinaryDsaMagic, kMagicSize) && !FindMagicBeforeCertificateTable(s, &e)) {
    return false;
  }
  const uint32_t t = e - kDsaSignatureSize;
  uint8_t bytes[kDsaSignatureSize];
  if (!ReadAt(s, t, bytes, kDsaSignatureSize)) return false;
  if (signature) std::memcpy(signature, bytes, kDsaSignatureSize);
  if (signedLength) *signedLength = t;
  return true;
}

bool FindTextDsaTrailer(FileStream* s, uint8_t* signature, uint32_t* signedLength) {
  return FindTextTrailer(s, kTextDsaMagic, kTextDsaTrailerSize - kMagicSize, kDsaSignatureSize,
                         signature, signedLength);
}

bool FindTextMd5Trailer(FileStream* s, uint8_t* digest, uint32_t* signedLength) {
  return FindTextTrailer(s, kTextMd5Magic, kTextMd5TrailerSize - kMagicSize, kMd5DigestSize,
                         digest, signedLength);
}

bool FindSignatureTrailerInStream(FileStream* stream, uint8_t* signature, SignatureKind* kind,
                                  uint32_t* signedLength) {
  SignatureKind found;
  if (FindBinaryTrailer(stream, signature, signedLength)) {
    found = SignatureKind::kBinaryDsa;
  } else if (FindTextDsaTrailer(stream, signature, signedLength)) {
    found = SignatureKind::kTextDsa;
  } else if (FindTextMd5Trailer(stream, signature, signedLength)) {
    found = SignatureKind::kTextMd5;
  } else {
    return false;
  }
  if (kind) *kind = found;
  return true;
}

bool FindSignatureTrailer(const char* path, uint8_t* signature, SignatureKind* kind,
                          uint32_t* signedLength) {
  DiskStream stream;
  if (!stream.OpenRead(path)) return false;
  const bool found = FindSignatureTrailerInStream(&stream, signature, kind, signedLength);
  stream.Close();
  return found;
}

}  // namespace sfx
