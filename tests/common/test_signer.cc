// The trailers of the test signer, the same in both builds (the signatures differ in where they
// come from: test_signer_native.cc, test_signer_recorded.cc).
#include "tests/common/test_signer.h"

#include "sfxstub/format/package_format.h"
#include "sfxstub/signing/signature_verify.h"
#include "tools/sfxpack/trailers.h"

namespace sfx {
namespace test {

namespace {

// `trailer` made of the test signer's signature of `digest`.
std::vector<uint8_t> SignedTrailer(const uint8_t digest[16],
                                   std::vector<uint8_t> (*trailer)(const uint8_t signature[40])) {
  uint8_t signature[kDsaSignatureSize];
  SignWithTestSigner(digest, signature);
  return trailer(signature);
}

}  // namespace

std::vector<uint8_t> TestBinaryTrailer(const uint8_t* data, size_t length) {
  uint8_t digest[kMd5DigestSize];
  Md5Digest(digest, data, static_cast<uint32_t>(length));
  return SignedTrailer(digest, sfxpack::BinaryTrailer);
}

std::vector<uint8_t> TestTextDsaTrailer(const uint8_t* data, size_t length) {
  uint8_t digest[kMd5DigestSize];
  TextDigest(digest, data, static_cast<uint32_t>(length));
  return SignedTrailer(digest, sfxpack::TextDsaTrailer);
}

sfxpack::TrailerSigner TestTrailerSigner() {
  return [](const uint8_t* data, size_t length) { return TestBinaryTrailer(data, length); };
}

}  // namespace test
}  // namespace sfx
