#include "tools/sfxpack/authenticode.h"

#include <cstdio>
#include <cstring>

#include "sfxstub/format/byte_order.h"
#include "sfxstub/format/pe_image.h"
#include "sfxstub/io/memory_stream.h"
#include "sfxstub/signing/signature_trailer.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/files.h"

namespace sfxpack {
namespace {

// The smallest table a signer can append: the WIN_CERTIFICATE header alone.
constexpr uint32_t kMinTableSize = 8;

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
  if (kind != sfx::SignatureKind::kBinaryDsa) return false;
  uint8_t digest[sfx::kMd5DigestSize];
  sfx::Md5Digest(digest, file.data(), length);
  if (!sfx::VerifyDsaSignature(digest, signature, sfx::kDsaSignatureSize, key)) return false;
  *signedLength = length;
  return true;
}

}  // namespace

Status FindPeHeaderFields(const uint8_t* data, size_t limit, PeHeaderFields* fields) {
  sfx::PeImage image;
  const sfx::PeProblem problem = image.Parse(data, limit);
  if (problem != sfx::PeProblem::kNone) {
    return Status::Error(std::string("not a PE32 or PE32+ executable: ") + sfx::PeProblemText(problem));
  }
  uint32_t checksum = 0;
  sfx::PeDirectory entry;
  if (image.DirectoryCount() <= sfx::kPeCertificateDirectory) {
    return Status::Error("the executable has no certificate directory (fewer than 5 data directories)");
  }
  if (!image.CheckSumOffset(&checksum) || !image.Directory(sfx::kPeCertificateDirectory, &entry)) {
    return Status::Error("the optional header is too short to hold the certificate directory");
  }
  fields->checksumOffset = checksum;
  fields->certificateEntryOffset = entry.entryOffset;
  return Status::Ok();
}

Status MakeClosingSignedImage(const uint8_t* content, uint32_t contentLength,
                              const PeHeaderFields& fields, const DsaPrivateKey& key,
                              uint32_t tableSize, std::vector<uint8_t>* image) {
  const uint64_t tableOffset = CertificateTableOffset(uint64_t{contentLength} + sfx::kBinaryTrailerSize);
  if (tableOffset + tableSize > 0xFFFFFFFFu) return Status::Error("the signed package would exceed 4 GiB");
  image->assign(content, content + contentLength);
  sfx::StoreU32(image->data() + fields.checksumOffset, 0);
  sfx::StoreU32(image->data() + fields.certificateEntryOffset, static_cast<uint32_t>(tableOffset));
  sfx::StoreU32(image->data() + fields.certificateEntryOffset + 4, tableSize);
  std::vector<uint8_t> trailer = MakeBinaryTrailer(key, image->data(), contentLength);
  image->insert(image->end(), trailer.begin(), trailer.end());
  return Status::Ok();
}

Status AttachCertificateTable(const std::vector<uint8_t>& image, const PeHeaderFields& fields,
                              const std::vector<uint8_t>& signedFile, std::vector<uint8_t>* result,
                              uint32_t* tableSize) {
  const uint64_t tableOffset = CertificateTableOffset(image.size());
  if (signedFile.size() < tableOffset + kMinTableSize) {
    return Status::Error("the Authenticode signer did not append a certificate table");
  }
  const uint8_t* entry = signedFile.data() + fields.certificateEntryOffset;
  const uint32_t offset = sfx::LoadU32(entry);
  const uint32_t size = sfx::LoadU32(entry + 4);
  if (offset != tableOffset) {
    return Status::Error("the Authenticode signer put its certificate table at " + Hex(offset) +
                         ", not at the 8-byte boundary " + Hex(tableOffset) +
                         " after the closing signature");
  }
  if (size < kMinTableSize || uint64_t{offset} + size != signedFile.size()) {
    return Status::Error("the Authenticode signer's certificate table (" + std::to_string(size) +
                         " bytes at " + Hex(offset) + ") does not end the file");
  }
  size_t at = 0;
  if (!SameOutsideFields(image.data(), signedFile.data(), image.size(), fields, &at)) {
    return Status::Error("the Authenticode signer changed the file at " + Hex(at) +
                         ", beyond the checksum and the certificate entry");
  }
  for (size_t i = image.size(); i < tableOffset; ++i) {
    if (signedFile[i] != 0) return Status::Error("the Authenticode signer padded the file with non-zero bytes");
  }
  *result = signedFile;
  std::memcpy(result->data() + fields.checksumOffset, image.data() + fields.checksumOffset, 4);
  std::memcpy(result->data() + fields.certificateEntryOffset,
              image.data() + fields.certificateEntryOffset, 8);
  *tableSize = size;
  return Status::Ok();
}

