// The package format, defined once: the stub's reader, sfxpack's writer and the tests all take
// their tags, magics, sizes and trailer layouts from here. Integers are u32 little-endian.
//
// A package, front to back:
//   program image + its binary trailer | stored objects | catalog package file + trailer |
//   archive trailer | closing DSA signature | optional certificate table.
//
// Package file (the stored form of one file):
//   0   16  magic, kCompressedPackageMagic (decoded by the stub) or kDeltaPackageMagic (copied)
//   16   4  inflatedSize
//   20   4  storedSize
//   24   n  one zlib stream of storedSize bytes
//   24+n 48 the object's own binary signature trailer
//
// Catalog: a sequence of chunks (4-byte tag, u32 length n, n bytes of payload). "MODE" and
// "CMDL" hold text, "CMDP" the main program's range (u32 offset, u32 size), "LIST" a sequence of
// "FILE" chunks, each a sequence of "NAME" (text) and "PTRL" (u32 offset, u32 size, u32 time).
//
// Archive trailer (kArchiveTrailerSize bytes): u32 catalog offset, kArchiveMagic.
//
// Signature trailers, each right after the bytes it covers:
//   binary DSA  kBinaryTrailerSize: r (20, big-endian), s (20, big-endian), kBinaryDsaMagic
//   text DSA    kTextDsaTrailerSize: kTextDsaMagic, r||s as 80 hex characters, kTextDsaMagic
//   text MD5    kTextMd5TrailerSize: kTextMd5Magic, the MD5 digest as 32 hex characters,
//               kTextMd5Magic
#ifndef SFXSTUB_FORMAT_PACKAGE_FORMAT_H_
#define SFXSTUB_FORMAT_PACKAGE_FORMAT_H_

#include <cstdint>

#include "sfxstub/format/byte_order.h"

namespace sfx {

// Package files.
constexpr uint32_t kPackageMagicSize = 16;
constexpr uint32_t kPackageHeaderSize = 24;
// The two package kinds, in table order: compressed (decoded by the stub) and delta (only ever
// copied).
inline constexpr char kPackageMagics[2][kPackageMagicSize + 1] = {"OLMsetupFPkgFile",
                                                                  "OLMsetupDPkgFile"};
inline constexpr const char* CompressedPackageMagic() { return kPackageMagics[0]; }
inline constexpr const char* DeltaPackageMagic() { return kPackageMagics[1]; }

// Catalog chunks.
constexpr uint32_t kChunkTagSize = 4;
constexpr uint32_t kChunkHeaderSize = 8;
inline constexpr char kModeTag[] = "MODE";
inline constexpr char kCommandTemplateTag[] = "CMDL";
inline constexpr char kMainRangeTag[] = "CMDP";
inline constexpr char kFileListTag[] = "LIST";
inline constexpr char kFileTag[] = "FILE";
inline constexpr char kNameTag[] = "NAME";
inline constexpr char kFileRangeTag[] = "PTRL";
constexpr uint32_t kMainRangePayload = 8;   // "CMDP": offset, size
constexpr uint32_t kFileRangePayload = 12;  // "PTRL": offset, size, time
// The only mode the stub accepts.
inline constexpr char kExtractMode[] = "extract";

// A tag as the readers compare it: the four letters as one little-endian u32.
constexpr uint32_t TagValue(const char (&letters)[5]) { return LoadU32(letters); }

// Archive trailer.
constexpr uint32_t kArchiveTrailerSize = 20;
constexpr uint32_t kArchiveMagicSize = 16;
inline constexpr char kArchiveMagic[kArchiveMagicSize + 1] = "OLMsetupSelfExt2";

// Signature trailers.
constexpr uint32_t kTrailerMagicSize = 8;
constexpr uint32_t kDsaSignatureSize = 40;  // r || s, 20 bytes each
constexpr uint32_t kMd5DigestSize = 16;
constexpr uint32_t kBinaryTrailerSize = 48;
constexpr uint32_t kTextDsaTrailerSize = 96;
constexpr uint32_t kTextMd5TrailerSize = 48;
// How many bytes may follow the closing magic of a text trailer.
constexpr uint32_t kMaxBytesAfterTextTrailer = 99;
inline constexpr char kBinaryDsaMagic[kTrailerMagicSize + 1] = "OLMSignd";
inline constexpr char kTextDsaMagic[kTrailerMagicSize + 1] = "OLMSignA";
inline constexpr char kTextMd5Magic[kTrailerMagicSize + 1] = "OLM_MD5a";

}  // namespace sfx

#endif  // SFXSTUB_FORMAT_PACKAGE_FORMAT_H_
