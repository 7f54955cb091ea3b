// sfxpack pack: builds a signed self-extract package from a stub, a main program and the files
// to list, and writes it whole or not at all. Everything the stub would refuse at run time is
// refused here first. The package carries a secret salt block in front of everything supplied
// (package_salt.h) unless --no-salt asks for one without. Inputs are read in pieces, twice
// (package_stream.h), so memory does not grow with their size. An icon, version information or
// execution level is set in a copy of the stub, which the package is then made of
// (pack_resources.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/signing/signature_trailer.h"
#include "tools/sfxpack/code_page.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/key_slot.h"
#include "tools/sfxpack/keys.h"
#include "tools/sfxpack/listed_times.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/pack_checks.h"
#include "tools/sfxpack/pack_resources.h"
#include "tools/sfxpack/package_stream.h"
#include "tools/sfxpack/package_writer.h"
#include "tools/sfxpack/progress.h"
#include "tools/sfxpack/shipped_stubs.h"

namespace sfxpack {

const char kPackHelp[] =
    "usage: sfxpack pack [--stub STUB.exe | --arch x86|x64] --key KEY --main SETUP.exe\n"
    "                    --cmdline TEMPLATE [--file NAME=PATH ...] [--raw NAME=PATH ...]\n"
    "                    -o PACKAGE.exe [options]\n"
    "Makes a signed package: the stub, the main program (extracted as setup.ovr and run with\n"
    "TEMPLATE), and the listed files, each stored compressed (--file) or as it is (--raw).\n"
    "  --stub STUB.exe        the stub: a generic one gets the public half of --key stamped\n"
    "                         into the package's copy; one that carries a key must carry\n"
    "                         that one\n"
    "  --arch x86|x64         without --stub: the generic stub shipped with sfxpack, 32-bit\n"
    "                         (x86, the default) or 64-bit (x64)\n"
    "  --key KEY              the DSA private key (PEM or DER) that signs the package\n"
    "  --main SETUP.exe       the main program: a PE image of at most 256 MiB\n"
    "  --cmdline TEMPLATE     its command line (at most 32767 characters)\n"
    "  --mtime TIME           give every listed file this time (seconds since 1970, @SECONDS,\n"
    "                         or UTC 2024-05-01T12:30:00Z); without it each file's modification\n"
    "                         time, clamped to SOURCE_DATE_EPOCH when that is set\n"
    "  --codepage N           store the names and TEMPLATE, given in UTF-8, in Windows code\n"
    "                         page N (1252, 1250, 932, ...): they then read as written on\n"
    "                         systems of that ANSI code page; what N lacks is refused\n"
    "  --file NAME=PATH       a listed file, stored compressed (repeatable)\n"
    "  --raw NAME=PATH        a listed file, stored unchanged (repeatable)\n"
    "  --icon FILE.ico        the package's icon: every image of FILE.ico replaces the stub's\n"
    "  --version-info KEY=VALUE  version information Windows shows in the file's properties\n"
    "                         (repeatable); KEY: FileVersion, ProductVersion (numbers such as\n"
    "                         1.2.3.4), CompanyName, ProductName, FileDescription,\n"
    "                         LegalCopyright, OriginalFilename\n"
    "  --execution-level LEVEL  the rights Windows starts the package with: asInvoker,\n"
    "                         highestAvailable or requireAdministrator (the manifest's\n"
    "                         trustInfo); without it Windows guesses, and never elevates a\n"
    "                         64-bit stub\n"
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
    {"--arch", OptionDecl::kValue},
    {"--main", OptionDecl::kValue},       {"--cmdline", OptionDecl::kValue},
    {"--file", OptionDecl::kList},        {"--raw", OptionDecl::kList},
    {"-o", OptionDecl::kValue},           {"--output", OptionDecl::kValue},
    {"--force", OptionDecl::kFlag},       {"--allow-duplicates", OptionDecl::kFlag},
    {"--allow-reserved-names", OptionDecl::kFlag}, {"--allow-other-key", OptionDecl::kFlag},
    {"--no-salt", OptionDecl::kFlag},     {"-q", OptionDecl::kFlag},
    {"--quiet", OptionDecl::kFlag},       {"--key-pass-file", OptionDecl::kValue},
    {"--skip-stub-checks", OptionDecl::kFlag}, {"--codepage", OptionDecl::kValue},
    {"--mtime", OptionDecl::kValue},      {"--icon", OptionDecl::kValue},
    {"--version-info", OptionDecl::kList}, {"--execution-level", OptionDecl::kValue},
};

struct FileArg {
  std::string name;
  std::string path;
  PackageInput::Kind kind;
  std::string stored;  // the name as the catalog holds it (in --codepage's code page)
};

