#include "tools/sfxpack/keys.h"

#include <vector>

#include "sfxstub/signing/signature_verify.h"

namespace sfxpack {

Status LoadCheckingKey(const Options& options, sfx::DsaPublicKey* key) {
  if (!options.Has("--key")) {
    *key = sfx::SignerPublicKey;
    return Status::Ok();
  }
  InputFile keyFile;
  const Status status = keyFile.Open("--key", options.Get("--key"), kMaxKeyFile);
  return status.ok() ? LoadDsaPublicKey(options.Get("--key"), key) : status;
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
  return LoadDsaPrivateKey(options.Get(option), key, passphrase);
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
