// The secret salt that `sfxpack pack` puts in front of everything an author supplies, and how a
// package's salt block is found again.
//
// The closing signature is DSA over MD5, and MD5 collisions are cheap: whoever supplies bytes
// that go into a package (a third-party file, a setup program built from someone else's
// sources) can prepare two versions that leave MD5 in the same state, have the harmless one
// signed and swap in the other. Such collision blocks are computed for one known chaining state.
// The salt block (package_writer.h) stands right after the stub, in front of the first supplied
// byte, so that state depends on a value nobody without the private key can know before the
// package is signed.
//
// The salt is deterministic, so packages stay byte-identical for the same inputs and key:
//   saltKey = SHA-256(Field("sfxpack salt key v1") || x)     x: the private exponent, 20 bytes
//   digest  = SHA-256(Field("sfxpack salt input v1") || Field(stub) || Field(main program) ||
//                     Field(command template) || u8 allowDuplicates || u64 file count ||
//                     for each file: Field(name) || Field(data) || u32 time || u8 kind)
//   salt    = HMAC-SHA-256(saltKey, digest)
// where Field(b) is b's length as a u64 followed by b, and all integers are little-endian, so that
// no two different inputs give the same byte string. HMAC-SHA-256 under a key that is secret is
// a pseudo-random function: its value for any input, even one chosen by an attacker who has seen
// the salts of other inputs, can't be told from random without saltKey, and saltKey can't be had
// without x.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKAGE_SALT_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKAGE_SALT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/package_writer.h"

namespace sfxpack {

// kSaltSize bytes derived from the key and every input of `input` but `input.salt` itself.
std::vector<uint8_t> DerivePackageSalt(const DsaPrivateKey& key, const PackageInput& input);

// The digest above fed piece by piece, for inputs too large to hold: the caller adds the fields
// in the order given above, a data field as FieldStart(its size) followed by its bytes in any
// number of Update calls. Finish gives the salt.
class SaltDigest {
 public:
  SaltDigest();
  ~SaltDigest();
  SaltDigest(const SaltDigest&) = delete;
  SaltDigest& operator=(const SaltDigest&) = delete;

  void FieldStart(uint64_t size);
  void Update(const uint8_t* data, size_t size);
  void Field(const std::string& text);
  void U8(uint8_t value);
  void U32(uint32_t value);
  void U64(uint64_t value);
  std::vector<uint8_t> Finish(const DsaPrivateKey& key);

 private:
  struct State;
  State* state_;
};

// The lowest offset that an opened archive's catalog names: where the first stored object is.
uint32_t FirstStoredObject(const sfx::SfxArchive& archive);

// Whether the package at `path`, opened as `archive`, carries a salt block in front of its first
// stored object; `blockOffset` gets the block's offset when it does. False as well when the file
// can't be read there.
bool PackageHasSalt(const std::string& path, const sfx::SfxArchive& archive,
                    uint32_t* blockOffset);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKAGE_SALT_H_
