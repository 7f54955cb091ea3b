// The test signer's private key (SFXSTUB_TEST_PRIVATE_KEY, the private half of the key the tests
// expect built in), loaded once per test program. A key that can't be loaded fails the test.
#ifndef SFXSTUB_TESTS_COMMON_TEST_SIGNER_H_
#define SFXSTUB_TESTS_COMMON_TEST_SIGNER_H_

#include <gtest/gtest.h>

#include <string>

#include "tools/sfxpack/dsa_key.h"

namespace sfx {

inline const sfxpack::DsaPrivateKey& TestSignerKey() {
  static const sfxpack::DsaPrivateKey key = [] {
    sfxpack::DsaPrivateKey k;
    std::string error;
    if (!sfxpack::LoadDsaPrivateKey(SFXSTUB_TEST_PRIVATE_KEY, &k, &error)) {
      ADD_FAILURE() << "cannot load the test signer key: " << error;
    }
    return k;
  }();
  return key;
}

}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_TEST_SIGNER_H_
