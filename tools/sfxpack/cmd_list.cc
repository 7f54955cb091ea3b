// sfxpack list: the signature verdict, whether the package is salted, and its catalog, read
// through the same archive reader as the stub. The package is read in pieces where needed,
// never whole.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "sfxstub/archive/package_file.h"
#include "sfxstub/archive/sfx_archive.h"
#include "tools/sfxpack/checked_package.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/json_object.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/pack_checks.h"
#include "tools/sfxpack/package_inflate.h"
#include "tools/sfxpack/package_salt.h"
#include "tools/sfxpack/package_writer.h"
#include "tools/sfxpack/stub_resources.h"

namespace sfxpack {

const char kListHelp[] =
    "usage: sfxpack list [--key PUB] [--expect-fingerprint HEX] [--json] [-q] PACKAGE\n"
    "Checks the package as the stub does and lists its catalog: the key's fingerprint, the\n"
    "stub's kind and resources (icon sizes, version information, execution level), the salt,\n"
    "the command template, the main program and every listed file (name, stored size, time,\n"
    "kind). Control characters in names are shown escaped (\\n, \\t,\n"
    "\\xNN).\n"
    "Exit 0: a good package; 1: the stub would refuse it (the reason is printed); 2: it can't be\n"
    "read, the key is not the expected one, or a usage error.\n"
    "  --key PUB              the key to check with, which the package's stub must carry;\n"
    "                         default: the key the package's stub carries (a warning says\n"
    "                         when it is the repository's TEST key)\n"
    "  --expect-fingerprint HEX  fail (exit 2) unless the key checked with has this fingerprint\n"
    "  --json                 print one JSON object instead of text, also on errors (sfxpack(1))\n"
    "  -q, --quiet            no progress line (there is none with --json either)\n"
    "  -h, --help             this help\n";

namespace {

std::string IsoTime(uint32_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts;
  char text[32];
  if (!gmtime_r(&t, &parts) || !std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts)) {
    return std::to_string(seconds);
  }
  return text;
}

// What kind of object is stored at [offset, offset+size) (the reader has checked the range).
const char* ObjectKind(const InputFile& file, uint32_t offset, uint32_t size) {
  uint8_t magic[sfx::kPackageMagicSize];
  if (size >= sizeof magic && file.ReadAt(offset, magic, sizeof magic).ok()) {
    if (!std::memcmp(magic, sfx::CompressedPackageMagic(), sizeof magic)) return "package";
    if (!std::memcmp(magic, sfx::DeltaPackageMagic(), sizeof magic)) return "delta";
  }
  return "raw";
}

// The verdict on a package the stub refuses: a bad signature, or a good one over an archive the
// reader refuses (or under a stub that does not carry the key).
int ReportRefused(CheckedPackage* package, bool json) {
  const std::string& path = package->path();
  const bool signatureGood = package->SignatureGood();
  const std::string refusal = package->Refusal();
  const std::string why = signatureGood
                              ? "the signature is good, but the stub refuses the archive: " + refusal
                              : "BAD (no signature, or one that does not match: not a package, "
                                "truncated, signed with another key, or changed after signing)";
  const Status status = Status::Bad(path + " is not a valid package: " + (signatureGood ? why : refusal));
  if (json) {
    JsonObject()
        .String("file", path)
        .String("signature", signatureGood ? "good" : "bad")
        .Raw("archive_error", JsonObject()
                                  .Number("code", package->result())
                                  .String("text", refusal)
                                  .Text())
        .Raw("key", KeyJson(package->key()))
        .String("error", status.reason())
        .Number("exit", status.code())
        .Print();
  } else {
    std::printf("key: %s\n", package->key()->Describe().c_str());
    std::printf("signature: %s\n", signatureGood ? "good" : why.c_str());
  }
  return Report(status);
}

// Which stub the package starts with, from its PE headers wherever they stand.
Status ReadStubKind(const InputFile& file, sfx::PeKind* kind) {
  uint8_t headers[sfx::kPeHeadersSize];
  sfx::PeImage image;
  Status status;
  const sfx::PeProblem problem =
      ReadFilePeHeaders(file, sfx::PeRules::kStrict, headers, &image, &status);
  *kind = problem == sfx::PeProblem::kNone ? image.kind() : sfx::PeKind::kUnknown;
  return status;
}

// What list shows of a good package.
struct Listing {
  const CheckedPackage* package;
  sfx::PeKind stubKind;
  StubResources resources;
  std::string resourcesError;  // why the stub's resources can't be read, or empty
  bool salted;
  uint32_t saltAt;
  bool mainGood;
  uint64_t inflated;
  std::string mainError;
};

// Why the stub refuses a package whose main program does not inflate.
std::string MainProgramRefusal(const Listing& l) {
  return l.package->path() + ": the main program is not a valid package file (" + l.mainError +
         "); the stub refuses it when it extracts setup.ovr";
}

// The listed files as a JSON array.
std::string FilesJson(const Listing& l) {
  std::string files = "[";
  for (const sfx::FileRecord& record : l.package->archive().files) {
    if (files.size() > 1) files += ",";
    files += JsonObject()
                 .String("name", record.name)
                 .Number("offset", record.offset)
                 .Number("size", record.size)
                 .Number("time", record.time)
                 .String("time_utc", IsoTime(record.time))
                 .String("kind", ObjectKind(l.package->file(), record.offset, record.size))
                 .Text();
  }
  return files + "]";
}

// The stub's resources as a JSON object, or null when they can't be read.
std::string ResourcesJson(const Listing& l) {
  if (!l.resourcesError.empty()) return "null";
  const StubResources& r = l.resources;
  std::string icon = "[";
  for (const IconGroupEntry& e : r.icon) {
    if (icon.size() > 1) icon += ",";
    icon += JsonObject().Number("width", e.width).Number("height", e.height).Number("bits", e.bitCount).Text();
  }
  JsonObject strings;
  for (const auto& s : r.version.strings) strings.String(s.first.c_str(), s.second);
  const std::string version = r.versionFound ? JsonObject()
                                                   .String("file_version", FormatVersion(r.version.fileVersion))
                                                   .String("product_version", FormatVersion(r.version.productVersion))
                                                   .Object("strings", strings)
                                                   .Text()
                                             : "null";
  return JsonObject()
      .Raw("icon", icon + "]")
      .Raw("version_info", version)
      .StringOrNull("execution_level", r.executionLevel)
      .Text();
}

// The stub's resources as text lines.
void PrintResources(const Listing& l) {
  if (!l.resourcesError.empty()) {
    std::printf("resources: not readable (%s)\n", l.resourcesError.c_str());
    return;
  }
  const StubResources& r = l.resources;
  std::string icon;
  for (const IconGroupEntry& e : r.icon) {
    icon += (icon.empty() ? "" : ", ") + std::to_string(e.width) + "x" + std::to_string(e.height) + " " +
            std::to_string(e.bitCount) + "-bit";
  }
  std::printf("icon: %s\n", icon.empty() ? "none" : icon.c_str());
  if (!r.versionFound) {
    std::printf("version info: none\n");
  } else {
    std::printf("version info: file %s, product %s\n", FormatVersion(r.version.fileVersion).c_str(),
                FormatVersion(r.version.productVersion).c_str());
    for (const auto& s : r.version.strings) {
      std::printf("  %s: %s\n", EscapeName(s.first).c_str(), EscapeName(s.second).c_str());
    }
  }
  std::printf("execution level: %s\n", !r.executionLevel.empty() ? r.executionLevel.c_str()
                                        : r.manifestFound       ? "none (the manifest asks for none)"
                                                                : "none (no manifest)");
}

void PrintJson(const Listing& l, int exitCode) {
  const sfx::SfxArchive& archive = l.package->archive();
  const std::string salt = l.salted ? JsonObject()
                                          .Number("offset", l.saltAt + kSaltMagicSize)
                                          .Number("size", kSaltSize)
                                          .Text()
                                    : "null";
  const std::string main = JsonObject()
                               .Number("offset", archive.mainOffset)
                               .Number("size", archive.mainSize)
                               .Raw("inflated_size", l.mainGood ? std::to_string(l.inflated) : "null")
                               .Text();
  JsonObject()
      .String("file", l.package->path())
      .String("signature", "good")
      .String("stub", DescribeStubKind(l.stubKind))
      .Raw("resources", ResourcesJson(l))
      .Raw("salt", salt)
      .String("mode", archive.Mode())
      .String("command_template", archive.commandTemplate)
      .Raw("main_program", main)
      .Raw("files", FilesJson(l))
      .Raw("key", KeyJson(l.package->key()))
      .StringOrNull("error", l.mainGood ? "" : MainProgramRefusal(l))
      .Number("exit", exitCode)
      .Print();
}

void PrintText(const Listing& l) {
  const sfx::SfxArchive& archive = l.package->archive();
  std::printf("key: %s\n", l.package->key()->Describe().c_str());
  std::printf("signature: good\n");
  std::printf("stub: %s\n", DescribeStubKind(l.stubKind));
  PrintResources(l);
  if (l.salted) {
    std::printf("salt: yes, %zu bytes at offset %u\n", kSaltSize,
                l.saltAt + static_cast<uint32_t>(kSaltMagicSize));
  } else {
    std::printf("salt: no (the signature does not hold against prepared MD5 collisions)\n");
  }
  std::printf("mode: %s\n", EscapeName(archive.Mode()).c_str());
  std::printf("command template: %s\n", EscapeName(archive.commandTemplate).c_str());
  std::printf("main program: offset %u, size %u, ", archive.mainOffset, archive.mainSize);
  if (!l.mainGood) {
    std::printf("not a valid package file (%s)\n", l.mainError.c_str());
  } else {
    std::printf("inflated %llu bytes\n", static_cast<unsigned long long>(l.inflated));
  }
  std::printf("files: %zu\n", archive.files.size());
  for (const sfx::FileRecord& record : archive.files) {
    std::printf("  %-24s %10u  %s  %s\n", EscapeName(record.name).c_str(), record.size,
                IsoTime(record.time).c_str(), ObjectKind(l.package->file(), record.offset, record.size));
  }
}

// The listing of a package the stub accepts: its stub, its salt and its main program inflated
// (to nowhere) to learn its size. Fails only where the file can't be read.
Status MakeListing(const CheckedPackage& package, Listing* listing) {
  Status status = ReadStubKind(package.file(), &listing->stubKind);
  if (!status.ok()) return status;
  // Resources that can't be read are shown as such, not refused: the stub does not check them.
  const Status resources = ReadStubResources(package.file(), &listing->resources);
  listing->resourcesError = resources.reason();
  listing->salted = PackageHasSalt(package.path(), package.archive(), &listing->saltAt);
  status = InflateObject(
      package.file(), package.archive().mainOffset, package.archive().mainSize,
      [](const uint8_t*, size_t) { return Status::Ok(); }, &listing->inflated);
  // A main program that does not inflate is the stub's refusal (phase 1); a read that fails is not.
  if (status.code() == kExitError) return status;
  listing->mainGood = status.ok();
  listing->mainError = status.reason();
  return Status::Ok();
}

int RunList(const Options& options) {
  const bool json = options.Has("--json");
  CheckedPackage package;
  Status status = OpenCheckedPackage(options, "list", json || options.quiet(), &package);
  if (!status.ok()) return ReportFailure(package, status, json);
  if (package.result() != 0) return ReportRefused(&package, json);

  Listing listing{&package, sfx::PeKind::kUnknown, {}, "", false, 0, false, 0, ""};
  status = MakeListing(package, &listing);
  if (!status.ok()) return ReportFailure(package, status, json);
  const int exitCode = listing.mainGood ? kExitGood : kExitBad;
  if (json) {
    PrintJson(listing, exitCode);
  } else {
    PrintText(listing);
  }
  return listing.mainGood ? kExitGood : Report(Status::Bad(MainProgramRefusal(listing)));
}

}  // namespace

const Command kListCommand = {
    "check a package and list what it holds",
    {"list", CheckingOptions(), kListHelp}, RunList};

}  // namespace sfxpack
