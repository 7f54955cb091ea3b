#include "sfxstub/signing/signature_verify.h"

#include <algorithm>
#include <memory>
#include <new>

#include "sfxstub/io/disk_stream.h"
#include "sfxstub/signing/dsa_arithmetic.h"
#include "sfxstub/signing/md5.h"
#include "sfxstub/signing/signature_trailer.h"

namespace sfx {

namespace {

using dsa::Number;

constexpr uint32_t kQSize = sizeof(DsaPublicKey::q);

Number BigEndian(const uint8_t* bytes, size_t n) {
  Number x;
  dsa::FromBigEndian(bytes, n, &x);  // at most 128 bytes here, always fits
  return x;
}

bool VerifyDsa(const uint8_t digest[16], const uint8_t* signature, const DsaPublicKey& key) {
  const Number p = BigEndian(key.p, sizeof(key.p));
  const Number q = BigEndian(key.q, sizeof(key.q));
  const Number h = BigEndian(digest, kMd5DigestSize);
  const Number r = BigEndian(signature, kQSize);
  const Number s = BigEndian(signature + kQSize, kQSize);
  // Range checks before any arithmetic: r and s must lie in [1, q-1].
  if (dsa::Compare(r, q) >= 0 || r.IsZero() || dsa::Compare(s, q) >= 0 || s.IsZero()) return false;
  // Montgomery form needs an odd modulus; a real p is an odd prime.
  dsa::Montgomery mod;
  if (!mod.Init(p)) return false;
  // The inverse is checked (s w mod q = 1), so a q that is not prime, which could leave s
  // without an inverse, answers no rather than going on with a wrong w.
  Number w, u1, u2, power, v;
  if (!dsa::InversePrimeMod(s, q, &w)) return false;
  if (!dsa::MultiplyMod(h, w, q, &u1) || !dsa::MultiplyMod(r, w, q, &u2)) return false;
  const Number g = BigEndian(key.g, sizeof(key.g));
  const Number y = BigEndian(key.y, sizeof(key.y));
  if (!mod.CascadeExponentiate(g, u1, y, u2, &power) || !dsa::Remainder(power, q, &v)) return false;
  return dsa::Compare(v, r) == 0;
}

}  // namespace

void Md5Digest(uint8_t out[16], const uint8_t* data, uint32_t length) {
  static const uint8_t kNothing = 0;
  Md5 md5;
  md5.Update(length ? data : &kNothing, length);
  md5.Final(out);
}

void UpdateText(Md5* md5, const uint8_t* data, size_t length) {
  uint8_t kept[1024];
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    if (data[i] < 0x20 || data[i] > 0x7F) continue;
    kept[n++] = data[i];
    if (n == sizeof kept) {
      md5->Update(kept, n);
      n = 0;
    }
  }
  md5->Update(kept, n);
}

bool TextDigest(uint8_t out[16], const uint8_t* data, uint32_t length) {
  Md5 md5;
  UpdateText(&md5, data, length);
  md5.Final(out);
  return true;
}

bool VerifyDsaSignature(const uint8_t digest[16], const uint8_t* signature, uint32_t length,
                        const DsaPublicKey& key) {
  if (length != 2 * kQSize || !digest || !signature) return false;
  return VerifyDsa(digest, signature, key);  // fixed-size numbers: nothing to allocate
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
  if (kind == SignatureKind::kTextMd5) return false;  // a bare digest proves nothing
  if (stream.Seek(0, kSeekSet) != 0) return false;

  const uint32_t pieceSize = std::max<uint32_t>(1, std::min(signedLength, kHashChunkSize));
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[pieceSize]);
  if (!piece) return false;
  uint8_t digest[kMd5DigestSize];
  Md5 md5;
  for (uint32_t left = signedLength; left > 0;) {
    uint32_t done = 0;
    if (!stream.Read(piece.get(), std::min(left, pieceSize), &done) || done == 0) return false;
    if (kind == SignatureKind::kTextDsa) {
      UpdateText(&md5, piece.get(), done);
    } else {
      md5.Update(piece.get(), done);
    }
    left -= done;
  }
  md5.Final(digest);
  return VerifyDsaSignature(digest, signature, kDsaSignatureSize, key);
}

}  // namespace sfx
