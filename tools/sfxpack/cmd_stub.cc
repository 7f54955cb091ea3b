// sfxpack stub --key KEY [--arch x86|x64 | --stub GENERIC.exe] -o STUB.exe [--force]: a stub that
// carries KEY's public half, for authors who sign or archive the stub on its own: the generic
// stub (the shipped one for --arch, or --stub) with the key stamped into its key slot, the same
// file, byte for byte, as a build with SFXSTUB_SIGNER_KEY=KEY makes (key_slot.h).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/key_slot.h"
#include "tools/sfxpack/keys.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/pack_checks.h"
#include "tools/sfxpack/shipped_stubs.h"

namespace sfxpack {

const char kStubHelp[] =
    "usage: sfxpack stub --key KEY [--arch x86|x64 | --stub GENERIC.exe] -o STUB.exe [--force]\n"
    "Writes a stub that carries KEY's public half: a generic stub with the key stamped into its\n"
    "key slot (the same file a build with SFXSTUB_SIGNER_KEY=KEY makes). pack takes it as\n"
    "--stub; it accepts only packages signed with KEY's private half.\n"
    "  --key KEY              the key, public or private (only its public half goes in)\n"
    "  --arch x86|x64         the shipped generic stub, 32-bit (x86, the default) or 64-bit\n"
    "  --stub GENERIC.exe     another generic stub (one that carries KEY already is copied)\n"
    "  -o, --output STUB.exe  the stub to write (existing only with --force)\n"
    "  --force                replace an existing output\n"
    "  -h, --help             this help\n";

namespace {

const std::vector<OptionDecl> kStubOptions = {
    {"--key", OptionDecl::kValue},  {"--arch", OptionDecl::kValue},
    {"--stub", OptionDecl::kValue}, {"-o", OptionDecl::kValue},
    {"--output", OptionDecl::kValue}, {"--force", OptionDecl::kFlag},
};

Status WriteKeyedStub(const Options& options) {
  if (!options.positional().empty()) {
    return UsageError("stub", "unexpected argument '" + options.positional().front() + "'");
  }
  if (options.Has("-o") && options.Has("--output")) return UsageError("stub", "-o and --output both given");
  const std::string output = options.Get("-o", options.Get("--output"));
  if (!options.Has("--key") || output.empty()) return UsageError("stub", "--key and -o are required");
  if (options.Has("--stub") && options.Has("--arch")) {
    return UsageError("stub", "--arch picks a shipped stub; with --stub it has nothing to pick");
  }
  InputFile keyFile, stub;
  sfx::DsaPublicKey key;
  Status status = keyFile.Open("--key", options.Get("--key"), kMaxKeyFile);
  if (status.ok()) status = LoadDsaPublicKey(keyFile.path(), &key);
  std::string stubPath = options.Get("--stub");
  if (status.ok() && stubPath.empty()) status = ShippedStubPath(options.Get("--arch"), &stubPath);
  if (status.ok()) status = stub.Open("--stub", stubPath, kMaxStubImage);
  std::vector<uint8_t> image(static_cast<size_t>(stub.size()));
  if (status.ok()) status = stub.ReadAt(0, image.data(), image.size());
  if (status.ok()) status = StampKey(&image, key).Within("--stub " + stubPath + ": ");
  if (status.ok()) status = CheckOutput("-o", output, {&keyFile, &stub}, options.Has("--force"));
  if (status.ok()) status = WriteFileAtomically(output, image.data(), image.size(), 0644, options.Has("--force"));
  if (!status.ok()) return status;
  if (IsRepositoryTestKey(key)) {
    Warn("--key is the repository's TEST key: anyone can sign a package this stub accepts");
  }
  std::printf("%s: %s with the key %s\n", output.c_str(), stubPath.c_str(), KeyFingerprint(key).c_str());
  return Status::Ok();
}

int RunStub(const Options& options) { return Report(WriteKeyedStub(options)); }

}  // namespace

const Command kStubCommand = {
    "write a stub that carries a key (a generic stub with the key stamped in)",
    {"stub", kStubOptions, kStubHelp}, RunStub};

}  // namespace sfxpack
