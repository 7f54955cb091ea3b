// The three signature trailers a signed file ends with (sfxstub/format/package_format.h), put
// together from a signature or a digest made elsewhere. (The bytes the text kinds cover are
// hashed with sfx::UpdateText, sfxstub/signing/signature_verify.h.)
// Portable and free of any big-number library: the signer (dsa_signer.h) makes the signatures;
// the Windows builds' tests put natively made ones into trailers with the same code.
#ifndef SFXSTUB_TOOLS_SFXPACK_TRAILERS_H_
#define SFXSTUB_TOOLS_SFXPACK_TRAILERS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sfxpack {

// The 48-byte binary trailer: r, s (the 40 bytes of `signature`), "OLMSignd".
std::vector<uint8_t> BinaryTrailer(const uint8_t signature[40]);
// The 96-byte text DSA trailer: "OLMSignA", r||s in upper-case hex, "OLMSignA".
std::vector<uint8_t> TextDsaTrailer(const uint8_t signature[40]);
// The 48-byte text MD5 trailer: "OLM_MD5a", the digest in upper-case hex, "OLM_MD5a". It carries
// no signature: the stub never accepts it.
std::vector<uint8_t> TextMd5Trailer(const uint8_t digest[16]);
// The text MD5 trailer over data[0, length); empty when data and trailer would not fit the u32
// sizes of the format.
std::vector<uint8_t> MakeTextMd5Trailer(const uint8_t* data, size_t length);

// Whether `length` bytes and a trailer of `trailerSize` bytes after them fit the format's u32
// sizes (stay below 4 GiB).
bool FitsWithTrailer(uint64_t length, uint32_t trailerSize);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_TRAILERS_H_
