#include "sfxstub/main/command_tail.h"

namespace sfx {

std::string CommandLineTail(const char* commandLine, const LeadByteTest& isLead) {
  if (commandLine == nullptr) return std::string();
  const std::string line(commandLine);  // up to the first zero byte
  size_t pos = 0;
  bool quoted = false;
  while (pos < line.size()) {
    const uint8_t c = static_cast<uint8_t>(line[pos]);
    if (c == '"') {
      quoted = !quoted;
    } else if (c <= 32 && !quoted) {
      break;
    }
    pos += CharLength(line, pos, isLead);
  }
  while (pos < line.size() && static_cast<uint8_t>(line[pos]) <= 32) ++pos;
  return line.substr(pos);
}

bool HasQuietSwitch(const std::string& commandTail, const LeadByteTest& isLead) {
  static const char* const kSwitches[] = {"/oem", "/silent", "/verysilent"};
  for (const char* s : kSwitches) {
    if (ContainsText(commandTail, s, isLead)) return true;
  }
  return false;
}

}  // namespace sfx
