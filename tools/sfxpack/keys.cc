#include "tools/sfxpack/keys.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "sfxstub/io/win32_error.h"
#include "tools/sfxpack/key_slot.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/pack_checks.h"

namespace sfxpack {
namespace {

// The key in the key slot of the stub `file` starts with (CheckingKey::Source::kStub).
Status ReadStubKey(const InputFile& file, sfx::DsaPublicKey* key) {
  const std::string noKey = file.path() + " has no key of its own to be checked with";
  std::vector<uint8_t> image(static_cast<size_t>(std::min<uint64_t>(file.size(), 64 << 10)));
  Status status = file.ReadAt(0, image.data(), image.size());
  if (!status.ok()) return status;
  const uint64_t end = std::min(PeImageEnd(image.data(), image.size()), file.size());
  if (end == 0 || end > kMaxStubImage) {
    return Status::Error(noKey + ": it does not start with a stub (no PE image); give --key");
  }
  image.resize(static_cast<size_t>(end));
  status = file.ReadAt(0, image.data(), image.size());
  StubKeySlot slot;
  if (status.ok()) status = FindKeySlot(image.data(), image.size(), &slot);
  if (!status.ok()) return Status::Error(noKey + ": " + status.reason() + "; give --key");
  if (slot.generic) {
    return Status::Bad(file.path() + "'s stub is generic: its key slot is empty, so it refuses every "
                       "package (" + DescribeArchiveError(sfx::kErrorFileInvalid) +
                       "); pack with the stub and --key, which stamps the key in, or stamp one "
                       "with `sfxpack stub`");
  }
  *key = slot.key;
  return Status::Ok();
}

}  // namespace

std::string CheckingKey::Origin() const {
  return source == Source::kOption ? "--key " + path : "the key the package's stub carries";
}

std::string CheckingKey::Describe() const {
  return fingerprint + " (" + Origin() + (testKey ? ", the repository's TEST key" : "") + ")";
}

Status NormalizeFingerprint(const std::string& text, std::string* fingerprint) {
  std::string digits;
  bool hex = true;
  for (char c : text) {
    if (c == ':') continue;
    hex = hex && std::isxdigit(static_cast<unsigned char>(c));
    digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (!hex || digits.size() != 64) {
    return Status::Error("--expect-fingerprint wants the 64 hexadecimal digits of a key's SHA-256 "
                         "fingerprint (as keygen, verify, list and extract print it), got '" +
                         EscapeName(text) + "'");
  }
  *fingerprint = digits;
  return Status::Ok();
}

Status ChooseCheckingKey(const Options& options, const InputFile& file, CheckingKey* key) {
  std::string expected;
  if (options.Has("--expect-fingerprint")) {
    const Status status = NormalizeFingerprint(options.Get("--expect-fingerprint"), &expected);
    if (!status.ok()) return status;
  }
  if (options.Has("--key")) {
    key->source = CheckingKey::Source::kOption;
    key->path = options.Get("--key");
    InputFile keyFile;
    Status status = keyFile.Open("--key", key->path, kMaxKeyFile);
    if (status.ok()) status = LoadDsaPublicKey(key->path, &key->key);
    if (!status.ok()) return status;
  } else {
    key->source = CheckingKey::Source::kStub;
    const Status status = ReadStubKey(file, &key->key);
    if (!status.ok()) return status;
  }
  key->fingerprint = KeyFingerprint(key->key);
  key->testKey = IsRepositoryTestKey(key->key);
  if (key->testKey) {
    Warn("the key checked with (" + key->Origin() + ") is the repository's TEST key: its "
         "private half is public, so anyone can sign a file it accepts, and a good verdict says "
         "nothing about who made it. Check with your own key (--key, --expect-fingerprint).");
  }
  if (!expected.empty() && expected != key->fingerprint) {
    return Status::Error("the key checked with (" + key->Origin() + ") has the fingerprint " +
                         key->fingerprint + ", not the expected " + expected);
  }
  return Status::Ok();
}

Status LoadSigningKey(const Options& options, const std::string& option, InputFile* keyFile,
                      DsaPrivateKey* key) {
  Status status = keyFile->Open(option, options.Get(option), kMaxKeyFile);
  if (!status.ok()) return status;
  std::string passText;
  const std::string* passphrase = nullptr;
  if (options.Has("--key-pass-file")) {
    status = ReadPassphrase(options.Get("--key-pass-file"), &passText);
    if (!status.ok()) return status;
    passphrase = &passText;
  }
  status = LoadDsaPrivateKey(options.Get(option), key, passphrase);
  if (status.ok() && IsRepositoryTestKey(key->pub)) {
    Warn(option + " is the repository's TEST key: its private half is public, so anyone can "
         "sign what a stub built with it accepts. Never ship anything signed with it.");
  }
  return status;
}

bool IsPrivateKeyFile(const InputFile& file) {
  if (file.size() == 0 || file.size() > kMaxKeyFile) return false;
  std::vector<uint8_t> contents(static_cast<size_t>(file.size()));
  if (!file.ReadAt(0, contents.data(), contents.size()).ok()) return false;
  const std::string text(contents.begin(), contents.end());
  if (text.find("PRIVATE KEY-----") != std::string::npos) return true;
  DsaPrivateKey key;
  return contents[0] == 0x30 && ParseDsaPrivateKey(contents, file.path(), &key).ok();
}

Status ReadPassphrase(const std::string& path, std::string* passphrase) {
  std::vector<uint8_t> text;
  const Status status = ReadWholeFile("--key-pass-file", path, 64 << 10, &text);
  if (!status.ok()) return status;
  const std::string line(text.begin(), text.end());
  *passphrase = line.substr(0, line.find_first_of("\r\n"));
  return Status::Ok();
}

}  // namespace sfxpack
