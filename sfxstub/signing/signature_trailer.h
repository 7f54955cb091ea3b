// Signature trailers: how a file carries a DSA signature or an MD5 digest of its leading bytes,
// and the search for the outermost trailer of a file.
//
// Three formats, each standing directly after the bytes it covers (offset T = signed length):
//   kBinaryDsa "OLMSignd"  48 bytes: r (20, big-endian), s (20, big-endian), "OLMSignd".
//              At the very end of the file, or in front of the Authenticode certificate table of
//              a PE file (then followed by 0..7 zero bytes of padding up to the table). The
//              table is found through the certificate directory of a PE32 or PE32+ header.
//   kTextDsa   "OLMSignA"  96 bytes: "OLMSignA", r||s as 80 hex characters, "OLMSignA".
//   kTextMd5   "OLM_MD5a"  48 bytes: "OLM_MD5a", the MD5 digest as 32 hex characters, "OLM_MD5a".
//              A text trailer may be followed by at most 99 other bytes (a line break, say).
//
// Every finder answers only true or false; its out-parameters are optional (null) and are
// written only on success. A value that would come from beyond the end of the stream makes the
// search fail; no offset read from the file is trusted to stay within the file.
#ifndef SFXSTUB_SIGNING_SIGNATURE_TRAILER_H_
#define SFXSTUB_SIGNING_SIGNATURE_TRAILER_H_

#include <cstdint>

#include "sfxstub/format/package_format.h"
#include "sfxstub/io/file_stream.h"

namespace sfx {

enum class SignatureKind : int { kTextDsa = 0, kBinaryDsa = 1, kTextMd5 = 2 };

// Opens the file read-only and tries the finders in the fixed order binary DSA, text DSA, text
// MD5; the first that succeeds decides. `signature` is a 40-byte buffer: a DSA kind fills all
// of it, kTextMd5 the first 16 bytes. False if the file can't be opened or carries no trailer.
bool FindSignatureTrailer(const char* path, uint8_t* signature, SignatureKind* kind,
                          uint32_t* signedLength);

// The same search on an open stream (from offset 0 to its Size()).
bool FindSignatureTrailerInStream(FileStream* stream, uint8_t* signature, SignatureKind* kind,
                                  uint32_t* signedLength);

// A binary trailer at the end of the stream or, for a PE file whose end is not one, in front of
// its certificate table. `signature` receives 40 bytes.
bool FindBinaryTrailer(FileStream* s, uint8_t* signature, uint32_t* signedLength);

// A text trailer whose closing magic lies within the last 107 bytes of the stream. The highest
// closing magic found is taken; if the opening magic doesn't stand where it belongs, the search
// fails (no older trailer further back is considered). The hexadecimal payload is decoded
// with DecodeHexBytes without validation: `signature` receives 40 bytes, `digest` 16.
bool FindTextDsaTrailer(FileStream* s, uint8_t* signature, uint32_t* signedLength);
bool FindTextMd5Trailer(FileStream* s, uint8_t* digest, uint32_t* signedLength);

// Seeks to `position` and compares the next n bytes (n at most 16) with `magic`. A short read,
// or a range reaching past the end of the stream, compares false.
bool MagicAt(FileStream* s, uint32_t position, const char* magic, uint32_t n);

// Output byte i is the pair of characters 2i, 2i+1 converted by strtoul in base 16, low 8 bits
// kept. Either case of a-f is accepted; the characters are not validated.
void DecodeHexBytes(uint8_t* out, uint32_t n, const char* chars);

}  // namespace sfx

#endif  // SFXSTUB_SIGNING_SIGNATURE_TRAILER_H_
