// sfxpack keygen OUT [--force]: a fresh 1024/160 DSA key pair for signing packages, written as
// OUT.pem (PKCS#8 private key, readable by its owner only) and OUT.pub.pem (SubjectPublicKeyInfo),
// both in the PEM form OpenSSL reads, and prints the key's fingerprint. Existing files are kept
// unless --force is given.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"

namespace sfxpack {

const char kKeygenHelp[] =
    "usage: sfxpack keygen OUT[.pem] [--force]\n"
    "Makes a fresh 1024/160 DSA key pair: OUT.pem (the private key, readable by its owner only)\n"
    "and OUT.pub.pem (the public key, for the stub's build and for verify/list/extract), and\n"
    "prints the key's fingerprint (SHA-256 of its DER public key) for --expect-fingerprint.\n"
    "  --force                replace existing key files\n"
    "  -h, --help             this help\n";

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// A usage error: the reason and the help text on stderr.
int Usage(const std::string& why) {
  std::fprintf(stderr, "sfxpack: keygen: %s\n%s", why.c_str(), kKeygenHelp);
  return kExitError;
}

// "mykey" and "mykey.pem" both name the pair mykey.pem, mykey.pub.pem: the name without them.
std::string PairName(std::string out) {
  auto strip = [&out](const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (out.size() <= n || out.compare(out.size() - n, n, suffix) != 0) return false;
    out.resize(out.size() - n);
    return true;
  };
  if (strip(".pem")) strip(".pub");
  return out;
}

// Writes the pair, each whole or not at all; without `force` neither may exist, and a name taken
// meanwhile is left alone. No half of a pair is left behind.
Status WritePair(const DsaPrivateKey& key, const std::string& privatePath,
                 const std::string& publicPath, bool force) {
  const std::string privateText = PrivateKeyToPem(key), publicText = PublicKeyToPem(key.pub);
  Status status = WriteFileAtomically(privatePath, reinterpret_cast<const uint8_t*>(privateText.data()),
                                      privateText.size(), 0600, force);
  if (!status.ok()) return status;
  status = WriteFileAtomically(publicPath, reinterpret_cast<const uint8_t*>(publicText.data()),
                               publicText.size(), 0644, force);
  if (!status.ok()) ::unlink(privatePath.c_str());
  return status;
}

int RunKeygen(const Options& options) {
  if (options.positional().size() != 1) {
    return Usage(options.positional().empty() ? "an output name is needed" : "more than one output name");
  }
  const bool force = options.Has("--force");
  const std::string out = PairName(options.positional().front());
  const std::string privatePath = out + ".pem";
  const std::string publicPath = out + ".pub.pem";
  if (!force) {
    for (const std::string& path : {privatePath, publicPath}) {
      if (Exists(path)) return Report(Status::Error(path + " already exists (use --force to replace it)"));
    }
  }
  DsaPrivateKey key;
  Status status = GenerateDsaKey(&key);
  if (status.ok()) status = WritePair(key, privatePath, publicPath, force);
  if (!status.ok()) return Report(status);
  std::printf("wrote %s (private key, keep it secret) and %s (public key)\n", privatePath.c_str(),
              publicPath.c_str());
  const std::string fingerprint = KeyFingerprint(key.pub);
  std::printf("fingerprint: %s\n(SHA-256 of the DER public key; pin it when checking: sfxpack verify "
              "--expect-fingerprint %s PACKAGE)\n", fingerprint.c_str(), fingerprint.c_str());
  return kExitGood;
}

}  // namespace

const Command kKeygenCommand = {
    "make a DSA key pair for signing packages",
    {"keygen", {{"--force", OptionDecl::kFlag}}, kKeygenHelp}, RunKeygen};

}  // namespace sfxpack
