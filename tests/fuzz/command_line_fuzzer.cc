// libFuzzer target for the setup program's command line: BuildSetupCommandLine and ReplaceAll
// with arbitrary template, folders, tail, placeholder and value, in a single-byte and a
// double-byte code page.
//
// Input: one byte of flags (bit 0: double-byte code page), then up to five fields separated by
// zero bytes: template, source folder, working folder, command-line tail, placeholder (the
// placeholder and value of the direct ReplaceAll call are the fourth and fifth fields, run over
// the template).
//
// Checked: every call ends (a value holding its own placeholder must not make the text grow
// without end), the length stays within what the replacements can add, and, in a single-byte code
// page without any '%' in the values, the result equals a plain left-to-right replacement.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/main/command_line.h"
#include "sfxstub/main/test_code_page.h"

namespace {

std::vector<std::string> Fields(const uint8_t* data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && fields.size() < 5) {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  fields.resize(5);
  return fields;
}

// Replaces every occurrence left to right, never rescanning inserted text.
std::string Plain(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

// The most a ReplaceAll of `from` by `to` can make of `text`: every byte a match, each turned
// into a full value (and the guard's reverse step first turning values back can only shorten).
size_t Bound(size_t text, size_t from, size_t to) {
  if (from == 0) return text;
  return text + (text / from + 1) * to;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const bool doubleByte = (data[0] & 1) != 0;
  const sfx::LeadByteTest isLead =
      doubleByte ? sfx::DoubleByteCodePage() : sfx::SingleByteCodePage();
  const std::vector<std::string> f = Fields(data + 1, size - 1);
  const std::string& templ = f[0];
  const std::string& src = f[1];
  const std::string& tmp = f[2];
  const std::string& tail = f[3];

  const std::string line = sfx::BuildSetupCommandLine(templ, src, tmp, tail, isLead);
  size_t bound = templ.size() + std::string(sfx::kSourcePathSuffix).size();
  bound = Bound(bound, 9, src.size());
  bound = Bound(bound, 9, tmp.size());
  bound = Bound(bound, 9, tail.size());
  if (line.size() > bound) __builtin_trap();

  if (!doubleByte && src.find('%') == std::string::npos && tmp.find('%') == std::string::npos) {
    std::string expected = templ + sfx::kSourcePathSuffix;
    expected = Plain(expected, "%SRCPATH%", src);
    expected = Plain(expected, "%TMPPATH%", tmp);
    if (tail.find('%') == std::string::npos) {
      expected = Plain(expected, "%CMDLINE%", tail);
      if (line != expected) __builtin_trap();
    }
  }

  // ReplaceAll directly, with any placeholder and value.
  std::string text = templ;
  sfx::ReplaceAll(&text, tail.c_str(), f[4].c_str(), isLead);
  if (text.size() > Bound(templ.size(), tail.size(), f[4].size()) + templ.size()) __builtin_trap();
  // Null arguments and an empty placeholder leave the text alone.
  std::string same = templ;
  sfx::ReplaceAll(&same, nullptr, "x", isLead);
  sfx::ReplaceAll(&same, "", "x", isLead);
  sfx::ReplaceAll(&same, "x", nullptr, isLead);
  sfx::ReplaceAll(nullptr, "x", "y", isLead);
  if (same != templ) __builtin_trap();
  return 0;
}
