// sfxpack list: the signature verdict, whether the package is salted, and its catalog, read
// through the same archive reader as the stub.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "sfxstub/io/memory_stream.h"
#include "sfxstub/archive/package_file.h"
#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/file_util.h"
#include "tools/sfxpack/package_salt.h"
#include "tools/sfxpack/package_writer.h"

namespace sfxpack {
namespace {

constexpr const char* kListUsage = "usage: sfxpack list [--key PUB] PACKAGE\n";

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
const char* ObjectKind(const std::vector<uint8_t>& package, uint32_t offset, uint32_t size) {
  if (size >= sfx::kPackageMagicSize) {
    const uint8_t* start = package.data() + offset;
    if (!std::memcmp(start, sfx::CompressedPackageMagic(), sfx::kPackageMagicSize)) return "package";
    if (!std::memcmp(start, sfx::DeltaPackageMagic(), sfx::kPackageMagicSize)) return "delta";
  }
  return "raw";
}

// The inflated length of the package file at the range, or -1 when it does not decode.
long long InflatedSize(std::vector<uint8_t>& package, uint32_t offset, uint32_t size) {
  sfx::MemoryStream stream;
  if (!stream.Attach(package.data() + offset, size)) return -1;
  uint8_t* content = nullptr;
  uint32_t length = 0;
  if (!sfx::ReadPackageFile(&stream, &content, &length)) return -1;
  delete[] content;
  return length;
}

}  // namespace

int RunList(int argc, char** argv) {
  std::string keyPath, path;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kListUsage, stdout);
      return 0;
    } else if (arg == "--key" && i + 1 < argc) {
      keyPath = argv[++i];
    } else if (arg.empty() || arg[0] == '-' || !path.empty()) {
      std::fprintf(stderr, "sfxpack: list: unexpected argument '%s'\n%s", arg.c_str(), kListUsage);
      return 2;
    } else {
      path = arg;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "sfxpack: list: no package given\n%s", kListUsage);
    return 2;
  }
  sfx::DsaPublicKey key = sfx::SignerPublicKey;
  std::string error;
  if (!keyPath.empty() && !LoadDsaPublicKey(keyPath, &key, &error)) {
    std::fprintf(stderr, "sfxpack: %s\n", error.c_str());
    return 2;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, &error)) {
    std::fprintf(stderr, "sfxpack: %s\n", error.c_str());
    return 2;
  }

  bool signatureGood = sfx::VerifySignedFile(path.c_str(), key);
  std::printf("signature: %s\n", signatureGood ? "good" : "BAD (not signed with this key)");
  if (!signatureGood) return 1;
  sfx::SfxArchive archive(key);
  int32_t result = archive.Open(path);
  // The reader looked at the file again; it must be the one read above.
  if (result == 0 && bytes.size() < archive.SignedLength()) result = sfx::kErrorFileInvalid;
  if (result != 0) {
    const std::string why = result == archive.LastStatus().code()
                                ? archive.LastStatus().ToString()
                                : "error " + std::to_string(result) + ": the package changed while it was read";
    std::fprintf(stderr, "sfxpack: %s is not a valid package (%s)\n", path.c_str(), why.c_str());
    return 1;
  }
  std::printf("stub: %s\n", DescribeStubKind(GetStubKind(bytes.data(), bytes.size())));
  uint32_t saltAt = 0;
  if (FindSaltBlock(bytes.data(), bytes.size(), FirstStoredObject(archive), &saltAt)) {
    std::printf("salt: yes, %zu bytes at offset %u\n", kSaltSize,
                saltAt + static_cast<uint32_t>(kSaltMagicSize));
  } else {
    std::printf("salt: no (the signature does not hold against prepared MD5 collisions)\n");
  }
  std::printf("mode: %s\n", archive.Mode().c_str());
  std::printf("command template: %s\n", archive.commandTemplate.c_str());
  long long inflated = InflatedSize(bytes, archive.mainOffset, archive.mainSize);
  std::printf("main program: offset %u, size %u, ", archive.mainOffset, archive.mainSize);
  if (inflated < 0) {
    std::printf("not a valid package file\n");
  } else {
    std::printf("inflated %lld bytes\n", inflated);
  }
  std::printf("files: %zu\n", archive.files.size());
  for (const sfx::FileRecord& record : archive.files) {
    std::printf("  %-24s %10u  %s  %s\n", record.name.c_str(), record.size,
                IsoTime(record.time).c_str(), ObjectKind(bytes, record.offset, record.size));
  }
  return inflated < 0 ? 1 : 0;
}

}  // namespace sfxpack
