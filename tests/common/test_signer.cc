// The trailers of the test signer, the same in both builds (the signatures differ in where they
// come from: test_signer_native.cc, test_signer_recorded.cc).
#include "tests/common/test_signer.h"

#include "sfxstub/format/package_format.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/trailers.h"

namespace sfx {
namespace test {

std::vector<uint8_t> TestBinaryTrailer(const uint8_t* data, size_t length) {
  uint8_t digest[kMd5DigestSize];
  uint8_t signature[kDsaSignatureSize];
  Md5Digest(digest, data, static_cast<uint32_t>(length));
  SignWithTestSigner(digest, signature);
  return sfxpack::BinaryTrailer(signature);
}

std::vector<uint8_t> TestTextDsaTrailer(const uint8_t* data, size_t length) {
  uint8_t digest[kMd5DigestSize];
  uint8_t signature[kDsaSignatureSize];
  TextDigest(digest, data, static_cast<uint32_t>(length));
  SignWithTestSigner(digest, signature);
  return sfxpack::TextDsaTrailer(signature);
}

sfxpack::TrailerSigner TestTrailerSigner() {
  return [](const uint8_t* data, size_t length) { return TestBinaryTrailer(data, length); };
}

}  // namespace test
}  // namespace sfx
