// The keys the commands take: the key a package is checked against (ChooseCheckingKey), and the
// private key that signs (--key, with an encrypted one's passphrase in --key-pass-file). Each
// key file is opened as an input first, so that its reason reads like every other input's and
// no output can replace it. Whatever the key, its fingerprint is shown, and the repository's
// test key, whose private half is public, is never used without a loud warning.
#ifndef SFXSTUB_TOOLS_SFXPACK_KEYS_H_
#define SFXSTUB_TOOLS_SFXPACK_KEYS_H_

#include <string>

#include "sfxstub/format/dsa_public_key.h"
#include "tools/sfxpack/dsa_key.h"
#include "tools/sfxpack/files.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/status.h"

namespace sfxpack {

// Key files are a few kilobytes; a larger one is not a key (a package given by mistake).
constexpr uint64_t kMaxKeyFile = 1 << 20;

// The key a checking command (verify, list, extract) checks a file with, and where it came from.
struct CheckingKey {
  enum class Source { kOption, kStub };

  sfx::DsaPublicKey key;
  Source source = Source::kStub;
  std::string path;         // --key's file, for kOption
  std::string fingerprint;  // KeyFingerprint(key)
  bool testKey = false;     // the repository's test key

  // Where the key came from, in words: "--key k.pub.pem", "the key the package's stub carries".
  std::string Origin() const;
  // "3f0c...e1 (--key k.pub.pem)", with ", the repository's TEST key" when it is that.
  std::string Describe() const;
};

// The one place that decides which key a checking command checks `file` with: the file given
// with --key (public or private; its public half), otherwise the key in the key slot of the
// file's own stub, which is exactly the key the stub checks the package with. A file with no
// stub, or a stub without exactly one slot, has no key to check with (exit 2: give --key); a
// generic stub's slot is empty and the stub refuses every package (exit 1). Then
// --expect-fingerprint, when given, must be the key's fingerprint; a mismatch fails with exit 2
// (the key is not the one expected). Warns loudly when the key is the repository's test key.
Status ChooseCheckingKey(const Options& options, const InputFile& file, CheckingKey* key);

// --expect-fingerprint's value made plain: 64 hexadecimal digits in lower case (upper case and
// ':' between the digits are accepted as given). A usage error for anything else.
Status NormalizeFingerprint(const std::string& text, std::string* fingerprint);

// The private key given with `option`, opened as `keyFile`; warns when it is the test key.
Status LoadSigningKey(const Options& options, const std::string& option, InputFile* keyFile,
                      DsaPrivateKey* key);

// True when `file` holds a private key (a PEM "PRIVATE KEY" block, or a DER private key of ours),
// which no command appends to. Reads at most kMaxKeyFile bytes.
bool IsPrivateKeyFile(const InputFile& file);

// The passphrase in the first line of `path` (given through --key-pass-file), without its line
// end, as `openssl -passin file:` reads it.
Status ReadPassphrase(const std::string& path, std::string* passphrase);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_KEYS_H_
