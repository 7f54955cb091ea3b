// UTF-8 and UTF-16: the one conversion between the text the portable core holds (paths, the
// command-line tail, the setup program's command line, all UTF-8 in std::string) and the wide
// strings of Windows. Only the Win32 implementations of the seams convert, at the call.
//
// A Windows name need not be valid UTF-16: a lone surrogate (a unit 0xD800-0xDFFF without its
// partner) is a legal character of a file name, an environment value or a command line. So that
// every name the system hands out reaches the system again unchanged, a lone surrogate is
// written as its own three-byte sequence (0xED 0xA0-0xBF 0x80-0xBF, which UTF-8 proper leaves
// unused) and read back as that one unit; a surrogate pair is always one four-byte sequence.
// For valid UTF-16 the result is plain UTF-8.
#ifndef SFXSTUB_IO_WIDE_TEXT_H_
#define SFXSTUB_IO_WIDE_TEXT_H_

#include <cstddef>
#include <string>

namespace sfx {

// Never fails: every sequence of UTF-16 units has its UTF-8 form.
std::string Utf8FromUtf16(const char16_t* units, size_t count);
inline std::string Utf8FromUtf16(const std::u16string& units) {
  return Utf8FromUtf16(units.data(), units.size());
}

// False, with `units` left as it was, for bytes that are not such UTF-8: a stray continuation
// byte, a cut or overlong sequence, a value above U+10FFFF, or a surrogate pair written as two
// three-byte sequences (which would read back as a pair, not as the two units written).
bool Utf16FromUtf8(const std::string& text, std::u16string* units);

}  // namespace sfx

#endif  // SFXSTUB_IO_WIDE_TEXT_H_
