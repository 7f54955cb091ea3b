// sfxpack sign --key KEY --kind binary|text|md5 FILE [-o OUT]: appends a trailer to FILE and
// writes the result to OUT (default: FILE itself, replaced whole, keeping its mode). The md5 kind
// needs no key; it carries a bare digest, which the stub never accepts as a signature. The file
// is read twice in pieces (once to hash, once to copy), never held whole.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/signing/md5.h"
#include "sfxstub/signing/signature_trailer.h"
#include "tools/sfxpack/cli.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/dsa_signer.h"

namespace sfxpack {

const char kSignHelp[] =
    "usage: sfxpack sign --kind binary|text|md5 [--key KEY] FILE [-o OUT] [--force] [-q]\n"
    "Appends a signature trailer to FILE: binary (\"OLMSignd\", DSA over every byte), text\n"
    "(\"OLMSignA\", DSA over the bytes of 0x20..0x7F) or md5 (\"OLM_MD5a\", a bare digest the\n"
    "stub never accepts as a signature; needs no key).\n"
    "  --kind KIND            binary, text or md5\n"
    "  --key KEY              the DSA private key (not for md5)\n"
    "  -o, --output OUT       write the signed file there (never FILE itself; existing only with\n"
    "                         --force); without it FILE is replaced, keeping its mode\n"
    "  --force                replace an existing OUT\n"
    "  --key-pass-file FILE   the passphrase of an encrypted --key (PKCS#8), in FILE's first line\n"
    "  -q, --quiet            no progress line\n"
    "  -h, --help             this help\n";

namespace {

const std::vector<OptionDecl> kSignOptions = {
    {"--key", OptionDecl::kValue},    {"--kind", OptionDecl::kValue},
    {"-o", OptionDecl::kValue},       {"--output", OptionDecl::kValue},
    {"--force", OptionDecl::kFlag},   {"-q", OptionDecl::kFlag},
    {"--quiet", OptionDecl::kFlag},       {"--key-pass-file", OptionDecl::kValue},
};

constexpr size_t kPieceSize = 1 << 20;

// Keeps the bytes of 0x20..0x7F, in order, at the front of the buffer; returns their count.
size_t KeepPrintable(uint8_t* data, size_t size) {
  size_t kept = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] >= 0x20 && data[i] <= 0x7F) data[kept++] = data[i];
  }
  return kept;
}

}  // namespace

int RunSign(int argc, char** argv) {
  Options options;
  std::string error;
  if (!options.Parse(argc, argv, kSignOptions, &error)) return UsageError("sign", error);
  if (options.help()) {
    std::fputs(kSignHelp, stdout);
    return kExitGood;
  }
  if (options.positional().empty()) return UsageError("sign", "sign needs a file");
  if (options.positional().size() > 1) return UsageError("sign", "more than one input file");
  if (options.Has("-o") && options.Has("--output")) return UsageError("sign", "-o and --output both given");
  const std::string path = options.positional().front();
  const std::string kind = options.Get("--kind");
  if (kind != "binary" && kind != "text" && kind != "md5") {
    return UsageError("sign", kind.empty() ? "--kind is required" : "unknown kind '" + kind + "'");
  }
  if (kind != "md5" && !options.Has("--key")) return UsageError("sign", "--key is required for kind " + kind);
  const bool inPlace = !options.Has("-o") && !options.Has("--output");
  const std::string output = inPlace ? path : options.Get("-o", options.Get("--output"));
  const bool force = options.Has("--force");

  InputFile keyFile, input;
  DsaPrivateKey key;
  if (kind != "md5") {
    if (!keyFile.Open("--key", options.Get("--key"), 1 << 20, &error)) return Fail(kExitError, error);
    std::string passText;
    const std::string* passphrase = nullptr;
    if (options.Has("--key-pass-file")) {
      if (!ReadPassphrase(options.Get("--key-pass-file"), &passText, &error)) return Fail(kExitError, error);
      passphrase = &passText;
    }
    if (!LoadDsaPrivateKey(options.Get("--key"), &key, &error, passphrase)) return Fail(kExitError, error);
  }
  const uint32_t trailerSize =
      kind == "text" ? sfx::kTextDsaTrailerSize : sfx::kBinaryTrailerSize;  // md5: 48 as well
  if (!input.Open("FILE", path, 0xFFFFFFFFull - trailerSize, &error)) {
    return Fail(kExitError, error + (error.find("too large") != std::string::npos
                                         ? " (a signed file must stay below 4 GiB)"
                                         : ""));
  }
  if (!inPlace && !CheckOutput("-o", output, {&keyFile, &input}, force, &error)) {
    return Fail(kExitError, error + (error.find("same file") != std::string::npos
                                         ? " (leave out -o to sign FILE in place)"
                                         : ""));
  }

  InstallCleanupHandlers();
  OutputFile out;
  // In place, the file keeps its mode; a new file gets the usual one.
  if (!out.Create(output, inPlace ? input.mode() : 0644, &error)) return Fail(kExitError, error);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
  sfx::Md5 md5;
  {
    Progress progress("sign", input.size(), options.Has("-q") || options.Has("--quiet"));
    // One pass: what is copied is what is hashed, even if the file changes meanwhile.
    for (uint64_t at = 0; at < input.size();) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, input.size() - at));
      if (!input.ReadAt(at, buffer.get(), n, &error) || !out.Write(buffer.get(), n, &error)) {
        return Fail(kExitError, error);
      }
      md5.Update(buffer.get(), kind == "binary" ? n : KeepPrintable(buffer.get(), n));
      progress.Advance(n);
      at += n;
    }
  }
  uint8_t digest[sfx::kMd5DigestSize];
  md5.Final(digest);
  const std::vector<uint8_t> trailer = kind == "binary" ? MakeBinaryTrailerFromDigest(key, digest)
                                       : kind == "text" ? MakeTextDsaTrailerFromDigest(key, digest)
                                                        : MakeTextMd5TrailerFromDigest(digest);
  if (!out.Write(trailer.data(), trailer.size(), &error)) return Fail(kExitError, error);
  if (!out.Commit(inPlace || force, &error)) return Fail(kExitError, error);
  std::printf("%s: %s trailer appended, signed length %llu\n", output.c_str(), kind.c_str(),
              static_cast<unsigned long long>(input.size()));
  return kExitGood;
}

}  // namespace sfxpack
