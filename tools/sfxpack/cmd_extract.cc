// sfxpack extract: the stub's extraction, natively: setup.ovr (the inflated main program) and
// every listed file, copied unchanged, with their times. --decode then inflates each extracted
// package file to its content.
#include <sys/stat.h>
#include <utime.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "sfxstub/io/memory_stream.h"
#include "sfxstub/archive/package_file.h"
#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/file_util.h"
#include "tools/sfxpack/package_writer.h"

namespace sfxpack {
namespace {

constexpr const char* kExtractUsage =
    "usage: sfxpack extract [--key PUB] PACKAGE --to DIR [--decode]\n";

int Fail(const std::string& why, int code) {
  std::fprintf(stderr, "sfxpack: %s\n", why.c_str());
  return code;
}

// Replaces the extracted package file at `path` by its inflated content, keeping `time`.
// Files that are not compressed package files are left alone.
bool DecodeInPlace(const std::string& path, uint32_t time, std::string* error) {
  std::vector<uint8_t> stored;
  if (!ReadWholeFile(path, &stored, error)) return false;
  if (stored.size() < sfx::kPackageMagicSize ||
      std::memcmp(stored.data(), sfx::CompressedPackageMagic(), sfx::kPackageMagicSize) != 0) {
    return true;
  }
  sfx::MemoryStream stream;
  uint8_t* content = nullptr;
  uint32_t length = 0;
  if (!stream.Attach(stored.data(), static_cast<uint32_t>(stored.size())) ||
      !sfx::ReadPackageFile(&stream, &content, &length)) {
    *error = path + ": not a valid package file";
    return false;
  }
  bool written = WriteFileAtomically(path, content, length, error);
  delete[] content;
  if (!written) return false;
  struct utimbuf times;
  times.actime = static_cast<time_t>(time);
  times.modtime = static_cast<time_t>(time);
  utime(path.c_str(), &times);
  return true;
}

}  // namespace

int RunExtract(int argc, char** argv) {
  std::string keyPath, path, folder;
  bool decode = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kExtractUsage, stdout);
      return 0;
    } else if (arg == "--decode") {
      decode = true;
    } else if (arg == "--key" && i + 1 < argc) {
      keyPath = argv[++i];
    } else if (arg == "--to" && i + 1 < argc) {
      folder = argv[++i];
    } else if (arg.empty() || arg[0] == '-' || !path.empty()) {
      std::fprintf(stderr, "sfxpack: extract: unexpected argument '%s'\n%s", arg.c_str(),
                   kExtractUsage);
      return 2;
    } else {
      path = arg;
    }
  }
  if (path.empty() || folder.empty()) {
    std::fprintf(stderr, "sfxpack: extract: a package and --to DIR are required\n%s",
                 kExtractUsage);
    return 2;
  }
  sfx::DsaPublicKey key = sfx::SignerPublicKey;
  std::string error;
  if (!keyPath.empty() && !LoadDsaPublicKey(keyPath, &key, &error)) return Fail(error, 2);

  sfx::SfxArchive archive(key);
  int32_t result = archive.Open(path);
  if (result != 0) {
    return Fail(path + " is not a valid package signed with this key (" +
                    archive.LastStatus().ToString() + ")", 1);
  }
  // The stub writes names as they stand into its own fresh folder; on this machine a signed but
  // careless package must not write outside the target folder.
  for (const sfx::FileRecord& record : archive.files) {
    std::string why = CheckFileName(record.name);
    if (!why.empty()) return Fail("refusing to extract: " + why, 1);
  }
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    return Fail("cannot create " + folder + ": " + std::strerror(errno), 2);
  }
  result = archive.ExtractMainProgram(sfx::JoinTargetPath(folder, "setup.ovr"));
  if (result != 0) return Fail("cannot extract the main program (" + archive.LastStatus().ToString() + ")", 1);
  result = archive.ExtractFiles(folder);
  if (result != 0) return Fail("cannot extract the listed files (" + archive.LastStatus().ToString() + ")", 1);

  if (decode) {
    // The last record of a name is what stands on disk.
    std::map<std::string, uint32_t> finalTime;
    for (const sfx::FileRecord& record : archive.files) finalTime[record.name] = record.time;
    for (const auto& entry : finalTime) {
      if (!DecodeInPlace(sfx::JoinTargetPath(folder, entry.first), entry.second, &error)) {
        return Fail(error, 1);
      }
    }
  }
  std::printf("extracted setup.ovr and %zu listed file(s) to %s\n", archive.files.size(),
              folder.c_str());
  return 0;
}

}  // namespace sfxpack
