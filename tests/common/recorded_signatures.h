// The signatures the native build's tests made with the test signer's key, for the Windows
// builds' tests (test_signer_recorded.cc): defined in test_signatures.cc, which
// record_test_signatures.cmake generates in the native build folder.
#ifndef SFXSTUB_TESTS_COMMON_RECORDED_SIGNATURES_H_
#define SFXSTUB_TESTS_COMMON_RECORDED_SIGNATURES_H_

#include <cstddef>
#include <cstdint>

#include "sfxstub/format/dsa_public_key.h"

namespace sfx {
namespace test {

struct RecordedSignature {
  uint8_t digest[16];
  uint8_t signature[40];  // r || s
};

extern const DsaPublicKey kRecordedSignerKey;
extern const RecordedSignature kRecordedSignatures[];
extern const size_t kRecordedSignatureCount;

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_RECORDED_SIGNATURES_H_
