// sfxpack verify [--key PUB] [--json] FILE: reports the outermost trailer of FILE and whether the
// stub would accept it: exit 0 only for a DSA signature that verifies with the key (default: the
// key built into this build's stub) and, for a package, an archive the reader accepts; 1 for any
// file the stub refuses, with the reason; 2 when FILE or the key can't be read. A valid package
// without a salt block gets a warning on stderr; the exit code stays what the stub would say.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/signing/md5.h"
#include "sfxstub/signing/signature_trailer.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/checked_package.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/package_salt.h"

namespace sfxpack {

const char kVerifyHelp[] =
    "usage: sfxpack verify [--key PUB] [--json] [-q] FILE\n"
    "Checks FILE's signature trailer as the stub does and, for a package, its archive.\n"
    "Exit 0: the signature verifies (and the package's archive is accepted); 1: the stub would\n"
    "refuse it (the reason is printed); 2: FILE or the key can't be read, or a usage error.\n"
    "  --key PUB              the public (or private) key to check with; default: the key built\n"
    "                         into this build's stub\n"
    "  --json                 print one JSON object instead of text (see the README)\n"
    "  -q, --quiet            no progress line (there is none with --json either)\n"
    "  -h, --help             this help\n";

namespace {

// How verify names each trailer kind: in JSON, and in words.
struct KindWords {
  sfx::SignatureKind kind;
  const char* name;
  const char* text;
};

const KindWords& WordsFor(sfx::SignatureKind kind) {
  static const KindWords kWords[] = {
      {sfx::SignatureKind::kBinaryDsa, "binary", "binary DSA (\"OLMSignd\")"},
      {sfx::SignatureKind::kTextDsa, "text", "text DSA (\"OLMSignA\")"},
      {sfx::SignatureKind::kTextMd5, "md5", "text MD5 (\"OLM_MD5a\")"},
  };
  static const KindWords kUnknown = {kind, "unknown", "unknown"};
  for (const KindWords& words : kWords) {
    if (words.kind == kind) return words;
  }
  return kUnknown;
}

// The MD5 of the bytes of 0x20..0x7F in the file's first `length` bytes, read in pieces.
Status TextDigestOfFile(const InputFile& file, uint32_t length, uint8_t digest[16]) {
  constexpr size_t kPiece = 1 << 20;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPiece]);
  sfx::Md5 md5;
  for (uint64_t at = 0; at < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, length - at));
    const Status status = file.ReadAt(at, buffer.get(), n);
    if (!status.ok()) return status;
    sfx::UpdateText(&md5, buffer.get(), n);
    at += n;
  }
  md5.Final(digest);
  return Status::Ok();
}

struct Verdict {
  std::string file;
  sfx::SignatureKind kind = sfx::SignatureKind::kBinaryDsa;
  const char* trailer = nullptr;  // null: none
  uint32_t signedLength = 0;
  std::string verdict;  // valid, no-signature, mismatch, md5-only, package-refused
  std::string reason;
  bool package = false;
  int32_t archiveError = 0;
  std::string archiveErrorText;  // the error's words and the reader's reason
  int salted = -1;  // -1 unknown, 0 no, 1 yes
};

void PrintJson(const Verdict& r) {
  std::printf("{\"file\":%s,\"trailer\":%s,\"signed_length\":%s,\"verdict\":%s,\"reason\":%s,"
              "\"package\":%s,\"archive_error\":%s,\"salted\":%s}\n",
              JsonString(r.file).c_str(),
              r.trailer ? JsonString(r.trailer).c_str() : "null",
              r.trailer ? std::to_string(r.signedLength).c_str() : "null",
              JsonString(r.verdict).c_str(),
              r.reason.empty() ? "null" : JsonString(r.reason).c_str(),
              r.package ? "true" : "false",
              r.archiveError ? ("{\"code\":" + std::to_string(r.archiveError) + ",\"text\":" +
                                JsonString(r.archiveErrorText) + "}").c_str()
                             : "null",
              r.salted < 0 ? "null" : r.salted ? "true" : "false");
}

