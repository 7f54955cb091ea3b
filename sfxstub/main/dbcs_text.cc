#include "sfxstub/main/dbcs_text.h"

namespace sfx {

size_t CharLength(const std::string& text, size_t pos, const LeadByteTest& isLead) {
  if (isLead && pos + 1 < text.size() && isLead(static_cast<uint8_t>(text[pos]))) return 2;
  return 1;
}

size_t FindText(const std::string& text, const std::string& needle, size_t from,
                const LeadByteTest& isLead) {
  if (from > text.size()) return std::string::npos;
  if (needle.size() > text.size()) return std::string::npos;
  const size_t last = text.size() - needle.size();
  for (size_t pos = from; pos <= last; pos += CharLength(text, pos, isLead)) {
    if (text.compare(pos, needle.size(), needle) == 0) return pos;
  }
  return std::string::npos;
}

size_t FindLastChar(const std::string& text, char ch, const LeadByteTest& isLead) {
  size_t found = std::string::npos;
  for (size_t pos = 0; pos < text.size(); pos += CharLength(text, pos, isLead)) {
    if (text[pos] == ch) found = pos;
  }
  return found;
}

}  // namespace sfx
