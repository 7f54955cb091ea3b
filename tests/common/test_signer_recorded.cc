// The test signer in the Windows builds: the signatures the native build made with the test key
// (test_signatures.cc, generated there), looked up by digest.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/common/recorded_signatures.h"
#include "tests/common/signing_samples.h"
#include "tests/common/test_signer.h"

namespace sfx {
namespace test {

const DsaPublicKey& TestSignerPublicKey() { return kRecordedSignerKey; }

void SignWithTestSigner(const uint8_t digest[16], uint8_t signature[40]) {
  for (size_t i = 0; i < kRecordedSignatureCount; ++i) {
    if (std::memcmp(kRecordedSignatures[i].digest, digest, 16) == 0) {
      std::memcpy(signature, kRecordedSignatures[i].signature, 40);
      return;
    }
  }
  std::memset(signature, 0, 40);
  ADD_FAILURE() << "the native tests signed no digest " << Hex(digest, 16)
                << ": build the native tree (its tests make the signatures), then this one";
}

}  // namespace test
}  // namespace sfx
