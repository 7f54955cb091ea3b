// Byte-string searches that honour the double-byte characters of the ANSI code page.
//
// Text is walked character by character from its first byte: a lead byte and the byte after it
// form one character. A match may only begin on a character boundary, so a trail byte that
// happens to equal '%', '\\' or '"' is never found as that character. Which bytes lead a
// double-byte character comes from the caller's Host; an empty test means a single-byte code
// page. The stub's text is UTF-8 (paths and the tail read as Unicode, the template read in the
// ANSI code page and converted), whose multi-byte characters hold no such byte: its Host says no
// byte leads.
#ifndef SFXSTUB_MAIN_DBCS_TEXT_H_
#define SFXSTUB_MAIN_DBCS_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace sfx {

using LeadByteTest = std::function<bool(uint8_t)>;

// Length in bytes of the character that starts at `pos` (1 or 2; 1 for a lead byte that has no
// byte after it inside `text`).
size_t CharLength(const std::string& text, size_t pos, const LeadByteTest& isLead);

// The first occurrence of `needle` in `text` that starts on a character boundary at or after
// `from` (which must itself be a boundary), or std::string::npos. An empty needle is found at
// `from` when `from` <= text.size().
size_t FindText(const std::string& text, const std::string& needle, size_t from,
                const LeadByteTest& isLead);

inline bool ContainsText(const std::string& text, const std::string& needle,
                         const LeadByteTest& isLead) {
  return FindText(text, needle, 0, isLead) != std::string::npos;
}

// Position of the last character equal to the single-byte `ch`, or std::string::npos.
size_t FindLastChar(const std::string& text, char ch, const LeadByteTest& isLead);

}  // namespace sfx

#endif  // SFXSTUB_MAIN_DBCS_TEXT_H_
