#include "tools/sfxpack/dsa_signer.h"

#include <cryptopp/hmac.h>
#include <cryptopp/integer.h>
#include <cryptopp/nbtheory.h>
#include <cryptopp/sha.h>

#include <cstring>

#include "sfxstub/signing/signature_trailer.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/trailers.h"

namespace sfxpack {

namespace {

using CryptoPP::Integer;

constexpr size_t kQSize = sizeof(sfx::DsaPublicKey::q);

Integer BigEndian(const uint8_t* bytes, size_t n) { return Integer(bytes, n, Integer::UNSIGNED); }

// RFC 6979 section 3.2 for a 160-bit q with HMAC-SHA-256. The digest is shorter than q, so
// bits2octets(h1) is the digest as a number, left-padded to 20 bytes.
class NonceGenerator {
 public:
  NonceGenerator(const DsaPrivateKey& key, const uint8_t digest[16]) {
    uint8_t h[kQSize] = {};
    std::memcpy(h + kQSize - sfx::kMd5DigestSize, digest, sfx::kMd5DigestSize);
    std::memset(v_, 0x01, sizeof(v_));
    std::memset(k_, 0x00, sizeof(k_));
    for (uint8_t round = 0; round < 2; ++round) {
      CryptoPP::HMAC<CryptoPP::SHA256> mac(k_, sizeof(k_));
      mac.Update(v_, sizeof(v_));
      mac.Update(&round, 1);
      mac.Update(key.x, sizeof(key.x));
      mac.Update(h, sizeof(h));
      mac.Final(k_);
      Mac(v_, sizeof(v_), v_);
    }
  }

  // The next candidate k: the leftmost 160 bits of the next V.
  Integer Next() {
    if (started_) {
      const uint8_t zero = 0;
      CryptoPP::HMAC<CryptoPP::SHA256> mac(k_, sizeof(k_));
      mac.Update(v_, sizeof(v_));
      mac.Update(&zero, 1);
      mac.Final(k_);
      Mac(v_, sizeof(v_), v_);
    }
    started_ = true;
    Mac(v_, sizeof(v_), v_);
    return BigEndian(v_, kQSize);
  }

 private:
  void Mac(const uint8_t* data, size_t n, uint8_t* out) {
    CryptoPP::HMAC<CryptoPP::SHA256> mac(k_, sizeof(k_));
    mac.Update(data, n);
    mac.Final(out);
  }

  uint8_t v_[32];
  uint8_t k_[32];
  bool started_ = false;
};

}  // namespace

void SignDigest(const DsaPrivateKey& key, const uint8_t digest[16], uint8_t signature[40]) {
  const Integer p = BigEndian(key.pub.p, sizeof(key.pub.p));
  const Integer q = BigEndian(key.pub.q, sizeof(key.pub.q));
  const Integer g = BigEndian(key.pub.g, sizeof(key.pub.g));
  const Integer x = BigEndian(key.x, sizeof(key.x));
  const Integer h = BigEndian(digest, sfx::kMd5DigestSize);
  NonceGenerator nonces(key, digest);
  for (;;) {
    const Integer k = nonces.Next();
    if (k.IsZero() || k >= q) continue;
    const Integer r = a_exp_b_mod_c(g, k, p) % q;
    if (r.IsZero()) continue;
    const Integer s = a_times_b_mod_c(k.InverseMod(q), (h + x * r) % q, q);
    if (s.IsZero()) continue;
    r.Encode(signature, kQSize);
    s.Encode(signature + kQSize, kQSize);
    return;
  }
}

std::vector<uint8_t> MakeBinaryTrailerFromDigest(const DsaPrivateKey& key, const uint8_t digest[16]) {
  uint8_t signature[sfx::kDsaSignatureSize];
  SignDigest(key, digest, signature);
  return BinaryTrailer(signature);
}

std::vector<uint8_t> MakeTextDsaTrailerFromDigest(const DsaPrivateKey& key, const uint8_t digest[16]) {
  uint8_t signature[sfx::kDsaSignatureSize];
  SignDigest(key, digest, signature);
  return TextDsaTrailer(signature);
}

std::vector<uint8_t> MakeBinaryTrailer(const DsaPrivateKey& key, const uint8_t* data, size_t length) {
  if (!FitsWithTrailer(length, sfx::kBinaryTrailerSize)) return {};
  uint8_t digest[sfx::kMd5DigestSize];
  sfx::Md5Digest(digest, data, static_cast<uint32_t>(length));
  return MakeBinaryTrailerFromDigest(key, digest);
}

std::vector<uint8_t> MakeTextDsaTrailer(const DsaPrivateKey& key, const uint8_t* data, size_t length) {
  if (!FitsWithTrailer(length, sfx::kTextDsaTrailerSize)) return {};
  uint8_t digest[sfx::kMd5DigestSize];
  sfx::TextDigest(digest, data, static_cast<uint32_t>(length));
  return MakeTextDsaTrailerFromDigest(key, digest);
}

}  // namespace sfxpack
