#include "sfxstub/io/wide_text.h"

#include <gtest/gtest.h>

#include <string>

namespace sfx {
namespace {

TEST(WideTextTest, TextRoundTripsBothWays) {
  const struct {
    std::u16string wide;
    std::string utf8;
  } kCases[] = {
      {u"", ""},
      {u"C:\\Temp\\setup.exe", "C:\\Temp\\setup.exe"},
      {u"caf\u00E9", "caf\xC3\xA9"},
      {u"\u0417\u0430\u0433\u0440\u0443\u0437\u043A\u0438 \u0141\u00F3d\u017A",
       "\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB8 \xC5\x81\xC3\xB3" "d\xC5\xBA"},
      {u"\u4E0B\u8F7D", "\xE4\xB8\x8B\xE8\xBD\xBD"},
      {u"\U0001F600!", "\xF0\x9F\x98\x80!"},  // a surrogate pair is one four-byte character
      // Lone surrogates, as a name on disk may hold them: three bytes each, back as they were.
      {u"a\xD800", "a\xED\xA0\x80"},
      {std::u16string(1, u'\xDC00') + u"x", "\xED\xB0\x80x"},
      {std::u16string(1, u'\xDC00') + std::u16string(1, u'\xD800'), "\xED\xB0\x80\xED\xA0\x80"},
      {std::u16string(1, u'\0') + u"z", std::string("\0z", 2)},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.utf8, Utf8FromUtf16(c.wide)) << c.utf8;
    std::u16string back;
    EXPECT_TRUE(Utf16FromUtf8(c.utf8, &back)) << c.utf8;
    EXPECT_EQ(c.wide, back) << c.utf8;
  }
}

TEST(WideTextTest, BytesThatAreNotUtf8AreRefused) {
  for (const char* bad : {"\x80", "caf\xE9", "\xC3", "\xC3(", "\xC0\x80", "\xE0\x80\x80",
                          "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",
                          "\xE4\xB8", "\xED\xA0\x80\xED\xB0\x80"}) {
    std::u16string units = u"unchanged";
    EXPECT_FALSE(Utf16FromUtf8(bad, &units)) << bad;
    EXPECT_EQ(u"unchanged", units);
  }
}

}  // namespace
}  // namespace sfx
