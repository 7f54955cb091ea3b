// sfxpack sign --key KEY --kind binary|text|md5 FILE [-o OUT]: appends a trailer to FILE and
// writes the result to OUT (default: FILE itself, replaced atomically). The md5 kind needs no
// key; it carries a bare digest, which the stub never accepts as a signature.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "sfxstub/signing/signature_trailer.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/file_util.h"

namespace sfxpack {
namespace {

constexpr const char* kSignUsage = "usage: sfxpack sign --key KEY --kind binary|text|md5 FILE [-o OUT]\n";

int Refuse(const std::string& why) {
  std::fprintf(stderr, "sfxpack: %s\n", why.c_str());
  return 2;
}

int UsageError(const std::string& why) {
  std::fprintf(stderr, "sfxpack: %s\n%s", why.c_str(), kSignUsage);
  return 2;
}

}  // namespace

int RunSign(int argc, char** argv) {
  std::string keyPath, kind, input, output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--key" || arg == "--kind" || arg == "-o") {
      if (!hasValue) return UsageError(arg + " needs a value");
      (arg == "--key" ? keyPath : arg == "--kind" ? kind : output) = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else if (input.empty()) {
      input = arg;
    } else {
      return UsageError("more than one input file");
    }
  }
  if (input.empty()) return UsageError("sign needs a file");
  if (kind != "binary" && kind != "text" && kind != "md5") {
    return UsageError(kind.empty() ? "--kind is required" : "unknown kind '" + kind + "'");
  }
  if (kind != "md5" && keyPath.empty()) return UsageError("--key is required for kind " + kind);
  if (output.empty()) output = input;

  std::string error;
  DsaPrivateKey key;
  if (kind != "md5" && !LoadDsaPrivateKey(keyPath, &key, &error)) return Refuse(error);
  std::vector<uint8_t> data;
  if (!ReadWholeFile(input, &data, &error)) return Refuse(error);

  std::vector<uint8_t> trailer;
  try {
    if (kind == "binary") {
      trailer = MakeBinaryTrailer(key, data.data(), data.size());
    } else if (kind == "text") {
      trailer = MakeTextDsaTrailer(key, data.data(), data.size());
    } else {
      trailer = MakeTextMd5Trailer(data.data(), data.size());
    }
  } catch (const std::length_error&) {
    return Refuse(input + " is too large to sign (a signed file must stay below 4 GiB)");
  }
  const size_t signedLength = data.size();
  data.insert(data.end(), trailer.begin(), trailer.end());
  if (!WriteFileAtomically(output, data, &error)) return Refuse(error);
  std::printf("%s: %s trailer appended, signed length %zu\n", output.c_str(), kind.c_str(), signedLength);
  return 0;
}

}  // namespace sfxpack
