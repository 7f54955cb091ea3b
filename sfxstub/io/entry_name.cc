#include "sfxstub/io/entry_name.h"

#include <cctype>
#include <cstring>

namespace sfx {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Whether `base` (a component up to its first '.', trailing blanks removed) names a device.
bool IsDeviceName(const std::string& base) {
  std::string upper;
  for (char c : base) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (upper == device) return true;
  }
  if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) {
    return false;
  }
  const std::string digit = upper.substr(3);
  // 1-9, and the superscripts one, two and three (U+00B9, U+00B2, U+00B3) in UTF-8.
  return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// A component Windows makes ".", ".." or nothing: the folder itself or its parent.
bool IsDotsAndBlanks(const std::string& component) {
  return component.find_first_not_of(". ") == std::string::npos;
}

bool ComponentStaysInFolder(const std::string& component) {
  if (IsDotsAndBlanks(component)) return false;
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  return !IsDeviceName(base);
}

}  // namespace

bool StaysInFolder(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) return false;
  if (name.find(':') != std::string::npos) return false;
  bool named = false;
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    // Empty components are runs of separators, which Windows makes one.
    if (end > start) {
      if (!ComponentStaysInFolder(name.substr(start, end - start))) return false;
      named = true;
    }
    if (end == name.size()) return named;
    start = end + 1;
  }
}

}  // namespace sfx
