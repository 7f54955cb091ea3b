// sfxpack extract: the stub's extraction, natively: setup.ovr (the inflated main program) and
// every listed file, copied unchanged, with their times; --decode gives each listed file as it
// was packed instead: a package file inflated, a raw file without its own signature trailer.
// Every file is written under a temporary name and renamed, so an interrupted extraction leaves
// no partial file under a final name; the package is read in pieces, never whole. Exit 1 only
// for a package the stub refuses; whatever fails on this machine (the folder, a write, a full
// disk) is exit 2.
#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/io/entry_name.h"
#include "sfxstub/signing/md5.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/checked_package.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/package_inflate.h"
#include "tools/sfxpack/progress.h"

namespace sfxpack {

const char kExtractHelp[] =
    "usage: sfxpack extract [--key PUB] [--expect-fingerprint HEX] PACKAGE --to DIR [--decode]\n"
    "                       [--force] [-q]\n"
    "Extracts as the stub does: setup.ovr (the main program) and every listed file as stored.\n"
    "Each file appears whole or not at all.\n"
    "Exit 0: extracted; 1: the stub would refuse the package (the reason is printed) or, with\n"
    "--decode, a listed package file in it is damaged; 2: it can't be read, the key is not the\n"
    "expected one, DIR is no folder, a file can't be written (a full disk), or a usage error.\n"
    "  --key PUB              the key to check with, which the package's stub must carry;\n"
    "                         default: the key the package's stub carries (a warning says\n"
    "                         when it is the repository's TEST key)\n"
    "  --expect-fingerprint HEX  fail (exit 2) unless the key checked with has this fingerprint\n"
    "  --to DIR               the folder to extract into (made if missing)\n"
    "  --decode               each listed file as it was packed: package files inflated, raw\n"
    "                         files without their own signature trailer (kept when it does not\n"
    "                         verify with the key; the summary line says which)\n"
    "  --force                replace files that exist in DIR\n"
    "  -q, --quiet            no progress line\n"
    "  -h, --help             this help\n";

namespace {

const std::vector<OptionDecl> kExtractOptions = {
    {"--key", OptionDecl::kValue},    {"--expect-fingerprint", OptionDecl::kValue},
    {"--to", OptionDecl::kValue},     {"--decode", OptionDecl::kFlag},
    {"--force", OptionDecl::kFlag},   {"-q", OptionDecl::kFlag},
    {"--quiet", OptionDecl::kFlag},
};

constexpr size_t kPieceSize = 1 << 20;

// Copies [offset, offset + size) of `package` to `out` as it is stored, adding it to `md5` when
// given.
Status CopyObject(const InputFile& package, uint64_t offset, uint64_t size, OutputFile* out,
                  Progress* progress, sfx::Md5* md5 = nullptr) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
  for (uint64_t at = 0; at < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, size - at));
    Status status = package.ReadAt(offset + at, buffer.get(), n);
    if (status.ok()) status = out->Write(buffer.get(), n);
    if (!status.ok()) return status;
    if (md5) md5->Update(buffer.get(), n);
    progress->Advance(n);
    at += n;
  }
  return Status::Ok();
}

// How one file is written: as stored, inflated, or as stored without its own binary trailer.
enum class Decode { kNone, kInflate, kDropTrailer };

struct Extraction {
  uint32_t offset, size;
  Decode decode;
  std::string target;
  uint32_t time;
};

