// DSA key files for signing packages: reading public and private keys in the forms OpenSSL
// writes, making a fresh key pair, and writing it back as PEM that OpenSSL reads.
//
// Accepted forms, PEM or DER:
//   "PUBLIC KEY"       X.509 SubjectPublicKeyInfo (openssl pkey -pubout, openssl dsa -pubout)
//   "PRIVATE KEY"      PKCS#8 PrivateKeyInfo, unencrypted (openssl genpkey)
//   "DSA PRIVATE KEY"  the traditional OpenSSL form: SEQUENCE { 0, p, q, g, y, x }
//   "ENCRYPTED PRIVATE KEY"  PKCS#8 encrypted with PBES2 (PBKDF2 with HMAC-SHA-1 or -SHA-256,
//                      AES-CBC), as openssl genpkey -aes256 writes it; read with a passphrase
// Only DSA keys with a 1024-bit p and a 160-bit q are accepted (the stub holds exactly such a
// key), and only consistent ones: q divides p-1, g has order q, y = g^x. Every refusal comes with
// a reason naming the file and what is wrong. Portable code: standard C++ and Crypto++ only.
#ifndef SFXSTUB_TOOLS_SFXPACK_DSA_KEY_H_
#define SFXSTUB_TOOLS_SFXPACK_DSA_KEY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/format/dsa_public_key.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

struct DsaPrivateKey {
  sfx::DsaPublicKey pub;
  uint8_t x[20];  // the private exponent, big-endian
};

// A public key file, or any private key file (its public half is used).
Status LoadDsaPublicKey(const std::string& path, sfx::DsaPublicKey* key);
// `passphrase` (may be null) decrypts an encrypted private key; without one such a key is refused.
Status LoadDsaPrivateKey(const std::string& path, DsaPrivateKey* key,
                         const std::string* passphrase = nullptr);

// The same on the contents of a key file; `name` is what the reason calls it.
Status ParseDsaPublicKey(const std::vector<uint8_t>& contents, const std::string& name,
                         sfx::DsaPublicKey* key);
Status ParseDsaPrivateKey(const std::vector<uint8_t>& contents, const std::string& name,
                          DsaPrivateKey* key, const std::string* passphrase = nullptr);

// A fresh key pair: new 1024/160 domain parameters and a random private exponent.
Status GenerateDsaKey(DsaPrivateKey* key);

// PEM texts: the private key as PKCS#8 "PRIVATE KEY", the public one as "PUBLIC KEY".
std::string PrivateKeyToPem(const DsaPrivateKey& key);
std::string PublicKeyToPem(const sfx::DsaPublicKey& key);
// The public key as DER SubjectPublicKeyInfo, the bytes `openssl pkey -pubin -outform DER` writes.
std::vector<uint8_t> PublicKeyToDer(const sfx::DsaPublicKey& key);
// The key's fingerprint: SHA-256 of PublicKeyToDer, as 64 lower-case hexadecimal digits (what
// `openssl pkey -pubin -outform DER | sha256sum` prints).
std::string KeyFingerprint(const sfx::DsaPublicKey& key);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_DSA_KEY_H_
