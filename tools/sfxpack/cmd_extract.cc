// sfxpack extract: the stub's extraction, natively: setup.ovr (the inflated main program) and
// every listed file, copied unchanged, with their times; --decode inflates each listed package
// file to its content instead. Every file is written under a temporary name and renamed, so an
// interrupted extraction leaves no partial file under a final name; the package is read in
// pieces, never whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/io/entry_name.h"
#include "sfxstub/archive/sfx_archive.h"
#include "tools/sfxpack/cli.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/package_inflate.h"

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

// Writes one file: the object copied as stored, or (when `inflate`) its inflated content.
bool ExtractOne(const InputFile& package, uint32_t offset, uint32_t size, bool inflate,
                const std::string& target, uint32_t time, Progress* progress,
                std::string* error) {
  OutputFile out;
  if (!out.Create(target, 0644, error)) return false;
  if (inflate) {
    uint64_t inflated = 0;
    std::string why;
    auto sink = [&](const uint8_t* data, size_t n) { return out.Write(data, n, error); };
    if (!InflateObject(package, offset, size, sink, &inflated, &why)) {
      if (error->empty()) *error = target + ": " + why;
      return false;
    }
    progress->Advance(size);
  } else {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
    for (uint64_t at = 0; at < size;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, size - at));
      if (!package.ReadAt(offset + at, buffer.get(), n, error) ||
          !out.Write(buffer.get(), n, error)) {
        return false;
      }
      progress->Advance(n);
      at += n;
    }
  }
  return out.SetTime(time, error) && out.Commit(true, error);
}

}  // namespace

int RunExtract(int argc, char** argv) {
  Options options;
  std::string error;
  if (!options.Parse(argc, argv, kExtractOptions, &error)) return UsageError("extract", error);
  if (options.help()) {
    std::fputs(kExtractHelp, stdout);
    return kExitGood;
  }
  if (options.positional().size() != 1 || !options.Has("--to")) {
    return UsageError("extract", "a package and --to DIR are required");
  }
  const std::string path = options.positional().front();
  const std::string folder = options.Get("--to");
  const bool decode = options.Has("--decode");
  const bool force = options.Has("--force");

  sfx::DsaPublicKey key;
  if (!LoadCheckingKey(options, &key, &error)) return Fail(kExitError, error);
  InputFile package;
  if (!package.Open("PACKAGE", path, 0xFFFFFFFFull, &error)) return Fail(kExitError, error);

  sfx::SfxArchive archive(key);
  int32_t result = archive.Open(path);
  if (result == 0 && package.size() < archive.SignedLength()) result = sfx::kErrorFileInvalid;
  if (result != 0) {
    return Fail(kExitBad, path + " is not a valid package signed with this key: " +
                              DescribeArchiveError(result, archive.LastStatus()));
  }
  if (archive.mainSize > sfx::kMaxMainProgramSize) {
    return Fail(kExitBad, "the main program is larger than the stub holds: " +
                              DescribeArchiveError(sfx::kErrorNotEnoughMemory));
  }
  // The stub writes names as they stand into its own fresh folder; on this machine a signed but
  // careless package must not write outside the target folder. The stub's own check decides.
  for (const sfx::FileRecord& record : archive.files) {
    if (!sfx::StaysInFolder(record.name) || record.name.find('/') != std::string::npos) {
      return Fail(kExitBad, "refusing to extract: the name '" + EscapeName(record.name) +
                                "' would leave the folder (the stub refuses it with " +
                                DescribeArchiveError(sfx::kErrorInvalidParameter) + ")");
    }
  }
  // The last record of a name is what stands on disk; earlier ones are not written at all.
  std::map<std::string, size_t> last;
  for (size_t i = 0; i < archive.files.size(); ++i) last[archive.files[i].name] = i;
  if (!force) {
    std::vector<std::string> names = {"setup.ovr"};
    for (const auto& entry : last) names.push_back(entry.first);
    for (const std::string& name : names) {
      struct stat st;
      const std::string target = sfx::JoinTargetPath(folder, name);
      if (::lstat(target.c_str(), &st) == 0) {
        return Fail(kExitError, target + " already exists (use --force to replace it)");
      }
    }
  }
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    return Fail(kExitError, "cannot create " + folder + ": " + std::strerror(errno));
  }

  InstallCleanupHandlers();
  uint64_t total = archive.mainSize;
  for (const auto& entry : last) total += archive.files[entry.second].size;
  Progress progress("extract", total, options.Has("-q") || options.Has("--quiet"));
  if (!ExtractOne(package, archive.mainOffset, archive.mainSize, true,
                  sfx::JoinTargetPath(folder, "setup.ovr"), 0, &progress, &error)) {
    return Fail(kExitBad, "cannot extract the main program: " + error);
  }
  // setup.ovr gets the time of extraction, as the stub gives it.
  const std::string ovr = sfx::JoinTargetPath(folder, "setup.ovr");
  ::utimensat(AT_FDCWD, ovr.c_str(), nullptr, 0);
  for (size_t i = 0; i < archive.files.size(); ++i) {
    const sfx::FileRecord& record = archive.files[i];
    if (last[record.name] != i) continue;
    const bool inflate = decode && IsCompressedObject(package, record.offset, record.size);
    if (!ExtractOne(package, record.offset, record.size, inflate,
                    sfx::JoinTargetPath(folder, record.name), record.time, &progress, &error)) {
      return Fail(inflate ? kExitBad : kExitError, error);
    }
  }
  std::printf("extracted setup.ovr and %zu listed file(s) to %s\n", archive.files.size(),
              folder.c_str());
  return kExitGood;
}

}  // namespace sfxpack
