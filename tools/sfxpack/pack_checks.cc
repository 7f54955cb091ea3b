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

sfx::PeProblem ReadFilePeHeaders(const InputFile& file, sfx::PeRules rules,
                                 uint8_t (&headers)[sfx::kPeHeadersSize], sfx::PeImage* image,
                                 Status* readStatus) {
  Status failed;
  const auto readAt = [&](uint64_t at, uint8_t* buffer, uint32_t n) {
    const Status status = file.ReadAt(at, buffer, n);
    if (!status.ok() && failed.ok()) failed = status;
    return status.ok();
  };
  const sfx::PeProblem problem = sfx::ReadPeHeaders(readAt, file.size(), rules, headers, image);
  if (readStatus != nullptr) *readStatus = failed;
  return problem;
}

bool IsPeFile(const InputFile& file) {
  uint8_t headers[sfx::kPeHeadersSize];
  sfx::PeImage image;
  return sfx::HasPeSignature(ReadFilePeHeaders(file, sfx::PeRules::kStrict, headers, &image));
}

bool HasCertificateTable(const InputFile& file) {
  uint8_t headers[sfx::kPeHeadersSize];
  sfx::PeImage image;
  sfx::PeDirectory entry;
  return ReadFilePeHeaders(file, sfx::PeRules::kStrict, headers, &image) == sfx::PeProblem::kNone &&
         image.Directory(sfx::kPeCertificateDirectory, &entry) && entry.address != 0 && entry.size != 0;
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
