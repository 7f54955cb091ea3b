// Authenticode signing of a package without breaking its closing DSA signature.
//
// The closing signature covers bytes [0, T) of the package exactly as stored, and that range
// includes the PE header's CheckSum field and its certificate-table directory entry: the two
// fields an Authenticode signer rewrites when it appends its certificate table. Signing the
// package with Authenticode after the closing signature therefore makes the stub refuse it.
// Authenticode's own digest, on the other hand, leaves out exactly those two fields and the
// table. So the closing signature is made over the header as it will finally stand, and the
// Authenticode signature is made afterwards:
//
//   [0, T)        the package's signed content with CheckSum = 0 and the certificate entry
//                 = (X, table size)
//   [T, T+48)     the closing binary DSA trailer over [0, T)
//   [T+48, X)     0..7 zero bytes; X is T+48 rounded up to a multiple of 8
//   [X, X+size)   the certificate table the Authenticode signer made
//
// The signer is handed the closing-signed file with its certificate entry cleared (an unsigned
// file, as it expects); it recomputes CheckSum, sets the entry and appends padding and table.
// Afterwards both fields get back the values the closing signature covers (Windows does not
// check CheckSum for applications). The table's size is only known after a signing run, so the
// first run learns it, and whenever a run's table has another size than the one the closing
// signature covers (a timestamp of another length, say), the closing signature is made again
// with the real size and the file is signed again.
//
// Everything here works on memory and on files in a caller's private folder; the result is
// handed back whole, so the caller writes it out all-or-nothing. Portable code.
#ifndef SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_H_
#define SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// File offsets of the two header fields an Authenticode signer rewrites.
struct PeHeaderFields {
  uint32_t checksumOffset;          // OptionalHeader.CheckSum, u32
  uint32_t certificateEntryOffset;  // data directory entry 4: u32 file offset, u32 size
};

// Finds the fields in a PE32 or PE32+ image whose headers lie within data[0, limit). Refuses,
// with the reason, anything else: no "MZ", no "PE\0\0" signature, an unknown optional header
// magic, an optional header too short to hold entry 4, or fewer than 5 data directories.
Status FindPeHeaderFields(const uint8_t* data, size_t limit, PeHeaderFields* fields);

// The offset at which the certificate table follows a closing trailer that ends at `end`:
// `end` rounded up to a multiple of 8.
inline uint64_t CertificateTableOffset(uint64_t end) { return (end + 7) & ~uint64_t{7}; }

// The closing-signed file for a given table size: content with CheckSum 0 and the certificate
// entry (CertificateTableOffset(T + 48), tableSize), then a new binary trailer over it. Fails
// when the table would end beyond the 4 GiB that the u32 fields can describe.
Status MakeClosingSignedImage(const uint8_t* content, uint32_t contentLength,
                              const PeHeaderFields& fields, const DsaPrivateKey& key,
                              uint32_t tableSize, std::vector<uint8_t>* image);

// Takes the file `signedFile` that the Authenticode signer made from `image` with its
// certificate entry cleared. Checks that the signer changed nothing but CheckSum and the
// certificate entry, and only appended zero padding up to the 8-byte boundary and a table that
// ends the file, the entry pointing at it. On success `result` is the signer's file with the two
// fields as `image` has them, and `tableSize` the size of the table it appended (which may
// differ from the size `image` announces: then the result is not yet valid).
Status AttachCertificateTable(const std::vector<uint8_t>& image, const PeHeaderFields& fields,
                              const std::vector<uint8_t>& signedFile, std::vector<uint8_t>* result,
                              uint32_t* tableSize);

// One run of the Authenticode signer: signs the file at `inPath` into a new file at `outPath`.
using AuthenticodeSigner =
    std::function<Status(const std::string& inPath, const std::string& outPath)>;

// How many times the signer runs at most before the table's size is given up as unstable.
constexpr int kMaxSignerRuns = 4;

struct AuthenticodeReport {
  uint32_t signedLength = 0;   // T, the closing signature's offset
  uint32_t tableOffset = 0;    // X
  uint32_t tableSize = 0;
  int signerRuns = 0;
};

// The whole procedure. `package` must end in a closing binary DSA trailer, possibly followed by
// padding and a certificate table (an earlier Authenticode signature, which is replaced), and
// that signature must verify with the public half of `key`: a package is never re-signed
// unchecked. `workDir` is a private folder for the signer's files. On success `result` holds the
// new package, checked once more by the stub's own trailer search and DSA verification.
Status AuthenticodeSignPackage(const std::vector<uint8_t>& package, const DsaPrivateKey& key,
                               const std::string& workDir, const AuthenticodeSigner& signer,
                               std::vector<uint8_t>* result, AuthenticodeReport* report);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_H_