void PrintText(const Verdict& r) {
  if (!r.trailer) {
    std::printf("%s: no signature trailer\n", r.file.c_str());
  } else {
    std::printf("%s: %s trailer, signed length %u\n", r.file.c_str(), WordsFor(r.kind).text,
                r.signedLength);
  }
  std::printf("signature: %s\n", r.verdict == "valid" || r.verdict == "package-refused"
                                     ? "valid"
                                     : ("INVALID (" + r.reason + ")").c_str());
  if (r.verdict == "package-refused") std::printf("package: REFUSED (%s)\n", r.reason.c_str());
}

// An MD5 trailer carries no signature; whether its digest matches is told all the same.
Status JudgeMd5Trailer(const CheckedPackage& file, const uint8_t trailerDigest[16], Verdict* report) {
  uint8_t digest[sfx::kMd5DigestSize];
  const Status status = TextDigestOfFile(file.file(), report->signedLength, digest);
  if (!status.ok()) return status;
  const bool match = std::memcmp(digest, trailerDigest, sizeof digest) == 0;
  report->verdict = "md5-only";
  report->reason = std::string("an MD5 trailer is not a signature (the digest ") +
                   (match ? "matches" : "does NOT match") + ")";
  return Status::Ok();
}

// A DSA trailer: a package's archive as the stub reads it, any other file's signature alone.
void JudgeDsaTrailer(CheckedPackage* file, Verdict* report) {
  // A package ends its signed part with the archive magic. Taken as a hint only (it is not
  // checked yet), so that a package is hashed once, by the reader, and any other signed file
  // once, by the signature check.
  char magic[sfx::kArchiveMagicSize];
  const bool looksLikePackage =
      report->signedLength >= sfx::kArchiveTrailerSize &&
      file->file().ReadAt(report->signedLength - sfx::kArchiveMagicSize, magic, sizeof magic).ok() &&
      std::memcmp(magic, sfx::kArchiveMagic, sizeof magic) == 0;
  if (looksLikePackage && file->Check().ok()) {
    report->verdict = "valid";
    report->package = true;
    uint32_t saltAt = 0;
    report->salted = PackageHasSalt(file->path(), file->archive(), &saltAt) ? 1 : 0;
  } else if (!file->SignatureGood()) {
    report->verdict = "mismatch";
    report->reason = "signature does not match: signed with another key, or changed after signing";
  } else if (looksLikePackage) {
    report->verdict = "package-refused";
    report->package = true;
    report->archiveError = file->result();
    report->archiveErrorText = file->Refusal();
    report->reason = "the signature is good, but the stub refuses the archive: " +
                     report->archiveErrorText;
  } else {
    report->verdict = "valid";
  }
}

int RunVerify(const Options& options) {
  const bool json = options.Has("--json");
  CheckedPackage file;
  Status status = file.Load(options, "verify", "FILE", json || options.quiet());
  if (!status.ok()) return Report(status);

  Verdict report;
  report.file = file.path();
  uint8_t signature[sfx::kDsaSignatureSize];
  if (!sfx::FindSignatureTrailer(file.path().c_str(), signature, &report.kind, &report.signedLength)) {
    report.verdict = "no-signature";
    report.reason = "no signature: not a package, or truncated";
  } else {
    report.trailer = WordsFor(report.kind).name;
    if (report.kind == sfx::SignatureKind::kTextMd5) {
      status = JudgeMd5Trailer(file, signature, &report);
      if (!status.ok()) return Report(status);
    } else {
      JudgeDsaTrailer(&file, &report);
    }
  }
  if (json) {
    PrintJson(report);
  } else {
    PrintText(report);
  }
  if (report.salted == 0) {
    Warn(file.path() + " is a package without a salt block: its MD5-based signature does not "
         "hold against collisions prepared by whoever supplied its files (pack it again without "
         "--no-salt)");
  }
  return report.verdict == "valid" ? kExitGood : kExitBad;
}

}  // namespace

const Command kVerifyCommand = {
    "check a file's signature (and a package's archive)",
    {"verify", CheckingOptions(), kVerifyHelp}, RunVerify};

}  // namespace sfxpack
