// sfxpack authenticode: adds an Authenticode signature (made by osslsigncode) to a package and
// makes its closing DSA signature again so that it covers the header as the Authenticode signer
// leaves it. The result passes both the stub's check and Windows' Authenticode check.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/sfxpack/authenticode.h"
#include "tools/sfxpack/authenticode_osslsigncode.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/file_util.h"

namespace sfxpack {
namespace {

constexpr const char* kAuthenticodeUsage =
    "usage: sfxpack authenticode (--cert CERT --key KEY | --pkcs12 P12) [--pass PASS | --readpass FILE]\n"
    "           [-n NAME] [-i URL] [-h ALG] [-t URL ...] [-ts URL ...] [-p PROXY] [--ac CROSSCERT]\n"
    "           [--tsa-certs CERT --tsa-key KEY [--tsa-time T]] [--time T] [--comm] [--noverifypeer]\n"
    "           [--osslsigncode PATH] --signer-key DSAKEY PACKAGE -o OUT\n";

// Options that pass through to "osslsigncode sign" with a value: our spelling, osslsigncode's.
// osslsigncode's own spelling is accepted as well.
struct PassThrough {
  const char* ours;
  const char* theirs;
};
const PassThrough kValueOptions[] = {
    {"--cert", "-certs"},         {"--key", "-key"},         {"--pkcs12", "-pkcs12"},
    {"--pass", "-pass"},          {"--readpass", "-readpass"}, {"-n", "-n"},
    {"-i", "-i"},                 {"-h", "-h"},              {"-t", "-t"},
    {"-ts", "-ts"},               {"-p", "-p"},              {"--ac", "-ac"},
    {"--tsa-certs", "-TSA-certs"}, {"--tsa-key", "-TSA-key"}, {"--tsa-time", "-TSA-time"},
    {"--time", "-time"},
};
const PassThrough kFlagOptions[] = {
    {"--comm", "-comm"},
    {"--noverifypeer", "-noverifypeer"},
};

const char* Lookup(const PassThrough* table, size_t count, const std::string& arg) {
  for (size_t i = 0; i < count; ++i) {
    if (arg == table[i].ours || arg == table[i].theirs) return table[i].theirs;
  }
  return nullptr;
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "sfxpack: authenticode: %s\n", why.c_str());
  return 2;
}

int UsageError(const std::string& why) {
  std::fprintf(stderr, "sfxpack: authenticode: %s\n%s", why.c_str(), kAuthenticodeUsage);
  return 2;
}

bool Has(const std::vector<std::string>& options, const char* name) {
  for (size_t i = 0; i < options.size(); i += 2) {
    if (options[i] == name) return true;
  }
  return false;
}

}  // namespace

int RunAuthenticode(int argc, char** argv) {
  OsslsigncodeOptions tool;
  std::vector<std::string> valued;  // name, value pairs, to check what was given
  std::string signerKeyPath, input, output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (const char* theirs = Lookup(kValueOptions, sizeof kValueOptions / sizeof *kValueOptions, arg)) {
      if (!hasValue) return UsageError(arg + " needs a value");
      const std::string value = argv[++i];
      // osslsigncode runs more than once, and standard input can be read only once.
      if (std::string(theirs) == "-readpass" && value == "-")
        return UsageError("--readpass needs a file: the password is read on every signing run");
      tool.signOptions.insert(tool.signOptions.end(), {theirs, value});
      valued.insert(valued.end(), {theirs, value});
    } else if (const char* flag = Lookup(kFlagOptions, sizeof kFlagOptions / sizeof *kFlagOptions, arg)) {
      tool.signOptions.push_back(flag);
    } else if (arg == "--signer-key" || arg == "-o" || arg == "--osslsigncode") {
      if (!hasValue) return UsageError(arg + " needs a value");
      (arg == "--signer-key" ? signerKeyPath : arg == "-o" ? output : tool.program) = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else if (input.empty()) {
      input = arg;
    } else {
      return UsageError("more than one package");
    }
  }
  if (input.empty()) return UsageError("a package is needed");
  if (output.empty()) return UsageError("-o OUT is required");
  if (signerKeyPath.empty()) {
    return UsageError(
        "--signer-key DSAKEY is required: the package's closing DSA signature is made again over "
        "the header the Authenticode signature changes");
  }
  const bool certAndKey = Has(valued, "-certs") && Has(valued, "-key");
  if (certAndKey == Has(valued, "-pkcs12")) {
    return UsageError("give the Authenticode certificate and key as --cert CERT --key KEY, "
                      "or as --pkcs12 P12 (not both)");
  }

  std::string error;
  DsaPrivateKey key;
  if (!LoadDsaPrivateKey(signerKeyPath, &key, &error)) return Refuse(error);
  std::vector<uint8_t> package;
  if (!ReadWholeFile(input, &package, &error)) return Refuse(error);
  PrivateTempDir work;
  if (!work.Create(&error)) return Refuse(error);

  std::vector<uint8_t> result;
  AuthenticodeReport report;
  if (!AuthenticodeSignPackage(package, key, work.path(), MakeOsslsigncodeSigner(tool, work.path()),
                               &result, &report, &error)) {
    return Refuse(input + ": " + error);
  }
  if (!WriteFileAtomically(output, result, &error)) return Refuse(error);
  std::printf("%s: closing signature at %u, certificate table of %u bytes at %u (%d signing runs)\n",
              output.c_str(), report.signedLength, report.tableSize, report.tableOffset,
              report.signerRuns);
  return 0;
}

}  // namespace sfxpack
