#include "sfxstub/io/temp_folder_win32.h"

#include <windows.h>

#include <vector>

#include "sfxstub/io/wide_path_win32.h"

namespace sfx {

const char kFallbackTempFolder[] = "C:\\TEMP";

bool ReadEnvironment(const wchar_t* name, std::string* value) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      *value = Utf8FromWide(buffer.data(), length);
      return true;
    }
    // Too small: `length` is the size needed, terminator included.
    buffer.resize(length);
  }
}

std::string TempFolderBase() {
  std::string base;
  if (!ReadEnvironment(L"TEMP", &base) && !ReadEnvironment(L"TMP", &base)) base = kFallbackTempFolder;
  return base;
}

}  // namespace sfx
