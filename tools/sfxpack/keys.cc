#include "tools/sfxpack/keys.h"

#include <cctype>
#include <vector>

#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/pack_checks.h"

namespace sfxpack {
std::string CheckingKey::Origin() const {
  return source == Source::kOption ? "--key " + path : "the key built into sfxpack";
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

Status ChooseCheckingKey(const Options& options, const InputFile& /*file*/, CheckingKey* key) {
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
    key->source = CheckingKey::Source::kBuiltIn;
    key->key = sfx::SignerPublicKey;
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
