// A double-byte code page for tests, shaped like Shift-JIS: lead bytes 0x81-0x9F and 0xE0-0xFC.
// Any byte may follow a lead byte here, so tests can put '%', '\\', '"' or a blank in the trail
// position and check that it is not taken for that character.
#ifndef SFXSTUB_MAIN_TEST_CODE_PAGE_H_
#define SFXSTUB_MAIN_TEST_CODE_PAGE_H_

#include <cstdint>

#include "sfxstub/main/dbcs_text.h"

namespace sfx {

inline bool IsTestLeadByte(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

inline LeadByteTest DoubleByteCodePage() { return IsTestLeadByte; }
inline LeadByteTest SingleByteCodePage() { return LeadByteTest(); }

}  // namespace sfx

#endif  // SFXSTUB_MAIN_TEST_CODE_PAGE_H_