namespace {

// The package's closing signature: a binary DSA trailer that verifies with `key`. Its signed
// length on success.
Status CheckClosingSignature(const std::vector<uint8_t>& package, const DsaPrivateKey& key,
                             uint32_t* signedLength) {
  if (package.size() > 0xFFFFFFFFu) return Status::Error("the package is larger than 4 GiB");
  uint8_t signature[sfx::kDsaSignatureSize];
  sfx::SignatureKind kind;
  if (!FindClosingTrailer(package, signature, &kind, signedLength) ||
      kind != sfx::SignatureKind::kBinaryDsa) {
    return Status::Error("the package does not end in a closing binary DSA signature");
  }
  uint32_t verifiedLength = 0;
  if (!HasValidClosingSignature(package, key.pub, &verifiedLength)) {
    return Status::Error("the package's closing signature does not verify with the signer key "
                         "(another key, or the package was changed after signing)");
  }
  return Status::Ok();
}

// One run of the signer over `image` (its certificate entry cleared, as an unsigned file has it:
// the signer's digest leaves the entry out, so its signature holds for the entry the closing
// signature covers). `candidate` is the signer's file with both fields as `image` has them.
Status SignOnce(const std::vector<uint8_t>& image, const PeHeaderFields& fields,
                const std::string& workDir, const AuthenticodeSigner& signer,
                std::vector<uint8_t>* candidate, uint32_t* tableSize) {
  const std::string unsignedPath = workDir + "/unsigned.exe";
  const std::string signedPath = workDir + "/signed.exe";
  std::vector<uint8_t> input = image;
  std::memset(input.data() + fields.certificateEntryOffset, 0, 8);
  std::remove(signedPath.c_str());
  Status status = WriteFileAtomically(unsignedPath, input);
  if (status.ok()) status = signer(unsignedPath, signedPath);
  std::vector<uint8_t> signedFile;
  if (status.ok()) status = ReadWholeFile("the signed file", signedPath, 0xFFFFFFFFull, &signedFile);
  std::remove(unsignedPath.c_str());
  std::remove(signedPath.c_str());
  return status.ok() ? AttachCertificateTable(image, fields, signedFile, candidate, tableSize) : status;
}

}  // namespace

Status AuthenticodeSignPackage(const std::vector<uint8_t>& package, const DsaPrivateKey& key,
                               const std::string& workDir, const AuthenticodeSigner& signer,
                               std::vector<uint8_t>* result, AuthenticodeReport* report) {
  uint32_t signedLength = 0;
  Status status = CheckClosingSignature(package, key, &signedLength);
  PeHeaderFields fields;
  if (status.ok()) status = FindPeHeaderFields(package.data(), signedLength, &fields);
  if (!status.ok()) return status;
  std::vector<uint8_t> image, candidate;
  std::string sizes;
  uint32_t announced = 0;  // unknown before the first run
  for (int run = 1; run <= kMaxSignerRuns; ++run) {
    uint32_t tableSize = 0;
    status = MakeClosingSignedImage(package.data(), signedLength, fields, key, announced, &image);
    if (status.ok()) status = SignOnce(image, fields, workDir, signer, &candidate, &tableSize);
    if (!status.ok()) return status;
    sizes += (sizes.empty() ? "" : ", ") + std::to_string(tableSize);
    if (tableSize == announced) {
      uint32_t checkedLength = 0;
      if (!HasValidClosingSignature(candidate, key.pub, &checkedLength) ||
          checkedLength != signedLength) {
        return Status::Error("internal error: the Authenticode-signed package fails its own closing signature check");
      }
      *result = std::move(candidate);
      report->signedLength = signedLength;
      report->tableOffset = static_cast<uint32_t>(CertificateTableOffset(image.size()));
      report->tableSize = tableSize;
      report->signerRuns = run;
      return Status::Ok();
    }
    announced = tableSize;
  }
  return Status::Error("the Authenticode signer made certificate tables of changing sizes (" + sizes +
                       " bytes); gave up after " + std::to_string(kMaxSignerRuns) + " runs");
}

}  // namespace sfxpack
