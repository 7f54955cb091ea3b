#include "sfxstub/io/wide_path_win32.h"

#include <climits>
#include <cwchar>
#include <vector>

#include "sfxstub/io/wide_text.h"

namespace sfx {

// wchar_t is UTF-16 on Windows: the units are copied one for one between the two types.
bool ToWide(const std::string& utf8, WideString* wide) {
  std::u16string units;
  if (!Utf16FromUtf8(utf8, &units)) return false;
  wide->assign(units.begin(), units.end());
  return true;
}

WideString WidePath(const std::string& utf8) {
  WideString wide;
  if (!ToWide(utf8, &wide)) wide.clear();
  return wide;
}

std::string Utf8FromWide(const wchar_t* text, size_t length) {
  if (text == nullptr) return std::string();
  const std::u16string units(text, text + length);
  return Utf8FromUtf16(units);
}

std::string Utf8FromWide(const wchar_t* text) {
  return text == nullptr ? std::string() : Utf8FromWide(text, std::wcslen(text));
}

std::string Utf8FromAnsi(const std::string& bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return bytes;
  const int size = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  if (needed <= 0) return bytes;
  std::vector<wchar_t> wide(static_cast<size_t>(needed));
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), needed);
  if (length <= 0) return bytes;
  return Utf8FromWide(wide.data(), static_cast<size_t>(length));
}

}  // namespace sfx
