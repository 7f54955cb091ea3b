#include "tools/sfxpack/code_page.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sfxstub/io/wide_text.h"

namespace sfxpack {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Whether `text` is UTF-8 proper (no lone surrogates either, which iconv refuses too).
bool IsUtf8(const std::string& text) {
  std::u16string units;
  if (!sfx::Utf16FromUtf8(text, &units)) return false;
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// The UTF-8 character that starts at `at`, with its code point: "'Ł' (U+0141)".
std::string DescribeCharacter(const std::string& text, size_t at) {
  size_t length = 1;
  while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) {
    ++length;
  }
  const std::string character = text.substr(at, length);
  std::u16string units;
  sfx::Utf16FromUtf8(character, &units);
  unsigned long value = units.empty() ? 0 : units[0];
  if (units.size() == 2) value = 0x10000 + ((value - 0xD800) << 10) + (units[1] - 0xDC00u);
  char code[16];
  std::snprintf(code, sizeof code, "U+%04lX", value);
  return "'" + character + "' (" + code + ")";
}

// Runs `converter` over `input`; false with `failedAt` at the input offset where it stopped (the
// input's size when what failed is the end, or a conversion iconv calls not reversible).
bool RunIconv(iconv_t converter, const std::string& input, std::string* output, size_t* failedAt) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  output->clear();
  char buffer[4096];
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  // The input, then (with none) what a stateful code page still holds.
  for (bool inputDone = false;;) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = inputDone ? iconv(converter, nullptr, nullptr, &out, &outLeft)
                                     : iconv(converter, &in, &inLeft, &out, &outLeft);
    output->append(buffer, static_cast<size_t>(out - buffer));
    if (result == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      *failedAt = input.size() - inLeft;
      return false;
    }
    if (result != 0) {
      *failedAt = input.size();
      return false;
    }
    if (inputDone) return true;
    inputDone = true;
  }
}

}  // namespace

CodePage::~CodePage() {
  if (converter_ != kNoConverter) iconv_close(converter_);
}

Status CodePage::Open(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long number = text.empty() ? 0 : std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || number == 0 || number > 65535 ||
      text[0] < '0' || text[0] > '9') {
    return Status::Error("--codepage wants a Windows code page number such as 1252 or 932, got '" +
                         text + "'");
  }
  const std::string name = "CP" + std::to_string(number);
  iconv_t converter = iconv_open(name.c_str(), "UTF-8");
  if (converter == kNoConverter) {
    return Status::Error("--codepage " + text + ": iconv knows no code page " + name +
                         " (`iconv -l` lists the ones it knows)");
  }
  std::string ascii;
  for (char c = 0x20; c < 0x7F; ++c) ascii += c;
  std::string converted;
  size_t failedAt = 0;
  if (!RunIconv(converter, ascii, &converted, &failedAt) || converted != ascii) {
    iconv_close(converter);
    return Status::Error("--codepage " + text + ": " + name +
                         " does not keep ASCII as it is, so it is no Windows ANSI code page");
  }
  if (converter_ != kNoConverter) iconv_close(converter_);
  converter_ = converter;
  number_ = static_cast<unsigned>(number);
  return Status::Ok();
}

Status CodePage::Convert(const std::string& utf8, std::string* converted) const {
  if (!IsUtf8(utf8)) return Status::Error("is not UTF-8, which --codepage converts from");
  std::string out;
  size_t failedAt = 0;
  if (!RunIconv(converter_, utf8, &out, &failedAt)) {
    return Status::Error(failedAt < utf8.size()
                             ? "holds " + DescribeCharacter(utf8, failedAt) + ", which code page " +
                                   std::to_string(number_) + " cannot represent"
                             : "cannot be written in code page " + std::to_string(number_));
  }
  *converted = out;
  return Status::Ok();
}

std::string NonAsciiNote(const CodePage* storedIn) {
  if (storedIn == nullptr) {
    return "the stub reads it in the system's ANSI code page, which differs between machines";
  }
  const std::string n = std::to_string(storedIn->number());
  return "stored in code page " + n + ", it reads as written where the system's ANSI code page is " +
         n + ", and as other characters elsewhere";
}

Status StoreInCodePage(const CodePage* codePage, const std::string& what, std::string* text) {
  if (codePage == nullptr) return Status::Ok();
  return codePage->Convert(*text, text).Within(what + " ");
}

}  // namespace sfxpack
