#include "sfxstub/signing/signature_verify.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/integer.h>
#include <cryptopp/md5.h>
#include <cryptopp/modarith.h>

#include <algorithm>
#include <memory>
#include <new>

#include "sfxstub/archive/disk_stream.h"
#include "sfxstub/signing/signature_trailer.h"

namespace sfx {

namespace {

using CryptoPP::Integer;

constexpr uint32_t kQSize = sizeof(DsaPublicKey::q);

Integer BigEndian(const uint8_t* bytes, size_t n) { return Integer(bytes, n, Integer::UNSIGNED); }

// Moves the bytes of 0x20..0x7F to the front of the buffer, in their order; returns their count.
uint32_t KeepPrintable(uint8_t* data, uint32_t length) {
  uint32_t kept = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (data[i] >= 0x20 && data[i] <= 0x7F) data[kept++] = data[i];
  }
  return kept;
}

bool VerifyDsa(const uint8_t digest[16], const uint8_t* signature, const DsaPublicKey& key) {
  const Integer p = BigEndian(key.p, sizeof(key.p));
  const Integer q = BigEndian(key.q, sizeof(key.q));
  const Integer h = BigEndian(digest, kMd5DigestSize);
  const Integer r = BigEndian(signature, kQSize);
  const Integer s = BigEndian(signature + kQSize, kQSize);
  // Range checks before any arithmetic: r and s must lie in [1, q-1].
  if (!(r < q) || r < Integer::One() || !(s < q) || s < Integer::One()) return false;
  // Montgomery form needs an odd modulus; a real p is an odd prime.
  if (p.IsEven() || p <= Integer::One()) return false;
  const Integer w = s.InverseMod(q);
  // Only a q that is not prime leaves s without an inverse; without this check w = 0 would make
  // v = 1 and accept r = 1.
  if (w.IsZero()) return false;
  const Integer u1 = (h * w) % q;
  const Integer u2 = (r * w) % q;
  const CryptoPP::MontgomeryRepresentation mod(p);
  const Integer gm = mod.ConvertIn(BigEndian(key.g, sizeof(key.g)) % p);
  const Integer ym = mod.ConvertIn(BigEndian(key.y, sizeof(key.y)) % p);
  const Integer v = mod.ConvertOut(mod.CascadeExponentiate(gm, u1, ym, u2)) % q;
  return v == r;
}

}  // namespace

void Md5Digest(uint8_t out[16], const uint8_t* data, uint32_t length) {
  static const uint8_t kNothing = 0;
  CryptoPP::Weak::MD5 md5;
  md5.Update(length ? data : &kNothing, length);
  md5.Final(out);
}

bool TextDigest(uint8_t out[16], const uint8_t* data, uint32_t length) {
  CryptoPP::Weak::MD5 md5;
  uint8_t piece[4096];
  for (uint32_t at = 0; at < length;) {
    const uint32_t n = std::min<uint32_t>(length - at, sizeof(piece));
    std::copy(data + at, data + at + n, piece);
    md5.Update(piece, KeepPrintable(piece, n));
    at += n;
  }
  md5.Final(out);
  return true;
}

bool VerifyDsaSignature(const uint8_t digest[16], const uint8_t* signature, uint32_t length,
                        const DsaPublicKey& key) {
  if (length != 2 * kQSize || !digest || !signature) return false;
  try {
    return VerifyDsa(digest, signature, key);
  } catch (...) {  // lack of memory in the arithmetic: no
    return false;
  }
}

bool VerifySignedFile(const char* path, const DsaPublicKey& key) {
  DiskStream stream;
  if (!stream.OpenRead(path)) return false;
  const bool verified = VerifySignedStream(&stream, key);
  stream.Close();
  return verified;
}

bool VerifySignedStream(FileStream* source, const DsaPublicKey& key) {
  // The trailer and the covered bytes come through the same handle, so both are of one file.
  FileStream& stream = *source;
  uint8_t signature[kDsaSignatureSize];
  SignatureKind kind;
  uint32_t signedLength = 0;
  if (!FindSignatureTrailerInStream(&stream, signature, &kind, &signedLength)) return false;
  if (kind == SignatureKind::TextMd5) return false;  // a bare digest proves nothing
  if (stream.Seek(0, kSeekSet) != 0) return false;

  const uint32_t pieceSize = std::max<uint32_t>(1, std::min(signedLength, kHashChunkSize));
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[pieceSize]);
  if (!piece) return false;
  uint8_t digest[kMd5DigestSize];
  try {
    CryptoPP::Weak::MD5 md5;
    for (uint32_t left = signedLength; left > 0;) {
      uint32_t done = 0;
      if (!stream.Read(piece.get(), std::min(left, pieceSize), &done) || done == 0) return false;
      const uint32_t n = kind == SignatureKind::TextDsa ? KeepPrintable(piece.get(), done) : done;
      md5.Update(piece.get(), n);
      left -= done;
    }
    md5.Final(digest);
  } catch (...) {
    return false;
  }
  return VerifyDsaSignature(digest, signature, kDsaSignatureSize, key);
}

}  // namespace sfx
