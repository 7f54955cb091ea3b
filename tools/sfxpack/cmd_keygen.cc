// sfxpack keygen OUT [--force]: a fresh 1024/160 DSA key pair for signing packages, written as
// OUT.pem (PKCS#8 private key, readable by its owner only) and OUT.pub.pem (SubjectPublicKeyInfo),
// both in the PEM form OpenSSL reads. Existing files are kept unless --force is given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/sfxpack/cli.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"

namespace sfxpack {

const char kKeygenHelp[] =
    "usage: sfxpack keygen OUT[.pem] [--force]\n"
    "Makes a fresh 1024/160 DSA key pair: OUT.pem (the private key, readable by its owner only)\n"
    "and OUT.pub.pem (the public key, for the stub's build and for verify/list/extract).\n"
    "  --force                replace existing key files\n"
    "  -h, --help             this help\n";

namespace {


int Refuse(const std::string& why) {
  std::fprintf(stderr, "sfxpack: %s\n", why.c_str());
  return 2;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Writes `text` through a temporary file created with `mode`, then moves it into place: by
// rename when replacing is allowed, otherwise by link, which fails if the name was taken in the
// meantime. On failure nothing is left behind.
bool WriteKeyFile(const std::string& path, const std::string& text, mode_t mode, bool replace,
                  std::string* error) {
  std::string temp = path + ".tmp-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());  // mode 0600
  if (fd < 0) {
    *error = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  bool ok = ::fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    ok = put > 0;
    if (ok) done += static_cast<size_t>(put);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) {
    ok = replace ? ::rename(name.data(), path.c_str()) == 0 : ::link(name.data(), path.c_str()) == 0;
    if (!ok) {
      *error = "cannot write " + path + ": " + std::strerror(errno);
      ::unlink(name.data());
      return false;
    }
    if (!replace) ::unlink(name.data());
    return true;
  }
  *error = "cannot write " + path + ": " + std::strerror(errno);
  ::unlink(name.data());
  return false;
}

}  // namespace

int RunKeygen(int argc, char** argv) {
  Options options;
  std::string error;
  if (!options.Parse(argc, argv, {{"--force", OptionDecl::kFlag}}, &error)) {
    std::fprintf(stderr, "sfxpack: keygen: %s\n%s", error.c_str(), kKeygenHelp);
    return kExitError;
  }
  if (options.help()) {
    std::fputs(kKeygenHelp, stdout);
    return kExitGood;
  }
  if (options.positional().size() != 1) {
    std::fprintf(stderr, "sfxpack: keygen: %s\n%s",
                 options.positional().empty() ? "an output name is needed" : "more than one output name",
                 kKeygenHelp);
    return kExitError;
  }
  const bool force = options.Has("--force");
  // "mykey" and "mykey.pem" both name the pair mykey.pem, mykey.pub.pem.
  std::string out = options.positional().front();
  auto strip = [&out](const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (out.size() <= n || out.compare(out.size() - n, n, suffix) != 0) return false;
    out.resize(out.size() - n);
    return true;
  };
  if (strip(".pem")) strip(".pub");
  const std::string privatePath = out + ".pem";
  const std::string publicPath = out + ".pub.pem";
  if (!force) {
    for (const std::string& path : {privatePath, publicPath}) {
      if (Exists(path)) return Refuse(path + " already exists (use --force to replace it)");
    }
  }

  DsaPrivateKey key;
  if (!GenerateDsaKey(&key, &error)) return Refuse(error);
  if (!WriteKeyFile(privatePath, PrivateKeyToPem(key), 0600, force, &error)) return Refuse(error);
  if (!WriteKeyFile(publicPath, PublicKeyToPem(key.pub), 0644, force, &error)) {
    ::unlink(privatePath.c_str());  // no half of a pair left behind
    return Refuse(error);
  }
  std::printf("wrote %s (private key, keep it secret) and %s (public key)\n", privatePath.c_str(),
              publicPath.c_str());
  return 0;
}

}  // namespace sfxpack
