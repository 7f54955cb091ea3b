// sfxpack verify [--key PUB] FILE: reports the outermost trailer of FILE and whether the stub
// would accept it: exit 0 only for a DSA signature that verifies with the key (default: the key
// built into the stub), 1 for any file the stub refuses, 2 for bad input. A valid package
// without a salt block gets a warning on stderr; the exit code stays what the stub would say.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/signing/signature_trailer.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/file_util.h"
#include "tools/sfxpack/package_salt.h"

namespace sfxpack {
namespace {

constexpr const char* kVerifyUsage = "usage: sfxpack verify [--key PUB] FILE\n";

int Refuse(const std::string& why) {
  std::fprintf(stderr, "sfxpack: %s\n", why.c_str());
  return 2;
}

const char* KindText(sfx::SignatureKind kind) {
  switch (kind) {
    case sfx::SignatureKind::BinaryDsa: return "binary DSA (\"OLMSignd\")";
    case sfx::SignatureKind::TextDsa: return "text DSA (\"OLMSignA\")";
    case sfx::SignatureKind::TextMd5: return "text MD5 (\"OLM_MD5a\")";
  }
  return "unknown";
}

}  // namespace

int RunVerify(int argc, char** argv) {
  std::string keyPath, path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--key") {
      if (i + 1 >= argc) return Refuse(std::string("--key needs a value\n") + kVerifyUsage);
      keyPath = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "sfxpack: unknown option '%s'\n%s", arg.c_str(), kVerifyUsage);
      return 2;
    } else if (path.empty()) {
      path = arg;
    } else {
      std::fprintf(stderr, "sfxpack: more than one file\n%s", kVerifyUsage);
      return 2;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "sfxpack: verify needs a file\n%s", kVerifyUsage);
    return 2;
  }
  sfx::DsaPublicKey key = sfx::SignerPublicKey;
  std::string error;
  if (!keyPath.empty() && !LoadDsaPublicKey(keyPath, &key, &error)) return Refuse(error);

  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Refuse("cannot open " + path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return Refuse("not a regular file: " + path);
  if (static_cast<unsigned long long>(st.st_size) > 0xFFFFFFFFull) {
    return Refuse(path + " is larger than a signed file can be (4 GiB)");
  }

  uint8_t signature[sfx::kDsaSignatureSize];
  sfx::SignatureKind kind;
  uint32_t signedLength = 0;
  if (!sfx::FindSignatureTrailer(path.c_str(), signature, &kind, &signedLength)) {
    std::printf("%s: no signature trailer\nsignature: INVALID (not signed)\n", path.c_str());
    return 1;
  }
  std::printf("%s: %s trailer, signed length %u\n", path.c_str(), KindText(kind), signedLength);
  if (kind == sfx::SignatureKind::TextMd5) {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(path, &data, &error)) return Refuse(error);
    if (data.size() < signedLength) return Refuse(path + " changed while it was read");
    uint8_t digest[sfx::kMd5DigestSize];
    sfx::TextDigest(digest, data.data(), signedLength);
    const bool match = std::memcmp(digest, signature, sizeof(digest)) == 0;
    std::printf("digest: %s\nsignature: INVALID (an MD5 trailer is not a signature)\n",
                match ? "matches" : "MISMATCH");
    return 1;
  }
  const bool valid = sfx::VerifySignedFile(path.c_str(), key);
  std::printf("signature: %s\n", valid ? "valid" : "INVALID");
  if (valid) {
    // Only a package has a place for a salt; any other signed file is not read further.
    sfx::SfxArchive archive(key);
    uint32_t saltAt = 0;
    if (archive.Open(path) == 0 && !PackageHasSalt(path, archive, &saltAt)) {
      std::fprintf(stderr,
                   "sfxpack: warning: %s is a package without a salt block: its MD5-based "
                   "signature does not hold against collisions prepared by whoever supplied its "
                   "files (pack it again without --no-salt)\n",
                   path.c_str());
    }
  }
  return valid ? 0 : 1;
}

}  // namespace sfxpack