// What pack was asked to do.
struct PackRequest {
  std::string output;
  std::string commandTemplate;
  std::vector<FileArg> files;
  bool force = false;
  bool quiet = false;
  bool salted = true;
  // Only the end-to-end tests of the stub's own refusals need packages it refuses.
  bool checked = true;
  // --codepage's, when given: the names and the template are stored in it.
  CodePage codePage;
  // --mtime's, or SOURCE_DATE_EPOCH's, or the files' own.
  ListedTimes times;
  // --icon, --version-info, --execution-level.
  PackResources resources;
};

// The inputs, opened: the key, the stub, the main program and the listed files; a generic stub
// also as the copy with the key stamped in, which the package carries.
struct PackInputs {
  InputFile keyFile, stub, stampedStub, mainProgram;
  // The stub (the stamped copy, when there is one) with the resources set, in a folder of its
  // own, when any are asked for.
  PrivateTempDir editedFolder;
  InputFile editedStub;
  std::vector<std::unique_ptr<InputFile>> files;
  DsaPrivateKey key;
  PackPlan plan;
};

// Step 1: the command line.
Status ParsePackRequest(const Options& options, PackRequest* request) {
  if (!options.positional().empty()) {
    return UsageError("pack", "unexpected argument '" + options.positional().front() + "'");
  }
  if (options.Has("-o") && options.Has("--output")) return UsageError("pack", "-o and --output both given");
  request->output = options.Get("-o", options.Get("--output"));
  if (options.Has("--stub") && options.Has("--arch")) {
    return UsageError("pack", "--arch picks a shipped stub; with --stub it has nothing to pick");
  }
  for (const char* required : {"--key", "--main", "--cmdline"}) {
    if (!options.Has(required)) return UsageError("pack", std::string(required) + " is required");
  }
  if (request->output.empty()) return UsageError("pack", "-o is required");
  request->force = options.Has("--force");
  request->quiet = options.quiet();
  request->salted = !options.Has("--no-salt");
  request->commandTemplate = options.Get("--cmdline");
  request->checked = !options.Has("--skip-stub-checks");
  if (options.Has("--codepage")) {
    const Status status = request->codePage.Open(options.Get("--codepage"));
    if (!status.ok()) return UsageError("pack", status.reason());
  }
  const Status times = ChooseListedTimes(options.Get("--mtime"), std::getenv("SOURCE_DATE_EPOCH"),
                                         &request->times);
  if (!times.ok()) return UsageError("pack", times.reason());
  const Status resources = ParsePackResources(options, &request->resources);
  if (!resources.ok()) return UsageError("pack", resources.reason());
  for (const auto& option : options.ordered()) {
    if (option.first != "--file" && option.first != "--raw") continue;
    const size_t eq = option.second.find('=');
    if (eq == std::string::npos || eq + 1 == option.second.size()) {
      return UsageError("pack", option.first + " wants NAME=PATH, got '" + EscapeName(option.second) + "'");
    }
    request->files.push_back({option.second.substr(0, eq), option.second.substr(eq + 1),
                              option.first == "--raw" ? PackageInput::Kind::kRaw
                                                      : PackageInput::Kind::kPackage,
                              std::string()});
  }
  return Status::Ok();
}

// Step 2: every check that needs no input's content: the template and the names.
Status CheckPackRequest(const Options& options, const PackRequest& request) {
  if (!request.checked) Warn("--skip-stub-checks: the package may be one the stub refuses");
  if (request.checked && request.commandTemplate.size() > kMaxCommandTemplate) {
    return Status::Error("--cmdline is " + std::to_string(request.commandTemplate.size()) +
                         " characters long; the stub accepts at most " +
                         std::to_string(kMaxCommandTemplate));
  }
  const CodePage* storedIn = request.codePage.opened() ? &request.codePage : nullptr;
  if (HasNonAscii(request.commandTemplate)) {
    Warn("--cmdline holds bytes outside ASCII: " + NonAsciiNote(storedIn));
  }
  std::set<std::string> seen;
  for (const FileArg& arg : request.files) {
    const Status status = request.checked ? CheckListedName(arg.name) : CheckFileName(arg.name);
    if (!status.ok()) return status;
    if (IsReservedName(arg.name) && !options.Has("--allow-reserved-names")) {
      return Status::Error("file name '" + arg.name +
                           "' is a name the stub writes itself; the listed file would replace it "
                           "or be replaced (--allow-reserved-names permits it)");
    }
    if (!seen.insert(FoldCase(arg.name)).second && !options.Has("--allow-duplicates")) {
      return Status::Error("duplicate file name '" + EscapeName(arg.name) +
                           "' (names equal but for case are one file on Windows; "
                           "--allow-duplicates permits it, the last one wins)");
    }
    if (HasNonAscii(arg.name)) {
      Warn("file name '" + EscapeName(arg.name) + "' holds bytes outside ASCII: " +
           NonAsciiNote(storedIn));
    }
  }
  return Status::Ok();
}

