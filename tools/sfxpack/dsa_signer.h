// Signing with a DSA private key, and the three trailers a signed file ends with. The signatures
// are those the stub verifies: DSA over an MD5 digest read as a big-endian 128-bit number, used
// unchanged. The nonce is derived deterministically from the key and the digest (the HMAC-DRBG
// construction of RFC 6979, with HMAC-SHA-256), so the same input and key always give the same
// bytes and no random generator is needed. Portable code: standard C++ and Crypto++ only.
//
// The trailer makers over data give an empty vector when the signed file would not fit the u32
// sizes of the format (data plus trailer beyond 4 GiB - 1). The trailers themselves are put
// together by trailers.h.
#ifndef SFXSTUB_TOOLS_SFXPACK_DSA_SIGNER_H_
#define SFXSTUB_TOOLS_SFXPACK_DSA_SIGNER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/sfxpack/dsa_key.h"

namespace sfxpack {

// r || s, 20 bytes each, big-endian.
void SignDigest(const DsaPrivateKey& key, const uint8_t digest[16], uint8_t signature[40]);

// The 48-byte binary trailer: r, s, "OLMSignd"; covers data[0, length) exactly as given.
std::vector<uint8_t> MakeBinaryTrailer(const DsaPrivateKey& key, const uint8_t* data, size_t length);
// The 96-byte text DSA trailer: "OLMSignA", r||s in upper-case hex, "OLMSignA"; covers the bytes
// of 0x20..0x7F of data[0, length).
std::vector<uint8_t> MakeTextDsaTrailer(const DsaPrivateKey& key, const uint8_t* data, size_t length);
// (The text MD5 trailer needs no key: MakeTextMd5Trailer in trailers.h.)

// The same two trailers for a digest computed by the caller (over data read in pieces): the MD5
// of the covered bytes (binary), or of their bytes of 0x20..0x7F (text).
std::vector<uint8_t> MakeBinaryTrailerFromDigest(const DsaPrivateKey& key, const uint8_t digest[16]);
std::vector<uint8_t> MakeTextDsaTrailerFromDigest(const DsaPrivateKey& key, const uint8_t digest[16]);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_DSA_SIGNER_H_
