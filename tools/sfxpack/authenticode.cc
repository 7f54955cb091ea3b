#include "tools/sfxpack/authenticode.h"

#include <cstdio>
#include <cstring>

#include "sfxstub/io/memory_stream.h"
#include "sfxstub/signing/signature_trailer.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/file_util.h"

namespace sfxpack {
namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kCertificateDirectory = 4;
// Offsets within the optional header: CheckSum stands at the same place in PE32 and PE32+; the
// data directories (and their count in front of them) stand 16 bytes further on in PE32+,
// whose ImageBase and stack and heap sizes are 64-bit fields.
constexpr uint32_t kChecksumField = 64;
constexpr uint32_t kPe32DirectoryCountField = 92;
constexpr uint32_t kPe32PlusDirectoryCountField = 108;
constexpr uint32_t kDirectorySize = 8;
// The smallest table a signer can append: the WIN_CERTIFICATE header alone.
constexpr uint32_t kMinTableSize = 8;

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

std::string Hex(uint64_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

// Whether `a` and `b` agree on [begin, end), leaving out the two header fields.
bool SameOutsideFields(const uint8_t* a, const uint8_t* b, size_t end, const PeHeaderFields& f,
                       size_t* firstDifference) {
  for (size_t i = 0; i < end; ++i) {
    if (i >= f.checksumOffset && i < f.checksumOffset + 4u) continue;
    if (i >= f.certificateEntryOffset && i < f.certificateEntryOffset + 8u) continue;
    if (a[i] != b[i]) {
      *firstDifference = i;
      return false;
    }
  }
  return true;
}

// The outermost trailer of an in-memory file, through the stub's own search. Only read through:
// MemoryStream wants a mutable block because it can also write.
bool FindClosingTrailer(const std::vector<uint8_t>& file, uint8_t signature[40],
                        sfx::SignatureKind* kind, uint32_t* signedLength) {
  sfx::MemoryStream stream;
  if (!stream.Attach(const_cast<uint8_t*>(file.data()), static_cast<uint32_t>(file.size())))
    return false;
  return sfx::FindSignatureTrailerInStream(&stream, signature, kind, signedLength);
}

// Whether `file` carries a closing binary DSA trailer that verifies with `key`; T on success.
bool HasValidClosingSignature(const std::vector<uint8_t>& file, const sfx::DsaPublicKey& key,
                              uint32_t* signedLength) {
  uint8_t signature[sfx::kDsaSignatureSize];
  sfx::SignatureKind kind;
  uint32_t length = 0;
  if (!FindClosingTrailer(file, signature, &kind, &length)) return false;
  if (kind != sfx::SignatureKind::BinaryDsa) return false;
  uint8_t digest[sfx::kMd5DigestSize];
  sfx::Md5Digest(digest, file.data(), length);
  if (!sfx::VerifyDsaSignature(digest, signature, sfx::kDsaSignatureSize, key)) return false;
  *signedLength = length;
  return true;
}

}  // namespace

bool FindPeHeaderFields(const uint8_t* data, size_t limit, PeHeaderFields* fields,
                        std::string* error) {
  if (limit < 0x40 || data[0] != 'M' || data[1] != 'Z') {
    *error = "not a Windows executable (no \"MZ\" header)";
    return false;
  }
  const uint64_t pe = GetU32(data + 0x3C);
  // Signature (4), file header (20), then the optional header.
  const uint64_t optional = pe + 24;
  if (optional + 2 > limit || std::memcmp(data + pe, "PE\0\0", 4) != 0) {
    *error = "not a PE executable (no \"PE\" signature at " + Hex(pe) + ")";
    return false;
  }
  const uint16_t magic = GetU16(data + optional);
  uint32_t countField = 0;
  if (magic == kPe32Magic) {
    countField = kPe32DirectoryCountField;
  } else if (magic == kPe32PlusMagic) {
    countField = kPe32PlusDirectoryCountField;
  } else {
    *error = "unknown optional header magic " + Hex(magic);
    return false;
  }
  const uint32_t firstDirectory = countField + 4;
  const uint32_t optionalSize = GetU16(data + pe + 20);
  const uint32_t needed = firstDirectory + (kCertificateDirectory + 1) * kDirectorySize;
  if (optionalSize < needed || optional + needed > limit) {
    *error = "the optional header is too short to hold the certificate directory";
    return false;
  }
  if (GetU32(data + optional + countField) <= kCertificateDirectory) {
    *error = "the executable has no certificate directory (fewer than 5 data directories)";
    return false;
  }
  fields->checksumOffset = static_cast<uint32_t>(optional + kChecksumField);
  fields->certificateEntryOffset =
      static_cast<uint32_t>(optional + firstDirectory + kCertificateDirectory * kDirectorySize);
  return true;
}

bool MakeClosingSignedImage(const uint8_t* content, uint32_t contentLength,
                            const PeHeaderFields& fields, const DsaPrivateKey& key,
                            uint32_t tableSize, std::vector<uint8_t>* image, std::string* error) {
  const uint64_t tableOffset = CertificateTableOffset(uint64_t{contentLength} + sfx::kBinaryTrailerSize);
  if (tableOffset + tableSize > 0xFFFFFFFFu) {
    *error = "the signed package would exceed 4 GiB";
    return false;
  }
  image->assign(content, content + contentLength);
  PutU32(image->data() + fields.checksumOffset, 0);
  PutU32(image->data() + fields.certificateEntryOffset, static_cast<uint32_t>(tableOffset));
  PutU32(image->data() + fields.certificateEntryOffset + 4, tableSize);
  std::vector<uint8_t> trailer = MakeBinaryTrailer(key, image->data(), contentLength);
  image->insert(image->end(), trailer.begin(), trailer.end());
  return true;
}

bool AttachCertificateTable(const std::vector<uint8_t>& image, const PeHeaderFields& fields,
                            const std::vector<uint8_t>& signedFile, std::vector<uint8_t>* result,
                            uint32_t* tableSize, std::string* error) {
  const uint64_t tableOffset = CertificateTableOffset(image.size());
  if (signedFile.size() < tableOffset + kMinTableSize) {
    *error = "the Authenticode signer did not append a certificate table";
    return false;
  }
  const uint8_t* entry = signedFile.data() + fields.certificateEntryOffset;
  const uint32_t offset = GetU32(entry);
  const uint32_t size = GetU32(entry + 4);
  if (offset != tableOffset) {
    *error = "the Authenticode signer put its certificate table at " + Hex(offset) +
             ", not at the 8-byte boundary " + Hex(tableOffset) + " after the closing signature";
    return false;
  }
  if (size < kMinTableSize || uint64_t{offset} + size != signedFile.size()) {
    *error = "the Authenticode signer's certificate table (" + std::to_string(size) +
             " bytes at " + Hex(offset) + ") does not end the file";
    return false;
  }
  size_t at = 0;
  if (!SameOutsideFields(image.data(), signedFile.data(), image.size(), fields, &at)) {
    *error = "the Authenticode signer changed the file at " + Hex(at) +
             ", beyond the checksum and the certificate entry";
    return false;
  }
  for (size_t i = image.size(); i < tableOffset; ++i) {
    if (signedFile[i] != 0) {
      *error = "the Authenticode signer padded the file with non-zero bytes";
      return false;
    }
  }
  *result = signedFile;
  std::memcpy(result->data() + fields.checksumOffset, image.data() + fields.checksumOffset, 4);
  std::memcpy(result->data() + fields.certificateEntryOffset,
              image.data() + fields.certificateEntryOffset, 8);
  *tableSize = size;
  return true;
}

bool AuthenticodeSignPackage(const std::vector<uint8_t>& package, const DsaPrivateKey& key,
                             const std::string& workDir, const AuthenticodeSigner& signer,
                             std::vector<uint8_t>* result, AuthenticodeReport* report,
                             std::string* error) {
  if (package.size() > 0xFFFFFFFFu) {
    *error = "the package is larger than 4 GiB";
    return false;
  }
  uint8_t signature[sfx::kDsaSignatureSize];
  sfx::SignatureKind kind;
  uint32_t signedLength = 0;
  if (!FindClosingTrailer(package, signature, &kind, &signedLength) ||
      kind != sfx::SignatureKind::BinaryDsa) {
    *error = "the package does not end in a closing binary DSA signature";
    return false;
  }
  uint32_t verifiedLength = 0;
  if (!HasValidClosingSignature(package, key.pub, &verifiedLength)) {
    *error = "the package's closing signature does not verify with the signer key "
             "(another key, or the package was changed after signing)";
    return false;
  }
  PeHeaderFields fields;
  if (!FindPeHeaderFields(package.data(), signedLength, &fields, error)) return false;

  const std::string unsignedPath = workDir + "/unsigned.exe";
  const std::string signedPath = workDir + "/signed.exe";
  std::vector<uint8_t> image, candidate;
  std::string sizes;
  uint32_t announced = 0;  // unknown before the first run
  for (int run = 1; run <= kMaxSignerRuns; ++run) {
    if (!MakeClosingSignedImage(package.data(), signedLength, fields, key, announced, &image,
                                error)) {
      return false;
    }
    // The signer gets an unsigned file: certificate entry cleared. Its digest leaves the entry
    // out, so the signature it makes holds for the entry the closing signature covers.
    std::vector<uint8_t> input = image;
    std::memset(input.data() + fields.certificateEntryOffset, 0, 8);
    std::remove(signedPath.c_str());
    if (!WriteFileAtomically(unsignedPath, input, error)) return false;
    if (!signer(unsignedPath, signedPath, error)) return false;
    std::vector<uint8_t> signedFile;
    if (!ReadWholeFile(signedPath, &signedFile, error)) return false;
    std::remove(unsignedPath.c_str());
    std::remove(signedPath.c_str());
    uint32_t tableSize = 0;
    if (!AttachCertificateTable(image, fields, signedFile, &candidate, &tableSize, error))
      return false;
    sizes += (sizes.empty() ? "" : ", ") + std::to_string(tableSize);
    if (tableSize == announced) {
      uint32_t checkedLength = 0;
      if (!HasValidClosingSignature(candidate, key.pub, &checkedLength) ||
          checkedLength != signedLength) {
        *error = "internal error: the Authenticode-signed package fails its own closing signature check";
        return false;
      }
      *result = std::move(candidate);
      report->signedLength = signedLength;
      report->tableOffset = static_cast<uint32_t>(CertificateTableOffset(image.size()));
      report->tableSize = tableSize;
      report->signerRuns = run;
      return true;
    }
    announced = tableSize;
  }
  *error = "the Authenticode signer made certificate tables of changing sizes (" + sizes +
           " bytes); gave up after " + std::to_string(kMaxSignerRuns) + " runs";
  return false;
}

}  // namespace sfxpack