// A raw object without its own binary trailer, when that trailer verifies with `key`; otherwise
// whole, as stored. `dropped` says which.
Status CopyWithoutTrailer(const InputFile& package, const Extraction& what,
                          const sfx::DsaPublicKey& key, OutputFile* out, Progress* progress,
                          bool* dropped) {
  *dropped = false;
  uint8_t trailer[sfx::kBinaryTrailerSize];
  if (what.size < sizeof trailer) return CopyObject(package, what.offset, what.size, out, progress);
  const uint32_t content = what.size - static_cast<uint32_t>(sizeof trailer);
  Status status = package.ReadAt(what.offset + content, trailer, sizeof trailer);
  if (!status.ok()) return status;
  if (std::memcmp(trailer + sfx::kDsaSignatureSize, sfx::kBinaryDsaMagic, sfx::kTrailerMagicSize) != 0) {
    return CopyObject(package, what.offset, what.size, out, progress);
  }
  sfx::Md5 md5;
  status = CopyObject(package, what.offset, content, out, progress, &md5);
  if (!status.ok()) return status;
  uint8_t digest[sfx::kMd5DigestSize];
  md5.Final(digest);
  *dropped = sfx::VerifyDsaSignature(digest, trailer, sfx::kDsaSignatureSize, key);
  if (*dropped) return Status::Ok();
  progress->Advance(sizeof trailer);
  return out->Write(trailer, sizeof trailer);
}

// Writes one file. `dropped` (may be null) says whether a raw file's trailer was left out.
Status ExtractOne(const InputFile& package, const Extraction& what, const sfx::DsaPublicKey& key,
                  Progress* progress, bool* dropped) {
  OutputFile out;
  Status status = out.Create(what.target, 0644);
  if (!status.ok()) return status;
  bool droppedHere = false;
  if (what.decode == Decode::kInflate) {
    uint64_t inflated = 0;
    auto sink = [&out](const uint8_t* data, size_t n) { return out.Write(data, n); };
    status = InflateObject(package, what.offset, what.size, sink, &inflated);
    if (status.code() == kExitBad) status = status.Within(what.target + ": ");
    if (status.ok()) progress->Advance(what.size);
  } else if (what.decode == Decode::kDropTrailer) {
    status = CopyWithoutTrailer(package, what, key, &out, progress, &droppedHere);
  } else {
    status = CopyObject(package, what.offset, what.size, &out, progress);
  }
  if (dropped) *dropped = droppedHere;
  if (status.ok()) status = out.SetTime(what.time);
  return status.ok() ? out.Commit(true) : status;
}

// What the stub would refuse, and what would overwrite a file unasked, is refused before the
// first file is written. `last` gets the record of each name that stands on disk in the end.
Status CheckTargets(const sfx::SfxArchive& archive, const std::string& folder, bool force,
                    std::map<std::string, size_t>* last) {
  if (archive.mainSize > sfx::kMaxMainProgramSize) {
    return Status::Bad("the main program is larger than the stub holds: " +
                       DescribeArchiveError(sfx::kErrorNotEnoughMemory));
  }
  // The stub writes names as they stand into its own fresh folder; on this machine a signed but
  // careless package must not write outside the target folder. The stub's own check decides.
  for (const sfx::FileRecord& record : archive.files) {
    if (!sfx::StaysInFolder(record.name) || record.name.find('/') != std::string::npos) {
      return Status::Bad("refusing to extract: the name '" + EscapeName(record.name) +
                         "' would leave the folder (the stub refuses it with " +
                         DescribeArchiveError(sfx::kErrorInvalidParameter) + ")");
    }
  }
  // The last record of a name is what stands on disk; earlier ones are not written at all.
  for (size_t i = 0; i < archive.files.size(); ++i) (*last)[archive.files[i].name] = i;
  if (force) return Status::Ok();
  std::vector<std::string> names = {"setup.ovr"};
  for (const auto& entry : *last) names.push_back(entry.first);
  for (const std::string& name : names) {
    struct stat st;
    const std::string target = sfx::JoinTargetPath(folder, name);
    if (::lstat(target.c_str(), &st) == 0) {
      return Status::Error(target + " already exists (use --force to replace it)");
    }
  }
  return Status::Ok();
}

// What --decode did, for the summary line.
struct DecodeCounts {
  size_t inflated = 0, trailerDropped = 0, asStored = 0;
};

