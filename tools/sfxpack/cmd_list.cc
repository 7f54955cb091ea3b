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
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/pack_checks.h"
#include "tools/sfxpack/package_inflate.h"
#include "tools/sfxpack/package_salt.h"
#include "tools/sfxpack/package_writer.h"

namespace sfxpack {

const char kListHelp[] =
    "usage: sfxpack list [--key PUB] [--json] [-q] PACKAGE\n"
    "Checks the package as the stub does and lists its catalog: the stub's kind, the salt, the\n"
    "command template, the main program and every listed file (name, stored size, time, kind).\n"
    "Control characters in names are shown escaped (\\n, \\t, \\xNN).\n"
    "Exit 0: a good package; 1: the stub would refuse it (the reason is printed); 2: it can't be\n"
    "read, or a usage error.\n"
    "  --key PUB              the key to check with; default: the key built into this build's stub\n"
    "  --json                 print one JSON object instead of text (see the README)\n"
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
// reader refuses.
int ReportRefused(CheckedPackage* package, bool json) {
  const std::string& path = package->path();
  const bool signatureGood = package->SignatureGood();
  const std::string refusal = package->Refusal();
  const std::string why = signatureGood
                              ? "the signature is good, but the stub refuses the archive: " + refusal
                              : "BAD (no signature, or one that does not match: not a package, "
                                "truncated, signed with another key, or changed after signing)";
  if (json) {
    std::printf("{\"file\":%s,\"signature\":%s,\"error\":{\"code\":%d,\"text\":%s}}\n",
                JsonString(path).c_str(), signatureGood ? "\"good\"" : "\"bad\"",
                static_cast<int>(package->result()), JsonString(refusal).c_str());
  } else {
    std::printf("signature: %s\n", signatureGood ? "good" : why.c_str());
  }
  return Report(Status::Bad(path + " is not a valid package: " + (signatureGood ? why : refusal)));
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
  bool salted;
  uint32_t saltAt;
  bool mainGood;
  uint64_t inflated;
  std::string mainError;
};

void PrintJson(const Listing& l) {
  const sfx::SfxArchive& archive = l.package->archive();
  std::printf("{\"file\":%s,\"signature\":\"good\",\"stub\":%s,\"salt\":%s,\"mode\":%s,"
              "\"command_template\":%s,\"main_program\":{\"offset\":%u,\"size\":%u,"
              "\"inflated_size\":%s},\"files\":[",
              JsonString(l.package->path()).c_str(), JsonString(DescribeStubKind(l.stubKind)).c_str(),
              l.salted ? ("{\"offset\":" + std::to_string(l.saltAt + kSaltMagicSize) +
                          ",\"size\":" + std::to_string(kSaltSize) + "}").c_str()
                       : "null",
              JsonString(archive.Mode()).c_str(), JsonString(archive.commandTemplate).c_str(),
              archive.mainOffset, archive.mainSize,
              l.mainGood ? std::to_string(l.inflated).c_str() : "null");
  bool first = true;
  for (const sfx::FileRecord& record : archive.files) {
    std::printf("%s{\"name\":%s,\"offset\":%u,\"size\":%u,\"time\":%u,\"time_utc\":%s,\"kind\":%s}",
                first ? "" : ",", JsonString(record.name).c_str(), record.offset, record.size,
                record.time, JsonString(IsoTime(record.time)).c_str(),
                JsonString(ObjectKind(l.package->file(), record.offset, record.size)).c_str());
    first = false;
  }
  std::printf("]}\n");
}

void PrintText(const Listing& l) {
  const sfx::SfxArchive& archive = l.package->archive();
  std::printf("signature: good\n");
  std::printf("stub: %s\n", DescribeStubKind(l.stubKind));
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

int RunList(const Options& options) {
  const bool json = options.Has("--json");
  CheckedPackage package;
  Status status = OpenCheckedPackage(options, "list", json || options.quiet(), &package);
  if (!status.ok()) return Report(status);
  if (package.result() != 0) return ReportRefused(&package, json);

  Listing listing{&package, sfx::PeKind::kUnknown, false, 0, false, 0, ""};
  status = ReadStubKind(package.file(), &listing.stubKind);
  if (!status.ok()) return Report(status);
  listing.salted = PackageHasSalt(package.path(), package.archive(), &listing.saltAt);
  const Status main = InflateObject(
      package.file(), package.archive().mainOffset, package.archive().mainSize,
      [](const uint8_t*, size_t) { return Status::Ok(); }, &listing.inflated);
  listing.mainGood = main.ok();
  listing.mainError = main.reason();
  if (json) {
    PrintJson(listing);
  } else {
    PrintText(listing);
  }
  return listing.mainGood ? kExitGood : kExitBad;
}

}  // namespace

const Command kListCommand = {
    "check a package and list what it holds",
    {"list", CheckingOptions(), kListHelp}, RunList};

}  // namespace sfxpack
