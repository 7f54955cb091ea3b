// sfxpack sign --key KEY --kind binary|text|md5 FILE [-o OUT]: appends a trailer to FILE and
// writes the result to OUT (default: FILE itself, replaced whole, keeping its mode). The md5 kind
// needs no key; it carries a bare digest, which the stub never accepts as a signature. The file
// is read twice in pieces (once to hash, once to copy), never held whole. A private key is never
// signed: appending to it would damage the key.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/signing/md5.h"
#include "sfxstub/signing/signature_trailer.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_signer.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/keys.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/progress.h"
#include "tools/sfxpack/trailers.h"

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

// What sign was asked to do.
struct SignRequest {
  std::string path;
  std::string kind;  // binary, text or md5
  std::string output;
  bool inPlace = false;
  bool force = false;
};

Status ParseSignRequest(const Options& options, SignRequest* request) {
  if (options.positional().empty()) return UsageError("sign", "sign needs a file");
  if (options.positional().size() > 1) return UsageError("sign", "more than one input file");
  if (options.Has("-o") && options.Has("--output")) return UsageError("sign", "-o and --output both given");
  request->path = options.positional().front();
  request->kind = options.Get("--kind");
  const std::string& kind = request->kind;
  if (kind != "binary" && kind != "text" && kind != "md5") {
    return UsageError("sign", kind.empty() ? "--kind is required" : "unknown kind '" + kind + "'");
  }
  if (kind != "md5" && !options.Has("--key")) return UsageError("sign", "--key is required for kind " + kind);
  request->inPlace = !options.Has("-o") && !options.Has("--output");
  request->output = request->inPlace ? request->path : options.Get("-o", options.Get("--output"));
  request->force = options.Has("--force");
  return Status::Ok();
}

// Copies `input` to `out` in one pass (what is copied is what is hashed, even if the file
// changes meanwhile) and appends the trailer over it.
Status CopyAndSign(const InputFile& input, const std::string& kind, const DsaPrivateKey& key,
                   bool quiet, OutputFile* out) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
  sfx::Md5 md5;
  {
    Progress progress("sign", input.size(), quiet);
    for (uint64_t at = 0; at < input.size();) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceSize, input.size() - at));
      Status status = input.ReadAt(at, buffer.get(), n);
      if (status.ok()) status = out->Write(buffer.get(), n);
      if (!status.ok()) return status;
      if (kind == "binary") {
        md5.Update(buffer.get(), n);
      } else {
        sfx::UpdateText(&md5, buffer.get(), n);
      }
      progress.Advance(n);
      at += n;
    }
  }
  uint8_t digest[sfx::kMd5DigestSize];
  md5.Final(digest);
  const std::vector<uint8_t> trailer = kind == "binary" ? MakeBinaryTrailerFromDigest(key, digest)
                                       : kind == "text" ? MakeTextDsaTrailerFromDigest(key, digest)
                                                        : TextMd5Trailer(digest);
  return out->Write(trailer.data(), trailer.size());
}

int RunSign(const Options& options) {
  SignRequest request;
  Status status = ParseSignRequest(options, &request);
  InputFile keyFile, input;
  DsaPrivateKey key;
  if (status.ok() && request.kind != "md5") status = LoadSigningKey(options, "--key", &keyFile, &key);
  if (!status.ok()) return Report(status);
  const uint32_t trailerSize =
      request.kind == "text" ? sfx::kTextDsaTrailerSize : sfx::kBinaryTrailerSize;  // md5: 48 as well
  status = input.Open("FILE", request.path, 0xFFFFFFFFull - trailerSize);
  if (!status.ok()) {
    return Report(status.With(status.reason().find("too large") != std::string::npos
                                  ? " (a signed file must stay below 4 GiB)" : ""));
  }
  const bool isKeyFile = keyFile.fd() >= 0 && keyFile.device() == input.device() &&
                         keyFile.inode() == input.inode();
  if (isKeyFile || IsPrivateKeyFile(input)) {
    return Report(Status::Error("FILE " + request.path + " is a private key: refusing to sign it "
                                "(sign --kind KIND --key KEY FILE signs FILE with KEY)"));
  }
  if (!request.inPlace) {
    status = CheckOutput("-o", request.output, {&keyFile, &input}, request.force);
    if (!status.ok()) {
      return Report(status.With(status.reason().find("same file") != std::string::npos
                                    ? " (leave out -o to sign FILE in place)" : ""));
    }
  }
  InstallCleanupHandlers();
  OutputFile out;
  // In place, the file keeps its mode; a new file gets the usual one.
  status = out.Create(request.output, request.inPlace ? input.mode() : 0644);
  if (status.ok()) status = CopyAndSign(input, request.kind, key, options.quiet(), &out);
  if (status.ok()) status = out.Commit(request.inPlace || request.force);
  if (!status.ok()) return Report(status);
  std::printf("%s: %s trailer appended, signed length %llu\n", request.output.c_str(),
              request.kind.c_str(), static_cast<unsigned long long>(input.size()));
  return kExitGood;
}

}  // namespace

const Command kSignCommand = {
    "append a signature trailer to a file",
    {"sign", kSignOptions, kSignHelp}, RunSign};

}  // namespace sfxpack
