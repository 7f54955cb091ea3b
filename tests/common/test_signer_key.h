// The test signer's private key (SFXSTUB_TEST_PRIVATE_KEY, the private half of the key the tests
// expect built in), loaded once per test program; for the native tests that sign with sfxpack's
// own code. A key that can't be loaded fails the test. (Tests of both builds sign through
// test_signer.h.)
#ifndef SFXSTUB_TESTS_COMMON_TEST_SIGNER_KEY_H_
#define SFXSTUB_TESTS_COMMON_TEST_SIGNER_KEY_H_

#include <gtest/gtest.h>

#include "tools/sfxpack/dsa_key.h"

namespace sfx {

inline const sfxpack::DsaPrivateKey& TestSignerKey() {
  static const sfxpack::DsaPrivateKey key = [] {
    sfxpack::DsaPrivateKey k;
    const sfxpack::Status status = sfxpack::LoadDsaPrivateKey(SFXSTUB_TEST_PRIVATE_KEY, &k);
    if (!status.ok()) ADD_FAILURE() << "cannot load the test signer key: " << status.reason();
    return k;
  }();
  return key;
}

}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_TEST_SIGNER_KEY_H_
