// sfxpack verify [--key PUB] [--expect-fingerprint HEX] [--json] FILE: reports the outermost
// trailer of FILE, the key it is checked with, and whether the stub would accept it: exit 0 only
// for a DSA signature that verifies with the key (ChooseCheckingKey, keys.h: --key, or the key
// FILE's stub carries) and, for a package, an archive the reader accepts under a stub that
// carries that key; 1 for any file the stub refuses, with the reason; 2 when FILE or the key
// can't be read or is not the one expected. A
// valid package without a salt block gets a warning on stderr; the exit code stays what the
// stub would say.
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
#include "tools/sfxpack/json_object.h"
#include "tools/sfxpack/keys.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/package_salt.h"

namespace sfxpack {

const char kVerifyHelp[] =
    "usage: sfxpack verify [--key PUB] [--expect-fingerprint HEX] [--json] [-q] FILE\n"
    "Checks FILE's signature trailer as the stub does and, for a package, its archive and that\n"
    "its stub carries the key. Prints the key's fingerprint (SHA-256 of its DER public key).\n"
    "Exit 0: the signature verifies (and the package's archive is accepted); 1: the stub would\n"
    "refuse it (the reason is printed); 2: FILE or the key can't be read, the key is not the\n"
    "expected one, or a usage error.\n"
    "  --key PUB              the public (or private) key to check with; default: the key the\n"
    "                         package's stub carries (a warning says when it is the\n"
    "                         repository's TEST key); a file without a stub needs --key\n"
    "  --expect-fingerprint HEX  fail (exit 2) unless the key checked with has this fingerprint\n"
    "  --json                 print one JSON object instead of text, also on errors (sfxpack(1))\n"
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
  bool package = false;  // the archive trailer ends the signed content
  int32_t archiveError = 0;
  std::string archiveErrorText;  // the error's words and the reader's reason
  int salted = -1;  // -1 unknown, 0 no, 1 yes
};

void PrintJson(const Verdict& r, const CheckingKey& key, int exitCode) {
  JsonObject json;
  json.String("file", r.file)
      .Raw("trailer", r.trailer ? JsonString(r.trailer) : "null")
      .Raw("signed_length", r.trailer ? std::to_string(r.signedLength) : "null")
      .String("verdict", r.verdict)
      .StringOrNull("reason", r.reason)
      .Bool("package", r.package)
      .Raw("archive_error", r.archiveError ? JsonObject()
                                                 .Number("code", r.archiveError)
                                                 .String("text", r.archiveErrorText)
                                                 .Text()
                                           : "null")
      .Raw("salted", r.salted < 0 ? "null" : r.salted ? "true" : "false")
      .Raw("key", KeyJson(&key))
      .StringOrNull("error", exitCode ? r.reason : "")
      .Number("exit", exitCode)
      .Print();
}

void PrintText(const Verdict& r, const CheckingKey& key) {
  if (!r.trailer) {
    std::printf("%s: no signature trailer\n", r.file.c_str());
  } else {
    std::printf("%s: %s trailer, signed length %u\n", r.file.c_str(), WordsFor(r.kind).text,
                r.signedLength);
  }
  std::printf("key: %s\n", key.Describe().c_str());
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
// A package is hashed once, by the reader, and any other signed file once, by the signature
// check; a refused package a second time, to tell a bad signature from a refused archive.
Status JudgeDsaTrailer(CheckedPackage* file, Verdict* report) {
  if (report->package) {
    const Status status = file->Check();
    if (!status.ok()) return status;
    if (file->result() == 0) {
      report->verdict = "valid";
      uint32_t saltAt = 0;
      report->salted = PackageHasSalt(file->path(), file->archive(), &saltAt) ? 1 : 0;
      return Status::Ok();
    }
    report->archiveError = file->result();
    report->archiveErrorText = file->Refusal();
  }
  if (!file->SignatureGood()) {
    report->verdict = "mismatch";
    report->reason = "signature does not match: signed with another key, or changed after signing";
  } else if (report->package) {
    report->verdict = "package-refused";
    report->reason = "the signature is good, but the stub refuses the archive: " +
                     report->archiveErrorText;
  } else {
    report->verdict = "valid";
  }
  return Status::Ok();
}

// Whether the signed content ends with the archive trailer's magic: then the file is a package
// (the magic is taken as a hint only; the reader checks everything else).
bool EndsWithArchiveTrailer(const InputFile& file, uint32_t signedLength) {
  char magic[sfx::kArchiveMagicSize];
  return signedLength >= sfx::kArchiveTrailerSize &&
         file.ReadAt(signedLength - sfx::kArchiveMagicSize, magic, sizeof magic).ok() &&
         std::memcmp(magic, sfx::kArchiveMagic, sizeof magic) == 0;
}

// The verdict on the file `file` has loaded. Fails only where the file can't be read.
Status Judge(CheckedPackage* file, Verdict* report) {
  report->file = file->path();
  uint8_t signature[sfx::kDsaSignatureSize];
  if (!sfx::FindSignatureTrailer(file->path().c_str(), signature, &report->kind,
                                 &report->signedLength)) {
    report->verdict = "no-signature";
    report->reason = "no signature: not a package, or truncated";
    return Status::Ok();
  }
  report->trailer = WordsFor(report->kind).name;
  report->package = EndsWithArchiveTrailer(file->file(), report->signedLength);
  return report->kind == sfx::SignatureKind::kTextMd5 ? JudgeMd5Trailer(*file, signature, report)
                                                     : JudgeDsaTrailer(file, report);
}

int RunVerify(const Options& options) {
  const bool json = options.Has("--json");
  CheckedPackage file;
  Verdict report;
  Status status = file.Load(options, "verify", "FILE", json || options.quiet());
  if (status.ok()) status = Judge(&file, &report);
  if (!status.ok()) return ReportFailure(file, status, json);
  const int exitCode = report.verdict == "valid" ? kExitGood : kExitBad;
  if (json) {
    PrintJson(report, *file.key(), exitCode);
  } else {
    PrintText(report, *file.key());
  }
  if (report.salted == 0) {
    Warn(file.path() + " is a package without a salt block: its MD5-based signature does not "
         "hold against collisions prepared by whoever supplied its files (pack it again without "
         "--no-salt)");
  }
  return exitCode;
}

}  // namespace

const Command kVerifyCommand = {
    "check a file's signature (and a package's archive)",
    {"verify", CheckingOptions(), kVerifyHelp}, RunVerify};

}  // namespace sfxpack