// Step 3: the text as the catalog holds it: in --codepage's code page, or as given. The checks
// above ran on the text as given.
Status StorePackText(PackRequest* request) {
  const CodePage* storedIn = request->codePage.opened() ? &request->codePage : nullptr;
  Status status = StoreInCodePage(storedIn, "--cmdline", &request->commandTemplate);
  for (FileArg& arg : request->files) {
    arg.stored = arg.name;
    if (status.ok()) {
      status = StoreInCodePage(storedIn, "file name '" + EscapeName(arg.name) + "'", &arg.stored);
    }
  }
  return status;
}

// Step 4: the inputs opened, and the plan of the package made of them.
Status OpenPackInputs(const Options& options, const PackRequest& request, PackInputs* in) {
  Status status = LoadSigningKey(options, "--key", &in->keyFile, &in->key);
  std::string stubPath = options.Get("--stub");
  if (status.ok() && stubPath.empty()) status = ShippedStubPath(options.Get("--arch"), &stubPath);
  if (status.ok()) status = in->stub.Open("--stub", stubPath, kMaxPackageSize);
  if (!status.ok()) return status;
  status = in->mainProgram.Open("--main", options.Get("--main"), sfx::kMaxMainProgramSize);
  if (!status.ok()) {
    return status.With(" (the stub holds the main program in memory and refuses one over 256 MiB with " +
                       DescribeArchiveError(sfx::kErrorNotEnoughMemory) + ")");
  }
  in->plan.stub = &in->stub;
  in->plan.mainProgram = &in->mainProgram;
  in->plan.commandTemplate = request.commandTemplate;
  in->plan.allowDuplicates = options.Has("--allow-duplicates");
  for (const FileArg& arg : request.files) {
    in->files.emplace_back(new InputFile);
    const std::string option = arg.kind == PackageInput::Kind::kRaw ? "--raw " : "--file ";
    status = in->files.back()->Open(option + arg.name + "=", arg.path, kMaxPackageSize);
    if (!status.ok()) return status;
    uint32_t time = 0;
    status = ListedTime(request.times, in->files.back()->modificationTime(), arg.path, &time);
    if (!status.ok()) return status;
    in->plan.files.push_back({arg.stored, in->files.back().get(), time, arg.kind});
  }
  return Status::Ok();
}

// The stub's key slot: a generic stub gets the key stamped into a copy, which the package then
// carries; a stub with a key must carry this one (or --allow-other-key).
Status StampOrCheckStubKey(const Options& options, PackInputs* in) {
  const std::string stubPath = in->stub.path();
  if (in->stub.size() > kMaxStubImage) {
    return Status::Error("--stub " + stubPath + " is too large for a stub (" +
                         std::to_string(in->stub.size()) + " bytes)");
  }
  std::vector<uint8_t> image(static_cast<size_t>(in->stub.size()));
  Status status = in->stub.ReadAt(0, image.data(), image.size());
  StubKeySlot slot;
  if (status.ok()) status = FindKeySlot(image.data(), image.size(), &slot).Within("--stub " + stubPath + ": ");
  if (!status.ok()) return status;
  if (slot.generic) {
    status = StampKey(&image, in->key.pub).Within("--stub " + stubPath + ": ");
    if (status.ok()) status = in->stampedStub.OpenBytes("--stub " + stubPath + " (stamped)", image);
    if (!status.ok()) return status;
    in->plan.stub = &in->stampedStub;
    Note("--stub " + stubPath + " is generic: the package carries it with the public half of --key (" +
         KeyFingerprint(in->key.pub) + ") stamped in");
    return Status::Ok();
  }
  if (std::memcmp(&slot.key, &in->key.pub, sizeof slot.key) == 0) return Status::Ok();
  if (!options.Has("--allow-other-key")) {
    return Status::Error("--key " + in->keyFile.path() + " is not the key built into --stub " + stubPath +
                         " (it carries " + KeyFingerprint(slot.key) + "): that stub would refuse the package (" +
                         DescribeArchiveError(sfx::kErrorFileInvalid) + "); --allow-other-key packs it anyway");
  }
  Warn("--key is not the key built into --stub; the package runs only with a stub that carries it");
  return Status::Ok();
}