// setup.ovr, then every listed file that stands on disk in the end, in catalog order.
Status ExtractAll(const CheckedPackage& package, const std::string& folder, bool decode,
                  const std::map<std::string, size_t>& last, bool quiet, DecodeCounts* counts) {
  const sfx::SfxArchive& archive = package.archive();
  const sfx::DsaPublicKey& key = package.key()->key;
  uint64_t total = archive.mainSize;
  for (const auto& entry : last) total += archive.files[entry.second].size;
  Progress progress("extract", total, quiet);
  const std::string ovr = sfx::JoinTargetPath(folder, "setup.ovr");
  Status status = ExtractOne(package.file(), {archive.mainOffset, archive.mainSize, Decode::kInflate, ovr, 0},
                             key, &progress, nullptr);
  // A main program that does not inflate is what the stub refuses (exit 1); a failed write is not.
  if (!status.ok()) return status.Within("cannot extract the main program: ");
  // setup.ovr gets the time of extraction, as the stub gives it.
  ::utimensat(AT_FDCWD, ovr.c_str(), nullptr, 0);
  for (size_t i = 0; i < archive.files.size(); ++i) {
    const sfx::FileRecord& record = archive.files[i];
    if (last.at(record.name) != i) continue;
    const bool compressed = IsCompressedObject(package.file(), record.offset, record.size);
    const Decode how = !decode ? Decode::kNone : compressed ? Decode::kInflate : Decode::kDropTrailer;
    bool dropped = false;
    status = ExtractOne(package.file(),
                        {record.offset, record.size, how, sfx::JoinTargetPath(folder, record.name), record.time},
                        key, &progress, &dropped);
    if (!status.ok()) return status;
    if (how == Decode::kInflate) ++counts->inflated;
    if (how == Decode::kDropTrailer) ++(dropped ? counts->trailerDropped : counts->asStored);
  }
  return Status::Ok();
}

// The folder to extract into: made when missing; anything else than a folder is refused.
Status PrepareFolder(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    return Status::Error("--to " + folder + " is not a folder");
  }
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    return Status::Error("cannot create --to " + folder + ": " + std::strerror(errno));
  }
  return Status::Ok();
}

void PrintSummary(const CheckedPackage& package, const std::string& folder, bool decode,
                  const DecodeCounts& counts) {
  std::printf("extracted setup.ovr and %zu listed file(s) to %s\n", package.archive().files.size(),
              folder.c_str());
  if (!decode) return;
  std::printf("--decode: %zu package file(s) inflated, %zu raw file(s) without their own "
              "signature trailer, %zu raw file(s) as stored (no trailer that verifies with the key)\n",
              counts.inflated, counts.trailerDropped, counts.asStored);
}

int RunExtract(const Options& options) {
  if (options.positional().size() != 1 || !options.Has("--to")) {
    return Report(UsageError("extract", "a package and --to DIR are required"));
  }
  const std::string folder = options.Get("--to");
  CheckedPackage package;
  Status status = OpenCheckedPackage(options, "extract", true, &package);
  if (!status.ok()) return Report(status);
  std::printf("key: %s\n", package.key()->Describe().c_str());
  if (package.result() != 0) {
    return Report(Status::Bad(package.path() + " is not a valid package signed with this key: " +
                              package.Refusal()));
  }
  std::map<std::string, size_t> last;
  DecodeCounts counts;
  const bool decode = options.Has("--decode");
  status = CheckTargets(package.archive(), folder, options.Has("--force"), &last);
  if (status.ok()) status = PrepareFolder(folder);
  if (status.ok()) {
    InstallCleanupHandlers();
    status = ExtractAll(package, folder, decode, last, options.quiet(), &counts);
  }
  if (!status.ok()) return Report(status);
  PrintSummary(package, folder, decode, counts);
  return kExitGood;
}

}  // namespace

const Command kExtractCommand = {
    "extract a package as the stub does",
    {"extract", kExtractOptions, kExtractHelp}, RunExtract};

}  // namespace sfxpack
