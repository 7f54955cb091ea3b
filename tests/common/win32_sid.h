// Account names as text for Windows-side tests: a SID as "S-1-5-...", and the current account's.
// Header only, for the test programs and the stand-in setup program alike (link advapi32).
#ifndef SFXSTUB_TESTS_COMMON_WIN32_SID_H_
#define SFXSTUB_TESTS_COMMON_WIN32_SID_H_

#include <windows.h>
#include <sddl.h>

#include <string>

namespace sfx {
namespace test {

// "S-1-5-32-544" and the like; empty when the SID can't be converted.
inline std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return std::string();
  std::string result = text;
  LocalFree(text);
  return result;
}

// The SID of the account this process runs as; empty when its token can't be read.
inline std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  alignas(TOKEN_USER) BYTE buffer[256];
  DWORD needed = 0;
  const BOOL ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &needed);
  CloseHandle(token);
  return ok ? SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : std::string();
}

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_COMMON_WIN32_SID_H_
