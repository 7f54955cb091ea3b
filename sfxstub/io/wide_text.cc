#include "sfxstub/io/wide_text.h"

#include <cstdint>

namespace sfx {

namespace {

bool IsLeadSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsTrailSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(uint32_t value, std::string* out) {
  if (value < 0x80) {
    out->push_back(static_cast<char>(value));
  } else if (value < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (value >> 6)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else if (value < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (value >> 12)));
    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (value >> 18)));
    out->push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  }
}

}  // namespace

std::string Utf8FromUtf16(const char16_t* units, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t value = units[i];
    if (IsLeadSurrogate(value) && i + 1 < count && IsTrailSurrogate(units[i + 1])) {
      value = 0x10000 + ((value - 0xD800) << 10) + (static_cast<uint32_t>(units[i + 1]) - 0xDC00);
      ++i;
    }
    AppendUtf8(value, &out);  // a lone surrogate goes out as its own three bytes
  }
  return out;
}

bool Utf16FromUtf8(const std::string& text, std::u16string* units) {
  std::u16string out;
  out.reserve(text.size());
  bool lastWasLoneLead = false;
  for (size_t i = 0; i < text.size();) {
    const uint8_t first = static_cast<uint8_t>(text[i]);
    size_t length;
    uint32_t value;
    uint32_t minimum;
    if (first < 0x80) {
      length = 1, value = first, minimum = 0;
    } else if (first >= 0xC2 && first <= 0xDF) {
      length = 2, value = first & 0x1F, minimum = 0x80;
    } else if (first >= 0xE0 && first <= 0xEF) {
      length = 3, value = first & 0x0F, minimum = 0x800;
    } else if (first >= 0xF0 && first <= 0xF4) {
      length = 4, value = first & 0x07, minimum = 0x10000;
    } else {
      return false;  // a continuation byte, or a lead byte no valid sequence starts with
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const uint8_t next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF) return false;
    // Two three-byte surrogates that form a pair would come back as the pair's one character.
    if (lastWasLoneLead && IsTrailSurrogate(value)) return false;
    lastWasLoneLead = IsLeadSurrogate(value);
    if (value >= 0x10000) {
      value -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(value));
    }
    i += length;
  }
  units->swap(out);
  return true;
}

}  // namespace sfx
