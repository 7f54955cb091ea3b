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
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/keys.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"

namespace sfxpack {

const char kAuthenticodeHelp[] =
    "usage: sfxpack authenticode (--cert CERT --key KEY | --pkcs12 P12) [--pass PASS | --readpass FILE]\n"
    "           [-n NAME] [-i URL] [--hash ALG] [-t URL ...] [-ts URL ...] [-p PROXY] [--ac CROSSCERT]\n"
    "           [--tsa-certs CERT --tsa-key KEY [--tsa-time T]] [--time T] [--comm] [--noverifypeer]\n"
    "           [--osslsigncode PATH] --signer-key DSAKEY PACKAGE -o OUT [--force]\n"
    "Adds an Authenticode signature (made by osslsigncode) to a finished package and makes its\n"
    "closing DSA signature again over the header that signature changes. The options but\n"
    "--signer-key, -o, --force and --osslsigncode pass through to \"osslsigncode sign\" (its own\n"
    "spellings, such as -certs, are accepted too; its -h is --hash here).\n"
    "  --signer-key DSAKEY    the DSA private key the package is signed with\n"
    "  -o, --output OUT       the signed package (never PACKAGE; existing only with --force)\n"
    "  --force                replace an existing OUT\n"
    "  -h, --help             this help\n";

namespace {

// Options that pass through to "osslsigncode sign" with a value: our spelling, osslsigncode's.
// osslsigncode's own spelling is accepted as well.
struct PassThrough {
  const char* ours;
  const char* theirs;
  bool repeatable;
};
const PassThrough kValueOptions[] = {
    {"--cert", "-certs", false},         {"--key", "-key", false},
    {"--pkcs12", "-pkcs12", false},      {"--pass", "-pass", false},
    {"--readpass", "-readpass", false},  {"-n", "-n", false},
    {"-i", "-i", false},                 {"--hash", "-h", false},
    {"-t", "-t", true},                  {"-ts", "-ts", true},
    {"-p", "-p", false},                 {"--ac", "-ac", false},
    {"--tsa-certs", "-TSA-certs", false}, {"--tsa-key", "-TSA-key", false},
    {"--tsa-time", "-TSA-time", false},  {"--time", "-time", false},
};
const PassThrough kFlagOptions[] = {
    {"--comm", "-comm", false},
    {"--noverifypeer", "-noverifypeer", false},
};

const char* Theirs(const std::string& name) {
  for (const PassThrough& option : kValueOptions) {
    if (name == option.ours || name == option.theirs) return option.theirs;
  }
  for (const PassThrough& option : kFlagOptions) {
    if (name == option.ours || name == option.theirs) return option.theirs;
  }
  return nullptr;
}

std::vector<OptionDecl> AuthenticodeOptions() {
  std::vector<OptionDecl> decls = {
      {"--signer-key", OptionDecl::kValue}, {"-o", OptionDecl::kValue},
      {"--output", OptionDecl::kValue},     {"--osslsigncode", OptionDecl::kValue},
      {"--force", OptionDecl::kFlag},
  };
  for (const PassThrough& option : kValueOptions) {
    const OptionDecl::Kind kind = option.repeatable ? OptionDecl::kList : OptionDecl::kValue;
    decls.push_back({option.ours, kind});
    // osslsigncode's "-h" is the hash; here "-h" asks for help.
    if (std::string(option.theirs) != option.ours && std::string(option.theirs) != "-h") {
      decls.push_back({option.theirs, kind});
    }
  }
  for (const PassThrough& option : kFlagOptions) {
    decls.push_back({option.ours, OptionDecl::kFlag});
    if (std::string(option.theirs) != option.ours) decls.push_back({option.theirs, OptionDecl::kFlag});
  }
  return decls;
}

bool Has(const std::vector<std::string>& options, const char* name) {
  for (size_t i = 0; i < options.size(); i += 2) {
    if (options[i] == name) return true;
  }
  return false;
}

// What authenticode was asked to do.
struct AuthenticodeRequest {
  OsslsigncodeOptions tool;
  std::vector<std::string> valued;  // name, value pairs of osslsigncode's options, as given
  std::string input, output;
};

// One option of the command line that passes through to osslsigncode (`theirs` its spelling).
Status PassOn(const std::string& arg, const char* theirs, const std::string& value,
              AuthenticodeRequest* request) {
  bool flag = false;
  for (const PassThrough& f : kFlagOptions) flag = flag || std::string(theirs) == f.theirs;
  if (flag) {
    request->tool.signOptions.push_back(theirs);
    return Status::Ok();
  }
  // Both spellings of one option count as one.
  if (Has(request->valued, theirs) && std::string(theirs) != "-t" && std::string(theirs) != "-ts") {
    return UsageError("authenticode", arg + " is given more than once");
  }
  // osslsigncode runs more than once, and standard input can be read only once.
  if (std::string(theirs) == "-readpass" && value == "-") {
    return UsageError("authenticode", "--readpass needs a file: the password is read on every signing run");
  }
  request->tool.signOptions.insert(request->tool.signOptions.end(), {theirs, value});
  request->valued.insert(request->valued.end(), {theirs, value});
  return Status::Ok();
}

Status ParseAuthenticodeRequest(const Options& options, AuthenticodeRequest* request) {
  for (const auto& option : options.ordered()) {
    const std::string& arg = option.first;
    Status status;
    if (arg == "-o" || arg == "--output") {
      if (!request->output.empty()) return UsageError("authenticode", "-o and --output both given");
      request->output = option.second;
    } else if (arg == "--osslsigncode") {
      request->tool.program = option.second;
    } else if (const char* theirs = Theirs(arg)) {
      status = PassOn(arg, theirs, option.second, request);
    }
    if (!status.ok()) return status;
  }
  if (options.positional().size() > 1) return UsageError("authenticode", "more than one package");
  if (options.positional().empty()) return UsageError("authenticode", "a package is needed");
  request->input = options.positional().front();
  if (request->output.empty()) return UsageError("authenticode", "-o OUT is required");
  if (!options.Has("--signer-key")) {
    return UsageError("authenticode",
        "--signer-key DSAKEY is required: the package's closing DSA signature is made again over "
        "the header the Authenticode signature changes");
  }
  const bool certAndKey = Has(request->valued, "-certs") && Has(request->valued, "-key");
  if (certAndKey == Has(request->valued, "-pkcs12")) {
    return UsageError("authenticode", "give the Authenticode certificate and key as --cert CERT --key KEY, "
                      "or as --pkcs12 P12 (not both)");
  }
  return Status::Ok();
}

// Reads the package, has it signed in a private folder and writes the result whole.
Status SignPackage(const Options& options, const AuthenticodeRequest& request,
                   AuthenticodeReport* report) {
  InputFile keyFile, packageFile;
  DsaPrivateKey key;
  Status status = LoadSigningKey(options, "--signer-key", &keyFile, &key);
  if (status.ok()) status = packageFile.Open("PACKAGE", request.input, 0xFFFFFFFFull);
  if (status.ok()) {
    status = CheckOutput("-o", request.output, {&keyFile, &packageFile}, options.Has("--force"));
  }
  std::vector<uint8_t> package(static_cast<size_t>(packageFile.size()));
  if (status.ok()) status = packageFile.ReadAt(0, package.data(), package.size());
  PrivateTempDir work;
  if (status.ok()) status = work.Create();
  if (!status.ok()) return status;
  std::vector<uint8_t> result;
  status = AuthenticodeSignPackage(package, key, work.path(),
                                   MakeOsslsigncodeSigner(request.tool, work.path()), &result, report);
  if (!status.ok()) return status.Within(request.input + ": ");
  InstallCleanupHandlers();
  OutputFile out;
  status = out.Create(request.output, 0644);
  if (status.ok()) status = out.Write(result.data(), result.size());
  return status.ok() ? out.Commit(options.Has("--force")) : status;
}

int RunAuthenticode(const Options& options) {
  AuthenticodeRequest request;
  Status status = ParseAuthenticodeRequest(options, &request);
  if (!status.ok()) return Report(status);
  AuthenticodeReport report;
  status = SignPackage(options, request, &report);
  if (!status.ok()) return Report(status.Within("authenticode: "));
  std::printf("%s: closing signature at %u, certificate table of %u bytes at %u (%d signing runs)\n",
              request.output.c_str(), report.signedLength, report.tableSize, report.tableOffset,
              report.signerRuns);
  return kExitGood;
}

}  // namespace

const Command kAuthenticodeCommand = {
    "add an Authenticode signature to a package",
    {"authenticode", AuthenticodeOptions(), kAuthenticodeHelp}, RunAuthenticode};

}  // namespace sfxpack
