#include "tools/sfxpack/pack_checks.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "sfxstub/io/entry_name.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/messages.h"

namespace sfxpack {

// The public test key's PEM text, embedded at build time (test_key.cc).
extern const char kRepositoryTestKeyPem[];

namespace {

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The PE header's offset, or 0 when the file is no PE image.
uint32_t PeHeaderOffset(const InputFile& file) {
  uint8_t dos[0x40];
  if (file.size() < sizeof dos || !file.ReadAt(0, dos, sizeof dos).ok()) return 0;
  if (dos[0] != 'M' || dos[1] != 'Z') return 0;
  const uint32_t header = LoadU32(dos + 0x3C);
  uint8_t signature[4];
  if (header < 0x40 || header > file.size() || file.size() - header < 4 ||
      !file.ReadAt(header, signature, 4).ok() || std::memcmp(signature, "PE\0\0", 4) != 0) {
    return 0;
  }
  return header;
}

}  // namespace

Status CheckListedName(const std::string& name) {
  const std::string shown = "'" + EscapeName(name) + "'";
  if (name.empty()) return Status::Error("empty file name");
  if (name.size() > kMaxListedName) {
    return Status::Error("file name " + shown + " is longer than " + std::to_string(kMaxListedName) +
                         " bytes");
  }
  if (name.find_first_of("/\\") != std::string::npos) {
    return Status::Error("file name " + shown + " holds a path separator");
  }
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return Status::Error("file name " + shown + " holds a control character");
    if (std::strchr("<>\"|?*", c)) {
      return Status::Error("file name " + shown + " holds '" + std::string(1, static_cast<char>(c)) +
                           "', which Windows does not allow in a name");
    }
  }
  if (!sfx::StaysInFolder(name)) {
    return Status::Error("file name " + shown +
                         " is refused by the stub (\"..\", \".\", a ':', or a device name such as CON "
                         "or NUL)");
  }
  // The stub writes such a name, but Windows strips the dots and blanks: the file would arrive
  // under another name than the one listed.
  if (name.back() == '.' || name.back() == ' ') {
    std::string stripped = name;
    while (!stripped.empty() && (stripped.back() == '.' || stripped.back() == ' ')) stripped.pop_back();
    return Status::Error("file name " + shown +
                         " ends with a dot or blank, which Windows strips: it would arrive as '" +
                         EscapeName(stripped) + "'");
  }
  return Status::Ok();
}

std::string FoldCase(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

bool IsReservedName(const std::string& name) {
  const std::string folded = FoldCase(name);
  return folded == "setup.ovr" || folded == "tarvo.setup";
}

bool HasNonAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return true;
  }
  return false;
}

bool IsPeFile(const InputFile& file) { return PeHeaderOffset(file) != 0; }

bool HasCertificateTable(const InputFile& file) {
  const uint32_t header = PeHeaderOffset(file);
  if (!header) return false;
  // "PE\0\0", the 20-byte file header, then the optional header: its magic says where the data
  // directories start (96 bytes in for PE32, 112 for PE32+); the certificate table is entry 4.
  uint8_t optional[2 + 240];
  const uint64_t start = static_cast<uint64_t>(header) + 24;
  if (start + sizeof optional > file.size() || !file.ReadAt(start, optional, sizeof optional).ok()) {
    return false;
  }
  const uint16_t magic = static_cast<uint16_t>(optional[0] | optional[1] << 8);
  const size_t directories = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;
  if (!directories) return false;
  const uint32_t count = LoadU32(optional + directories - 4);
  if (count <= 4) return false;
  const uint8_t* entry = optional + directories + 4 * 8;
  return LoadU32(entry) != 0 && LoadU32(entry + 4) != 0;
}

bool IsRepositoryTestKey(const sfx::DsaPublicKey& key) {
  static const sfx::DsaPublicKey* testKey = [] {
    static sfx::DsaPublicKey parsed;
    const std::string text = kRepositoryTestKeyPem;
    return ParseDsaPublicKey(std::vector<uint8_t>(text.begin(), text.end()), "test key", &parsed).ok()
               ? &parsed
               : nullptr;
  }();
  return testKey && std::memcmp(testKey, &key, sizeof key) == 0;
}

}  // namespace sfxpack
