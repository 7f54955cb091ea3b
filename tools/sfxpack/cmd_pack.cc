// sfxpack pack: builds a signed self-extract package from a stub, a main program and the files
// to list, and writes it atomically. The package carries a secret salt block in front of
// everything supplied (package_salt.h) unless --no-salt asks for one without.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/file_util.h"
#include "tools/sfxpack/package_salt.h"
#include "tools/sfxpack/package_writer.h"

namespace sfxpack {
namespace {

constexpr const char* kPackUsage =
    "usage: sfxpack pack --stub STUB.exe --key KEY --main SETUP.exe [--file NAME=PATH ...] "
    "[--raw NAME=PATH ...] [--allow-duplicates] [--no-salt] --cmdline TEMPLATE -o PACKAGE.exe\n"
    "  --no-salt  leave out the salt block (for comparison only: without it, whoever supplies a\n"
    "             file can prepare an MD5 collision that survives the signature)\n";

int Refuse(const std::string& why) {
  std::fprintf(stderr, "sfxpack: %s\n", why.c_str());
  return 2;
}

int UsageError(const std::string& why) {
  std::fprintf(stderr, "sfxpack: %s\n%s", why.c_str(), kPackUsage);
  return 2;
}

// The file's modification time as the catalog stores it: seconds since 1970 in a u32. Times
// outside what a u32 holds are refused rather than silently wrapped.
bool ModificationTime(const std::string& path, uint32_t* time, std::string* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    *error = "cannot stat " + path + ": " + std::strerror(errno);
    return false;
  }
  if (st.st_mtime < 0 || static_cast<unsigned long long>(st.st_mtime) > 0xFFFFFFFFull) {
    *error = "modification time of " + path + " does not fit the catalog (1970..2106)";
    return false;
  }
  *time = static_cast<uint32_t>(st.st_mtime);
  return true;
}

struct FileArg {
  std::string name;
  std::string path;
  PackageInput::Kind kind;
};

}  // namespace

int RunPack(int argc, char** argv) {
  std::string stubPath, keyPath, mainPath, output, commandTemplate;
  bool haveTemplate = false;
  bool allowDuplicates = false;
  bool salted = true;
  std::vector<FileArg> fileArgs;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--allow-duplicates") {
      allowDuplicates = true;
      continue;
    }
    if (arg == "--no-salt") {
      salted = false;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(kPackUsage, stdout);
      return 0;
    }
    if (arg != "--stub" && arg != "--key" && arg != "--main" && arg != "--file" &&
        arg != "--raw" && arg != "--cmdline" && arg != "-o") {
      return UsageError("pack: unknown argument '" + arg + "'");
    }
    if (i + 1 >= argc) return UsageError("pack: " + arg + " needs a value");
    std::string value = argv[++i];
    if (arg == "--stub") {
      stubPath = value;
    } else if (arg == "--key") {
      keyPath = value;
    } else if (arg == "--main") {
      mainPath = value;
    } else if (arg == "-o") {
      output = value;
    } else if (arg == "--cmdline") {
      commandTemplate = value;
      haveTemplate = true;
    } else {
      size_t eq = value.find('=');
      if (eq == std::string::npos || eq + 1 == value.size()) {
        return UsageError("pack: " + arg + " wants NAME=PATH, got '" + value + "'");
      }
      fileArgs.push_back({value.substr(0, eq), value.substr(eq + 1),
                          arg == "--raw" ? PackageInput::Kind::kRaw : PackageInput::Kind::kPackage});
    }
  }
  if (stubPath.empty()) return UsageError("pack: --stub is required");
  if (keyPath.empty()) return UsageError("pack: --key is required");
  if (mainPath.empty()) return UsageError("pack: --main is required");
  if (!haveTemplate) return UsageError("pack: --cmdline is required");
  if (output.empty()) return UsageError("pack: -o is required");

  std::string error;
  DsaPrivateKey key;
  if (!LoadDsaPrivateKey(keyPath, &key, &error)) return Refuse(error);

  PackageInput input;
  input.commandTemplate = commandTemplate;
  input.allowDuplicates = allowDuplicates;
  if (!ReadWholeFile(stubPath, &input.stub, &error)) return Refuse(error);
  if (!ReadWholeFile(mainPath, &input.mainProgram, &error)) return Refuse(error);
  for (const FileArg& arg : fileArgs) {
    PackageInput::File file;
    file.name = arg.name;
    file.kind = arg.kind;
    std::string why = CheckFileName(arg.name);
    if (!why.empty()) return Refuse(why);
    if (!ReadWholeFile(arg.path, &file.data, &error)) return Refuse(error);
    if (!ModificationTime(arg.path, &file.time, &error)) return Refuse(error);
    input.files.push_back(std::move(file));
  }

  if (salted) input.salt = DerivePackageSalt(key, input);

  std::vector<uint8_t> package;
  TrailerSigner signer = [&key](const uint8_t* data, size_t length) {
    return MakeBinaryTrailer(key, data, length);
  };
  if (!BuildPackage(input, signer, &package, &error)) return Refuse(error);
  if (!WriteFileAtomically(output, package, &error)) return Refuse(error);
  std::printf("%s: %zu bytes, %zu listed file(s), %s\n", output.c_str(), package.size(),
              input.files.size(), salted ? "salted" : "NOT salted (--no-salt)");
  return 0;
}

}  // namespace sfxpack
