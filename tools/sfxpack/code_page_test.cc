#include "tools/sfxpack/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace sfxpack {
namespace {

TEST(CodePageTest, OnlyCodePagesThatKeepAsciiAreTaken) {
  for (const char* good : {"1252", "1250", "1251", "932", "936", "949", "950", "874"}) {
    CodePage page;
    const Status status = page.Open(good);
    EXPECT_TRUE(status.ok()) << good << ": " << status.reason();
  }
  // No number, no such code page, EBCDIC (037), UTF-16 (1200).
  for (const char* bad : {"", "cp1252", "12x", "-1252", "0", "70000", "999", "37", "1200"}) {
    CodePage page;
    const Status status = page.Open(bad);
    EXPECT_FALSE(status.ok()) << bad;
    EXPECT_NE(std::string::npos, status.reason().find("--codepage")) << status.reason();
  }
}

TEST(CodePageTest, NamesArriveInTheCodePageOrAreRefused) {
  const struct {
    const char* page;
    std::string utf8;
    std::string stored;  // empty: refused
    const char* why;
  } kCases[] = {
      {"1252", "caf\xC3\xA9.txt", "caf\xE9.txt", ""},
      {"1252", "", "", ""},
      {"1250", "\xC5\x81\xC3\xB3" "d\xC5\xBA", "\xA3\xF3" "d\x9F", ""},
      {"1251", "\xD0\x97\xD0\xB0", "\xC7\xE0", ""},
      {"932", "\xE8\xA1\xA8.txt", "\x95\x5C.txt", ""},  // its trail byte is the backslash's
      {"1252", "\xC5\x81\xC3\xB3" "d\xC5\xBA", "", "'\xC5\x81' (U+0141), which code page 1252 cannot"},
      {"932", "caf\xC3\xA9", "", "(U+00E9)"},
      {"1252", "\xF0\x9F\x98\x80", "", "(U+1F600)"},
      {"1252", "caf\xE9", "", "not UTF-8"},
      {"1252", "\xED\xA0\x80", "", "not UTF-8"},  // a lone surrogate
  };
  for (const auto& c : kCases) {
    CodePage page;
    ASSERT_TRUE(page.Open(c.page).ok());
    std::string out = "unchanged";
    const Status converted = page.Convert(c.utf8, &out);
    if (*c.why == '\0') {
      EXPECT_TRUE(converted.ok()) << c.utf8 << ": " << converted.reason();
      EXPECT_EQ(c.stored, out) << c.utf8;
    } else {
      EXPECT_FALSE(converted.ok()) << c.utf8;
      EXPECT_EQ("unchanged", out);
      EXPECT_NE(std::string::npos, converted.reason().find(c.why)) << converted.reason();
    }
  }
}

}  // namespace
}  // namespace sfxpack
