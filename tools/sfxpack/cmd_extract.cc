// sfxpack extract: the stub's extraction, natively: setup.ovr (the inflated main program) and
// every listed file, copied unchanged, with their times; --decode inflates each listed package
// file to its content instead. Every file is written under a temporary name and renamed, so an
// interrupted extraction leaves no partial file under a final name; the package is read in
// pieces, never whole.
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
#include "tools/sfxpack/checked_package.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/package_inflate.h"
#include "tools/sfxpack/progress.h"

namespace sfxpack {

const char kExtractHelp[] =
    "usage: sfxpack extract [--key PUB] PACKAGE --to DIR [--decode] [--force] [-q]\n"
    "Extracts as the stub does: setup.ovr (the main program) and every listed file as stored.\n"
    "Each file appears whole or not at all.\n"
    "Exit 0: extracted; 1: the stub would refuse the package (the reason is printed); 2: it\n"
    "can't be read or a file can't be written, or a usage error.\n"
    "  --key PUB              the key to check with; default: the key built into this build's stub\n"
    "  --to DIR               the folder to extract into (made if missing)\n"
    "  --decode               inflate listed package files to their content\n"
    "  --force                replace files that exist in DIR\n"
    "  -q, --quiet            no progress line\n"
    "  -h, --help             this help\n";

namespace {

const std::vector<OptionDecl> kExtractOptions = {
    {"--key", OptionDecl::kValue}, {"--to", OptionDecl::kValue}, {"--decode", OptionDecl::kFlag},
    {"--force", OptionDecl::kFlag}, {"-q", OptionDecl::kFlag},    {"--quiet", OptionDecl::kFlag},
};

constexpr size_t kPieceSize = 1 << 20;

// Copies [offset, offset + size) of `package` to `out` as it is stored.
Status CopyObject(const InputFile& package, uint32_t offset, uint32_t size, OutputFile* out,
                  Progress* progress) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
  for (uint64_t at = 0; at < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, size - at));
    Status status = package.ReadAt(offset + at, buffer.get(), n);
    if (status.ok()) status = out->Write(buffer.get(), n);
    if (!status.ok()) return status;
    progress->Advance(n);
    at += n;
  }
  return Status::Ok();
}

// Writes one file: the object copied as stored, or (when `inflate`) its inflated content.
Status ExtractOne(const InputFile& package, uint32_t offset, uint32_t size, bool inflate,
                  const std::string& target, uint32_t time, Progress* progress) {
  OutputFile out;
  Status status = out.Create(target, 0644);
  if (!status.ok()) return status;
  if (inflate) {
    uint64_t inflated = 0;
    auto sink = [&out](const uint8_t* data, size_t n) { return out.Write(data, n); };
    status = InflateObject(package, offset, size, sink, &inflated);
    if (status.code() == kExitBad) status = status.Within(target + ": ");
    if (status.ok()) progress->Advance(size);
  } else {
    status = CopyObject(package, offset, size, &out, progress);
  }
  if (status.ok()) status = out.SetTime(time);
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

// setup.ovr, then every listed file that stands on disk in the end, in catalog order.
Status ExtractAll(const CheckedPackage& package, const std::string& folder, bool decode,
                  const std::map<std::string, size_t>& last, bool quiet) {
  const sfx::SfxArchive& archive = package.archive();
  uint64_t total = archive.mainSize;
  for (const auto& entry : last) total += archive.files[entry.second].size;
  Progress progress("extract", total, quiet);
  const std::string ovr = sfx::JoinTargetPath(folder, "setup.ovr");
  Status status = ExtractOne(package.file(), archive.mainOffset, archive.mainSize, true, ovr, 0,
                             &progress);
  if (!status.ok()) return Status::Bad("cannot extract the main program: " + status.reason());
  // setup.ovr gets the time of extraction, as the stub gives it.
  ::utimensat(AT_FDCWD, ovr.c_str(), nullptr, 0);
  for (size_t i = 0; i < archive.files.size(); ++i) {
    const sfx::FileRecord& record = archive.files[i];
    if (last.at(record.name) != i) continue;
    const bool inflate = decode && IsCompressedObject(package.file(), record.offset, record.size);
    status = ExtractOne(package.file(), record.offset, record.size, inflate,
                        sfx::JoinTargetPath(folder, record.name), record.time, &progress);
    if (!status.ok()) return status;
  }
  return Status::Ok();
}

int RunExtract(const Options& options) {
  if (options.positional().size() != 1 || !options.Has("--to")) {
    return Report(UsageError("extract", "a package and --to DIR are required"));
  }
  const std::string folder = options.Get("--to");
  CheckedPackage package;
  Status status = OpenCheckedPackage(options, "extract", true, &package);
  if (!status.ok()) return Report(status);
  if (package.result() != 0) {
    return Report(Status::Bad(package.path() + " is not a valid package signed with this key: " +
                              package.Refusal()));
  }
  std::map<std::string, size_t> last;
  status = CheckTargets(package.archive(), folder, options.Has("--force"), &last);
  if (!status.ok()) return Report(status);
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    return Report(Status::Error("cannot create " + folder + ": " + std::strerror(errno)));
  }
  InstallCleanupHandlers();
  status = ExtractAll(package, folder, options.Has("--decode"), last, options.quiet());
  if (!status.ok()) return Report(status);
  std::printf("extracted setup.ovr and %zu listed file(s) to %s\n", package.archive().files.size(),
              folder.c_str());
  return kExitGood;
}

}  // namespace

const Command kExtractCommand = {
    "extract a package as the stub does",
    {"extract", kExtractOptions, kExtractHelp}, RunExtract};

}  // namespace sfxpack
