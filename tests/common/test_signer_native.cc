// The test signer natively: sfxpack's signer with the test key. When the environment names a
// file in SFXSTUB_TEST_SIGNATURE_RECORD, every signature made is also written there, with the
// public key, for the Windows builds' tests (record_test_signatures.cmake).
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "tests/common/test_signer.h"
#include "tests/common/test_signer_key.h"
#include "tools/sfxpack/dsa_signer.h"

namespace sfx {
namespace test {
namespace {

void AppendHex(FILE* out, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) std::fprintf(out, "%02x", bytes[i]);
}

// "key P Q G Y" once, then "sig DIGEST SIGNATURE" for each signature, in hex.
void Record(const uint8_t digest[16], const uint8_t signature[40]) {
  static std::mutex lock;
  static bool keyWritten = false;
  const char* path = std::getenv("SFXSTUB_TEST_SIGNATURE_RECORD");
  if (!path || !*path) return;
  std::lock_guard<std::mutex> hold(lock);
  FILE* out = std::fopen(path, "a");
  if (!out) {
    ADD_FAILURE() << "cannot write the signature record " << path;
    return;
  }
  if (!keyWritten) {
    const DsaPublicKey& key = TestSignerPublicKey();
    std::fputs("key ", out);
    AppendHex(out, reinterpret_cast<const uint8_t*>(&key), sizeof key);
    std::fputc('\n', out);
    keyWritten = true;
  }
  std::fputs("sig ", out);
  AppendHex(out, digest, 16);
  std::fputc(' ', out);
  AppendHex(out, signature, 40);
  std::fputc('\n', out);
  std::fclose(out);
}

}  // namespace

const DsaPublicKey& TestSignerPublicKey() { return TestSignerKey().pub; }

void SignWithTestSigner(const uint8_t digest[16], uint8_t signature[40]) {
  sfxpack::SignDigest(TestSignerKey(), digest, signature);
  Record(digest, signature);
}

}  // namespace test
}  // namespace sfx
