// Signature verification: a file is accepted only if its outermost trailer is a DSA trailer
// (binary or text) whose signature over the MD5 digest of the covered bytes verifies with a DSA
// public key, by default the signer key in the program's key slot.
//
// The DSA check is that of FIPS 186 with MD5 in place of the hash: the 16-byte digest is read as
// one big-endian 128-bit integer H, used as it is (it is always below a 160-bit q). A signature
// is r || s, 20 bytes each, big-endian. Every answer is a plain yes or no; nothing is cached, no
// state is kept, and the key is constant data, so calls need no locking.
#ifndef SFXSTUB_SIGNING_SIGNATURE_VERIFY_H_
#define SFXSTUB_SIGNING_SIGNATURE_VERIFY_H_

#include <cstddef>
#include <cstdint>

#include "sfxstub/format/dsa_public_key.h"
#include "sfxstub/io/file_stream.h"

namespace sfx {

class Md5;

// The program's key slot (format/dsa_public_key.h; library sfx_signer_key): in the stub it is
// generated empty and the signer's key is stamped into the linked image, by the build
// (SFXSTUB_SIGNER_KEY) or by `sfxpack pack` and `sfxpack stub`; an empty slot verifies nothing.
// The slot is defined in a file of its own, so the compiler cannot fold its bytes into the code
// that reads it: the bytes read at run time are those of the image.
extern const DsaKeySlot SignerKeySlot;

// The covered bytes of a file are read and hashed in pieces of this many bytes, so checking a
// file of any size takes one buffer of this size, small enough to stay in the processor's cache
// between the read and the hashing.
constexpr uint32_t kHashChunkSize = 256u << 10;

// True if the file's outermost trailer is a DSA trailer whose signature verifies with `key`.
// A missing or unreadable file, no trailer, an MD5 trailer (refused before anything is hashed),
// a short read and a mismatch all answer false. The trailer and the covered bytes are read
// through one open handle, and the covered bytes are hashed in pieces, not held in memory whole.
bool VerifySignedFile(const char* path, const DsaPublicKey& key = SignerKeySlot.key);
// The same check on an open stream (from offset 0 to its Size()); the position is left anywhere.
// Checking and then reading through one handle means the bytes read are the bytes checked, even
// if the file's name is made to point at another file in between.
bool VerifySignedStream(FileStream* stream, const DsaPublicKey& key = SignerKeySlot.key);

// The DSA check of `signature` (r || s) over `digest`. False for a length other than 40, for r or
// s outside [1, q-1] (before any exponentiation), for a malformed key, and for a mismatch.
bool VerifyDsaSignature(const uint8_t digest[16], const uint8_t* signature, uint32_t length,
                        const DsaPublicKey& key = SignerKeySlot.key);

// RFC 1321 MD5 of the whole buffer.
void Md5Digest(uint8_t out[16], const uint8_t* data, uint32_t length);

// The bytes a text trailer covers: those of 0x20..0x7F, in their order, so that the digest is
// unchanged by line breaks, tabs, other control bytes and bytes of 0x80 and above. UpdateText
// adds those of data[0, length) to `md5` (a file hashed in pieces goes through it piece by
// piece); they are filtered through a small buffer, so no copy of the data is allocated.
void UpdateText(Md5* md5, const uint8_t* data, size_t length);
// The MD5 of the bytes a text trailer covers in the buffer. Always true.
bool TextDigest(uint8_t out[16], const uint8_t* data, uint32_t length);

}  // namespace sfx

#endif  // SFXSTUB_SIGNING_SIGNATURE_VERIFY_H_
