// The keys the commands take: the key a package is checked against (--key, or the one built into
// this build's stub), and the private key that signs (--key or --signer-key, with an encrypted
// one's passphrase in --key-pass-file). Each key file is opened as an input first, so that its
// reason reads like every other input's and no output can replace it.
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

// The key to check against: the one built into sfxpack, or the file given with --key (public or
// private; its public half).
Status LoadCheckingKey(const Options& options, sfx::DsaPublicKey* key);

// The private key given with `option`, opened as `keyFile`.
Status LoadSigningKey(const Options& options, const std::string& option, InputFile* keyFile,
                      DsaPrivateKey* key);

// The passphrase in the first line of `path` (given through --key-pass-file), without its line
// end, as `openssl -passin file:` reads it.
Status ReadPassphrase(const std::string& path, std::string* passphrase);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_KEYS_H_
