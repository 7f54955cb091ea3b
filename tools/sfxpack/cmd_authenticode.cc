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
    "usage: sfxpack authenticode (--cert CERT --cert-key KEY | --pkcs12 P12) [--pass PASS | --readpass FILE]\n"
    "           [-n NAME] [-i URL] [--hash ALG] [-t URL ...] [-ts URL ...] [-p PROXY] [--ac CROSSCERT]\n"
    "           [--tsa-certs CERT --tsa-key KEY [--tsa-time T]] [--time T] [--comm] [--noverifypeer]\n"
    "           [--osslsigncode PATH] --key DSAKEY [--key-pass-file FILE] PACKAGE -o OUT [--force]\n"
    "Adds an Authenticode signature (made by osslsigncode) to a finished package and makes its\n"
    "closing DSA signature again over the header that signature changes. The options but --key,\n"
    "--key-pass-file, -o, --force and --osslsigncode pass through to \"osslsigncode sign\" (its\n"
    "own spellings, such as -certs, are accepted too, but for -key: use --cert-key; its -h is\n"
    "--hash here).\n"
    "  --key DSAKEY           the package's DSA private key, as in every other command\n"
    "  --key-pass-file FILE   the passphrase of an encrypted --key (PKCS#8), in FILE's first line\n"
    "  --cert CERT, --cert-key KEY   the Authenticode certificate and its private key\n"
    "  --pkcs12 P12           or both in one PKCS#12 file\n"
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
    {"--cert", "-certs", false},         {"--cert-key", "-key", false},
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

// Spellings that are refused with the one to use: the DSA key is --key, as in every command,
// and osslsigncode's "-key" would read as that.
struct Renamed {
  const char* spelling;
  const char* why;
};
const Renamed kRenamed[] = {
    {"--signer-key", "--signer-key is now --key: the package's DSA key is --key in every command "
                     "(the Authenticode key is --cert-key)"},
    {"-key", "give the Authenticode key as --cert-key (osslsigncode's -key; --key is the "
             "package's DSA key)"},
};

bool IsRenamed(const std::string& name) {
  for (const Renamed& renamed : kRenamed) {
    if (name == renamed.spelling) return true;
  }
  return false;
}

const char* Theirs(const std::string& name) {
  if (IsRenamed(name)) return nullptr;
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
      {"--key", OptionDecl::kValue},    {"--key-pass-file", OptionDecl::kValue},
      {"-o", OptionDecl::kValue},       {"--output", OptionDecl::kValue},
      {"--osslsigncode", OptionDecl::kValue}, {"--force", OptionDecl::kFlag},
  };
  // Declared, so that they are refused with the spelling to use rather than as unknown.
  for (const Renamed& renamed : kRenamed) decls.push_back({renamed.spelling, OptionDecl::kValue});
  for (const PassThrough& option : kValueOptions) {
    const OptionDecl::Kind kind = option.repeatable ? OptionDecl::kList : OptionDecl::kValue;
    decls.push_back({option.ours, kind});
    // osslsigncode's "-h" is the hash; here "-h" asks for help.
    if (std::string(option.theirs) != option.ours && std::string(option.theirs) != "-h" &&
        !IsRenamed(option.theirs)) {
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

// The keys asked for: the package's DSA key as --key, the Authenticode certificate with its
// key, or a PKCS#12 file; the spellings of before get the one to use now.
Status CheckKeyOptions(const Options& options, const AuthenticodeRequest& request) {
  for (const Renamed& renamed : kRenamed) {
    if (options.Has(renamed.spelling)) return UsageError("authenticode", renamed.why);
  }
  const bool cert = Has(request.valued, "-certs"), certKey = Has(request.valued, "-key");
  const bool pkcs12 = Has(request.valued, "-pkcs12");
  if (cert && !certKey && !pkcs12) {
    return UsageError("authenticode", "--cert needs its private key as --cert-key KEY (it was "
                      "--key before; --key is the package's DSA key now, as in every command)");
  }
  if ((cert && certKey) == pkcs12) {
    return UsageError("authenticode", "give the Authenticode certificate and key as --cert CERT "
                      "--cert-key KEY, or as --pkcs12 P12 (not both)");
  }
  if (!options.Has("--key")) {
    return UsageError("authenticode",
        "--key DSAKEY is required: the package's DSA private key, with which its closing "
        "signature is made again over the header the Authenticode signature changes");
  }
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
  return CheckKeyOptions(options, *request);
}

// The DSA key, which must be one, and an Authenticode key that must not be one: each key where
// it belongs, before osslsigncode sees either.
Status LoadKeys(const Options& options, InputFile* keyFile, DsaPrivateKey* key) {
  Status status = LoadSigningKey(options, "--key", keyFile, key);
  if (!status.ok()) {
    const bool wrongKind = status.reason().find("not a DSA") != std::string::npos;
    return status.With(wrongKind ? " (--key is the package's DSA key; the Authenticode key "
                                   "goes to --cert-key)" : "");
  }
  const std::string certKey = options.Get("--cert-key");
  if (certKey.empty()) return Status::Ok();
  InputFile certKeyFile;
  DsaPrivateKey dsa;
  status = certKeyFile.Open("--cert-key", certKey, kMaxKeyFile);
  if (!status.ok()) return status;
  const bool sameFile = certKeyFile.device() == keyFile->device() && certKeyFile.inode() == keyFile->inode();
  if (sameFile || LoadDsaPrivateKey(certKey, &dsa).ok()) {
    return UsageError("authenticode", "--cert-key " + certKey + " is a DSA key: the Authenticode "
                      "key is the private key of --cert's certificate; the package's DSA key "
                      "goes to --key");
  }
  return Status::Ok();
}

// Reads the package, has it signed in a private folder and writes the result whole.
Status SignPackage(const Options& options, const AuthenticodeRequest& request,
                   AuthenticodeReport* report) {
  InputFile keyFile, packageFile;
  DsaPrivateKey key;
  Status status = LoadKeys(options, &keyFile, &key);
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
