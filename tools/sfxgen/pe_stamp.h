// The two PE header fields a link leaves for afterwards: the COFF header's TimeDateStamp and the
// optional header's CheckSum. The stub is linked without a time stamp (so that the same sources
// give the same file); sfxgen pe-stamp then sets both, and anything that changes a stub image
// later (resources put into a copy) must set both again, in this order, with StampPeImage. A key
// stamped into a generic stub keeps the generic image's time stamp and sets the checksum alone
// (tools/sfxpack/key_slot.h), so every key gives the stub the same time stamp.
//
// The time stamp is either given (a build's SOURCE_DATE_EPOCH) or derived from the image itself:
// 2001-01-01 00:00:00 UTC plus the CRC-32 of the image, with both fields read as zero, shifted
// right by 4 bits, so a date between 2001 and mid-2009 that depends on nothing but the image's
// content, and stays the same when the image is stamped again. A fixed window in the past keeps
// the stamp plausible for analysers that flag dates before 2000 or in the future.
//
// The checksum is the one Windows' CheckSumMappedFile computes: the 16-bit little-endian words
// of the whole file (an odd last byte padded with zero) added with the carries folded back in,
// the CheckSum field counting as zero, plus the file's length.
//
// Portable code, on memory.
#ifndef SFXSTUB_TOOLS_SFXGEN_PE_STAMP_H_
#define SFXSTUB_TOOLS_SFXGEN_PE_STAMP_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/sfxpack/status.h"

namespace sfxgen {

using sfxpack::Status;

constexpr uint32_t kDerivedTimeStampBase = 978307200;  // 2001-01-01 00:00:00 UTC

// File offsets of the two fields.
struct PeStampFields {
  size_t timeStampOffset;  // COFF header TimeDateStamp, u32
  size_t checkSumOffset;   // optional header CheckSum, u32 (the same place in PE32 and PE32+)
};

// Finds the fields through sfx::PeImage (strictly read). Refuses, with the reason, anything but a
// PE32 or PE32+ image: no "MZ", a PE header offset that leaves no room for the headers, no
// "PE\0\0", an unknown optional header magic, or an optional header too short to hold CheckSum.
Status FindPeStampFields(const uint8_t* data, size_t size, PeStampFields* fields);

// The checksum of `data` with the four bytes at `checkSumOffset` counted as zero.
uint32_t PeCheckSum(const uint8_t* data, size_t size, size_t checkSumOffset);

// The time stamp derived from the image's content (see above).
uint32_t DerivedTimeStamp(const uint8_t* data, size_t size, const PeStampFields& fields);

// Sets TimeDateStamp to `*time` (or, when `time` is null, to the derived stamp), then CheckSum.
// Fails, with the image unchanged, for what FindPeStampFields refuses.
Status StampPeImage(std::vector<uint8_t>* image, const uint32_t* time);

// IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP (0x0400) and IMAGE_FILE_NET_RUN_FROM_SWAP (0x0800): an image
// with these COFF Characteristics that is started from removable media or the network is copied
// whole into the paging file before it runs, so none of its code pages is read from there again
// (a server could answer that later read with other code). GNU ld cannot set them.
constexpr uint16_t kRunFromSwapFlags = 0x0C00;

// Adds kRunFromSwapFlags to the COFF header's Characteristics (the stub's post-link step does,
// before StampPeImage, whose checksum must cover them). Fails, with the image unchanged, for what
// FindPeStampFields refuses.
Status SetRunFromSwap(std::vector<uint8_t>* image);

}  // namespace sfxgen

#endif  // SFXSTUB_TOOLS_SFXGEN_PE_STAMP_H_