// Step 5: what the stub and the main program must be: a plain stub that carries the key (or a
// generic one, which gets it), and a program.
Status CheckStubAndMain(const Options& options, const PackRequest& request, PackInputs* inputs) {
  const PackInputs& in = *inputs;
  const std::string stubPath = in.stub.path();
  if (!IsPeFile(in.stub)) {
    return Status::Error("--stub " + stubPath + " is not a PE file (no \"MZ\" and \"PE\\0\\0\" header)");
  }
  uint8_t signature[sfx::kDsaSignatureSize];
  sfx::SignatureKind kind;
  uint32_t signedLength = 0;
  if (HasCertificateTable(in.stub) ||
      sfx::FindSignatureTrailer(stubPath.c_str(), signature, &kind, &signedLength)) {
    return Status::Error("--stub " + stubPath +
                         " is signed already or is a finished package; pack with the plain stub, "
                         "and add an Authenticode signature afterwards with `sfxpack authenticode`");
  }
  const Status status = StampOrCheckStubKey(options, inputs);
  if (!status.ok()) return status;
  if (request.checked && (in.mainProgram.size() == 0 || !IsPeFile(in.mainProgram))) {
    return Status::Error("--main " + in.mainProgram.path() +
                         " is not a program (an empty file, or no \"MZ\" and \"PE\\0\\0\" header)");
  }
  return Status::Ok();
}

// Step 6: the resources asked for set in a copy of the stub, which the package is then made of.
Status EditStub(PackRequest* request, PackInputs* in) {
  Status status = ReadPackIcon(&request->resources);
  if (status.ok()) WarnAboutElevation(in->stub, request->resources);
  if (status.ok()) {
    // The copy with the key stamped in, when there is one: the resources join the key.
    status = MakeEditedStub(*in->plan.stub, request->resources, &in->editedFolder,
                            &in->editedStub, &in->plan.stub);
  }
  return status;
}

// Step 7: the package's size, from the inputs' sizes, before anything is read: stored objects
// are counted as they are (compression is checked exactly as it happens).
Status CheckPackageSize(const PackRequest& request, const PackInputs& in, uint64_t* total) {
  *total = in.plan.stub->size() + sfx::kBinaryTrailerSize + (request.salted ? kSaltBlockSize : 0) +
           in.mainProgram.size() + kPackageFileHeaderSize + sfx::kBinaryTrailerSize;
  for (const PackSource& source : in.plan.files) {
    *total += source.file->size() + sfx::kBinaryTrailerSize +
              (source.kind == PackageInput::Kind::kRaw ? 0 : kPackageFileHeaderSize);
  }
  if (*total > kMaxPackageSize) {
    return Status::Error("package too large: its inputs alone come to " + std::to_string(*total) +
                         " bytes, and a package must stay below 4 GiB");
  }
  return Status::Ok();
}

// Step 8: the output, written whole under a temporary name and committed (replacing an
// existing file only with --force, and never one that appeared meanwhile without it).
Status WritePackageFile(const PackRequest& request, const PackInputs& in, uint64_t* size) {
  std::vector<const InputFile*> inputs = {&in.keyFile, &in.stub, &in.mainProgram};
  for (const auto& file : in.files) inputs.push_back(file.get());
  Status status = CheckOutput("-o", request.output, inputs, request.force);
  if (!status.ok()) return status;
  InstallCleanupHandlers();
  OutputFile out;
  status = out.Create(request.output, 0644);
  // Each pass over the inputs has its own progress line, of the inputs' size.
  uint64_t inputBytes = in.plan.stub->size() + in.mainProgram.size();
  for (const PackSource& source : in.plan.files) inputBytes += source.file->size();
  SaltPass salt;
  if (status.ok() && request.salted) {
    Progress progress("pack, salting (1 of 2)", inputBytes, request.quiet);
    status = DeriveSaltFromFiles(in.key, in.plan, &progress, &salt);
  }
  if (status.ok()) {
    Progress progress(request.salted ? "pack, writing (2 of 2)" : "pack", inputBytes, request.quiet);
    status = WritePackage(in.plan, in.key, salt, &out, &progress);
  }
  *size = out.written();
  return status.ok() ? out.Commit(request.force) : status;
}

int RunPack(const Options& options) {
  PackRequest request;
  PackInputs inputs;
  uint64_t total = 0, size = 0;
  Status status = ParsePackRequest(options, &request);
  if (status.ok()) status = CheckPackRequest(options, request);
  if (status.ok()) status = StorePackText(&request);
  if (status.ok()) status = OpenPackInputs(options, request, &inputs);
  if (status.ok()) status = CheckStubAndMain(options, request, &inputs);
  if (status.ok()) status = EditStub(&request, &inputs);
  if (status.ok()) status = CheckPackageSize(request, inputs, &total);
  if (status.ok()) status = WritePackageFile(request, inputs, &size);
  if (!status.ok()) return Report(status);
  std::printf("%s: %llu bytes, %zu listed file(s), %s\n", request.output.c_str(),
              static_cast<unsigned long long>(size), inputs.plan.files.size(),
              request.salted ? "salted" : "NOT salted (--no-salt)");
  return kExitGood;
}

}  // namespace

const Command kPackCommand = {
    "make a signed package from a stub, a main program and files",
    {"pack", kPackOptions, kPackHelp}, RunPack};

}  // namespace sfxpack
