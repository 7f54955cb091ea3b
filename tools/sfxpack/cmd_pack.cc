// sfxpack pack: builds a signed self-extract package from a stub, a main program and the files
// to list, and writes it whole or not at all. Everything the stub would refuse at run time is
// refused here first. The package carries a secret salt block in front of everything supplied
// (package_salt.h) unless --no-salt asks for one without. Inputs are read in pieces, twice
// (package_stream.h), so memory does not grow with their size.
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/signing/signature_trailer.h"
#include "tools/sfxpack/cli.h"
#include "tools/sfxpack/code_page.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/pack_checks.h"
#include "tools/sfxpack/package_stream.h"
#include "tools/sfxpack/package_writer.h"

namespace sfxpack {

const char kPackHelp[] =
    "usage: sfxpack pack --stub STUB.exe --key KEY --main SETUP.exe --cmdline TEMPLATE\n"
    "                    [--file NAME=PATH ...] [--raw NAME=PATH ...] -o PACKAGE.exe [options]\n"
    "Makes a signed package: the stub, the main program (extracted as setup.ovr and run with\n"
    "TEMPLATE), and the listed files, each stored compressed (--file) or as it is (--raw).\n"
    "  --stub STUB.exe        the stub; it must carry the public half of --key\n"
    "  --key KEY              the DSA private key (PEM or DER) that signs the package\n"
    "  --main SETUP.exe       the main program: a PE image of at most 256 MiB\n"
    "  --cmdline TEMPLATE     its command line (at most 32767 characters)\n"
    "  --codepage N           store the names and TEMPLATE, given in UTF-8, in Windows code\n"
    "                         page N (1252, 1250, 932, ...): they then read as written on\n"
    "                         systems of that ANSI code page; what N lacks is refused\n"
    "  --file NAME=PATH       a listed file, stored compressed (repeatable)\n"
    "  --raw NAME=PATH        a listed file, stored unchanged (repeatable)\n"
    "  -o, --output PACKAGE   the package to write (never an input; existing only with --force)\n"
    "  --force                replace an existing output\n"
    "  --allow-duplicates     allow names that are equal, or equal but for case (the last wins)\n"
    "  --allow-reserved-names allow setup.ovr and tarvo.setup, the names the stub writes itself\n"
    "  --allow-other-key      sign with a key the stub does not carry (the stub will refuse the\n"
    "                         package unless it is run with another stub)\n"
    "  --no-salt              leave out the salt block (for comparison only: without it, whoever\n"
    "                         supplies a file can prepare an MD5 collision that survives the\n"
    "                         signature)\n"
    "  --skip-stub-checks     for testing the stub only: make the package even if the stub will\n"
    "                         refuse it (names Windows refuses, a main program that is no PE\n"
    "                         image, a template that is too long)\n"
    "  --key-pass-file FILE   the passphrase of an encrypted --key (PKCS#8), in FILE's first line\n"
    "  -q, --quiet            no progress line\n"
    "  -h, --help             this help\n";

namespace {

const std::vector<OptionDecl> kPackOptions = {
    {"--stub", OptionDecl::kValue},       {"--key", OptionDecl::kValue},
    {"--main", OptionDecl::kValue},       {"--cmdline", OptionDecl::kValue},
    {"--file", OptionDecl::kList},        {"--raw", OptionDecl::kList},
    {"-o", OptionDecl::kValue},           {"--output", OptionDecl::kValue},
    {"--force", OptionDecl::kFlag},       {"--allow-duplicates", OptionDecl::kFlag},
    {"--allow-reserved-names", OptionDecl::kFlag}, {"--allow-other-key", OptionDecl::kFlag},
    {"--no-salt", OptionDecl::kFlag},     {"-q", OptionDecl::kFlag},
    {"--quiet", OptionDecl::kFlag},       {"--key-pass-file", OptionDecl::kValue},       {"--skip-stub-checks", OptionDecl::kFlag},
    {"--codepage", OptionDecl::kValue},
};

struct FileArg {
  std::string name;
  std::string path;
  PackageInput::Kind kind;
  std::string stored;  // the name as the catalog holds it (in --codepage's code page)
};

}  // namespace

int RunPack(int argc, char** argv) {
  Options options;
  std::string error;
  if (!options.Parse(argc, argv, kPackOptions, &error)) return UsageError("pack", error);
  if (options.help()) {
    std::fputs(kPackHelp, stdout);
    return kExitGood;
  }
  if (!options.positional().empty()) {
    return UsageError("pack", "unexpected argument '" + options.positional().front() + "'");
  }
  if (options.Has("-o") && options.Has("--output")) return UsageError("pack", "-o and --output both given");
  const std::string output = options.Get("-o", options.Get("--output"));
  for (const char* required : {"--stub", "--key", "--main", "--cmdline"}) {
    if (!options.Has(required)) return UsageError("pack", std::string(required) + " is required");
  }
  if (output.empty()) return UsageError("pack", "-o is required");
  const bool force = options.Has("--force");
  const bool quiet = options.Has("-q") || options.Has("--quiet");
  const bool salted = !options.Has("--no-salt");
  std::string commandTemplate = options.Get("--cmdline");
  // Only the end-to-end tests of the stub's own refusals need packages it refuses.
  const bool checked = !options.Has("--skip-stub-checks");
  if (!checked) Warn("--skip-stub-checks: the package may be one the stub refuses");

  std::vector<FileArg> fileArgs;
  for (const auto& option : options.ordered()) {
    if (option.first != "--file" && option.first != "--raw") continue;
    const size_t eq = option.second.find('=');
    if (eq == std::string::npos || eq + 1 == option.second.size()) {
      return UsageError("pack", option.first + " wants NAME=PATH, got '" + EscapeName(option.second) + "'");
    }
    fileArgs.push_back({option.second.substr(0, eq), option.second.substr(eq + 1),
                        option.first == "--raw" ? PackageInput::Kind::kRaw
                                                : PackageInput::Kind::kPackage,
                        std::string()});
  }

  // Every check that needs no input's content comes first.
  if (checked && commandTemplate.size() > kMaxCommandTemplate) {
    return Fail(kExitError, "--cmdline is " + std::to_string(commandTemplate.size()) +
                                " characters long; the stub accepts at most " +
                                std::to_string(kMaxCommandTemplate));
  }
  CodePage codePage;
  if (options.Has("--codepage") && !codePage.Open(options.Get("--codepage"), &error)) {
    return UsageError("pack", error);
  }
  const CodePage* storedIn = options.Has("--codepage") ? &codePage : nullptr;
  if (HasNonAscii(commandTemplate)) Warn("--cmdline holds bytes outside ASCII: " + NonAsciiNote(storedIn));
  std::set<std::string> seen;
  for (const FileArg& arg : fileArgs) {
    const std::string why = checked ? CheckListedName(arg.name) : CheckFileName(arg.name);
    if (!why.empty()) return Fail(kExitError, why);
    if (IsReservedName(arg.name) && !options.Has("--allow-reserved-names")) {
      return Fail(kExitError, "file name '" + arg.name +
                                  "' is a name the stub writes itself; the listed file would "
                                  "replace it or be replaced (--allow-reserved-names permits it)");
    }
    if (!seen.insert(FoldCase(arg.name)).second && !options.Has("--allow-duplicates")) {
      return Fail(kExitError, "duplicate file name '" + EscapeName(arg.name) +
                                  "' (names equal but for case are one file on Windows; "
                                  "--allow-duplicates permits it, the last one wins)");
    }
    if (HasNonAscii(arg.name)) {
      Warn("file name '" + EscapeName(arg.name) + "' holds bytes outside ASCII: " + NonAsciiNote(storedIn));
    }
  }
  // Every check above ran on the text as given; the catalog holds it in the code page.
  if (!StoreInCodePage(storedIn, "--cmdline", &commandTemplate, &error)) return Fail(kExitError, error);
  for (FileArg& arg : fileArgs) {
    arg.stored = arg.name;
    if (!StoreInCodePage(storedIn, "file name '" + EscapeName(arg.name) + "'", &arg.stored, &error)) {
      return Fail(kExitError, error);
    }
  }

  InputFile keyFile, stub, mainProgram;
  if (!keyFile.Open("--key", options.Get("--key"), 1 << 20, &error)) return Fail(kExitError, error);
  DsaPrivateKey key;
  std::string passText;
  const std::string* passphrase = nullptr;
  if (options.Has("--key-pass-file")) {
    if (!ReadPassphrase(options.Get("--key-pass-file"), &passText, &error)) return Fail(kExitError, error);
    passphrase = &passText;
  }
  if (!LoadDsaPrivateKey(options.Get("--key"), &key, &error, passphrase)) return Fail(kExitError, error);
  if (!stub.Open("--stub", options.Get("--stub"), kMaxPackageSize, &error)) return Fail(kExitError, error);
  if (!mainProgram.Open("--main", options.Get("--main"), sfx::kMaxMainProgramSize, &error)) {
    return Fail(kExitError, error + " (the stub holds the main program in memory and refuses one over "
                            "256 MiB with " + DescribeArchiveError(sfx::kErrorNotEnoughMemory) + ")");
  }
  std::vector<std::unique_ptr<InputFile>> files;
  PackPlan plan;
  plan.stub = &stub;
  plan.mainProgram = &mainProgram;
  plan.commandTemplate = commandTemplate;
  plan.allowDuplicates = options.Has("--allow-duplicates");
  for (const FileArg& arg : fileArgs) {
    files.emplace_back(new InputFile);
    if (!files.back()->Open("--" + std::string(arg.kind == PackageInput::Kind::kRaw ? "raw " : "file ") +
                                arg.name + "=",
                            arg.path, kMaxPackageSize, &error)) {
      return Fail(kExitError, error);
    }
    const int64_t mtime = files.back()->modificationTime();
    if (mtime < 0 || mtime > 0xFFFFFFFFll) {
      return Fail(kExitError, "modification time of " + arg.path + " does not fit the catalog (1970..2106)");
    }
    PackSource source;
    source.name = arg.stored;
    source.file = files.back().get();
    source.time = static_cast<uint32_t>(mtime);
    source.kind = arg.kind;
    plan.files.push_back(source);
  }

  // The stub.
  if (!IsPeFile(stub, &error)) {
    return Fail(kExitError, "--stub " + stub.path() + " is not a PE file (no \"MZ\" and \"PE\\0\\0\" header)");
  }
  uint8_t signature[sfx::kDsaSignatureSize];
  sfx::SignatureKind kind;
  uint32_t signedLength = 0;
  if (HasCertificateTable(stub) ||
      sfx::FindSignatureTrailer(stub.path().c_str(), signature, &kind, &signedLength)) {
    return Fail(kExitError,
                "--stub " + stub.path() +
                    " is signed already or is a finished package; pack with the plain stub, and "
                    "add an Authenticode signature afterwards with `sfxpack authenticode`");
  }
  if (!StubCarriesKey(stub, key.pub, &error)) {
    if (!error.empty()) return Fail(kExitError, error);
    if (!options.Has("--allow-other-key")) {
      return Fail(kExitError,
                  "--key " + keyFile.path() + " is not the key built into --stub " + stub.path() +
                      ": that stub would refuse the package (" +
                      DescribeArchiveError(sfx::kErrorFileInvalid) +
                      "); --allow-other-key packs it anyway");
    }
    Warn("--key is not the key built into --stub; the package runs only with a stub that carries it");
  }
  if (IsRepositoryTestKey(key.pub)) {
    Warn("--key is the repository's TEST key: its private half is public, so anyone can sign a "
         "package this stub accepts. Never ship a package signed with it.");
  }
  // The main program.
  if (checked && (mainProgram.size() == 0 || !IsPeFile(mainProgram, &error))) {
    return Fail(kExitError, "--main " + mainProgram.path() +
                                " is not a program (an empty file, or no \"MZ\" and \"PE\\0\\0\" header)");
  }

  // The size, from the inputs' sizes, before anything is read: stored objects are counted as
  // they are (compression is checked exactly as it happens).
  uint64_t total = stub.size() + sfx::kBinaryTrailerSize + (salted ? kSaltBlockSize : 0) +
                   mainProgram.size() + kPackageFileHeaderSize + sfx::kBinaryTrailerSize;
  for (const PackSource& source : plan.files) {
    total += source.file->size() + sfx::kBinaryTrailerSize +
             (source.kind == PackageInput::Kind::kRaw ? 0 : kPackageFileHeaderSize);
  }
  if (total > kMaxPackageSize) {
    return Fail(kExitError, "package too large: its inputs alone come to " + std::to_string(total) +
                                " bytes, and a package must stay below 4 GiB");
  }

  std::vector<const InputFile*> inputs = {&keyFile, &stub, &mainProgram};
  for (const auto& file : files) inputs.push_back(file.get());
  if (!CheckOutput("-o", output, inputs, force, &error)) return Fail(kExitError, error);

  InstallCleanupHandlers();
  OutputFile out;
  if (!out.Create(output, 0644, &error)) return Fail(kExitError, error);
  std::vector<uint8_t> salt;
  {
    Progress progress("pack", (salted ? 2 : 1) * (total - stub.size()) + stub.size(), quiet);
    if (salted && !DeriveSaltFromFiles(key, plan, &progress, &salt, &error)) return Fail(kExitError, error);
    if (!WritePackage(plan, key, salt, &out, &progress, &error)) return Fail(kExitError, error);
  }
  const uint64_t size = out.written();
  if (!out.Commit(force, &error)) return Fail(kExitError, error);
  std::printf("%s: %llu bytes, %zu listed file(s), %s\n", output.c_str(),
              static_cast<unsigned long long>(size), plan.files.size(),
              salted ? "salted" : "NOT salted (--no-salt)");
  return kExitGood;
}

}  // namespace sfxpack
