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
  return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

bool ComponentStaysInFolder(const std::string& component) {
  if (component.empty()) return false;
  if (component.find(':') != std::string::npos) return false;
  const char last = component.back();
  if (last == '.' || last == ' ') return false;
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  return !IsDeviceName(base);
}

}  // namespace

bool StaysInFolder(const std::string& name) {
  // A zero byte would end the name early for every Win32 call.
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (!ComponentStaysInFolder(name.substr(start, end - start))) return false;
    if (end == name.size()) return true;
    start = end + 1;
  }
}

}  // namespace sfx
