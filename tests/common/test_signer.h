// The test signer, in both builds: signatures and trailers under the private half of the key the
// tests expect built in (SFXSTUB_TEST_PRIVATE_KEY, by default keys/test-signer).
//
// Natively the signatures are made with sfxpack's signer (Crypto++). The Windows builds carry no
// big-number library of their own: their tests use the signatures the native build made when it
// ran the same tests (test_signatures.cc, generated in the native build folder by
// record_test_signatures.cmake), so that the stub's own MD5 and DSA arithmetic is exercised
// under Wine by verifying signatures it did not make. A digest the native tests never signed
// fails the test that asks for it.
#ifndef SFXSTUB_TESTS_COMMON_TEST_SIGNER_H_
#define SFXSTUB_TESTS_COMMON_TEST_SIGNER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sfxstub/format/dsa_public_key.h"
#include "tools/sfxpack/package_writer.h"

namespace sfx {
namespace test {

// The public half of the test signer's key.
const DsaPublicKey& TestSignerPublicKey();

// r || s of `digest` under the test signer's key.
void SignWithTestSigner(const uint8_t digest[16], uint8_t signature[40]);

// The binary DSA trailer ("OLMSignd") and the text DSA trailer ("OLMSignA") that sign
// data[0, length) with the test signer's key.
std::vector<uint8_t> TestBinaryTrailer(const uint8_t* data, size_t length);
std::vector<uint8_t> TestTextDsaTrailer(const uint8_t* data, size_t length);

// TestBinaryTrailer as the package writer's signer.
sfxpack::TrailerSigner TestTrailerSigner();

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_TEST_SIGNER_H_
