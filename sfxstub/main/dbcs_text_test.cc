#include "sfxstub/main/dbcs_text.h"

#include <gtest/gtest.h>

#include "sfxstub/main/test_code_page.h"

namespace sfx {
namespace {

TEST(DbcsTextTest, TrailBytesAreNeverTheStartOfAMatch) {
  const LeadByteTest dbcs = DoubleByteCodePage();
  // "\x81%" is one character; the '%' in it is no percent sign.
  EXPECT_EQ(std::string::npos, FindText("\x81%A", "%A", 0, dbcs));
  EXPECT_EQ(3u, FindText("\x81%A%A", "%A", 0, dbcs));
  // Without a double-byte code page the same bytes match.
  EXPECT_EQ(1u, FindText("\x81%A", "%A", 0, SingleByteCodePage()));
  // Two lead bytes in a row: the second is the first one's trail byte.
  EXPECT_EQ(2u, FindText("\x81\x81" "ab", "ab", 0, dbcs));
  EXPECT_EQ(std::string::npos, FindText("\x81\x81" "b", "\x81" "b", 0, dbcs));
  EXPECT_EQ(1u, FindText("\x81\x81" "b", "\x81" "b", 0, SingleByteCodePage()));
}

TEST(DbcsTextTest, FindBoundsAndEmptyNeedle) {
  const LeadByteTest dbcs = DoubleByteCodePage();
  EXPECT_EQ(0u, FindText("", "", 0, dbcs));
  EXPECT_EQ(std::string::npos, FindText("ab", "abc", 0, dbcs));
  EXPECT_EQ(std::string::npos, FindText("ab", "a", 3, dbcs));
  EXPECT_EQ(2u, FindText("abab", "ab", 1, dbcs));
  // A lead byte at the very end has no trail byte and stands alone.
  EXPECT_EQ(1u, CharLength("a\x81", 1, dbcs));
  EXPECT_EQ(1u, FindText("a\x81", "\x81", 0, dbcs));
}

TEST(DbcsTextTest, LastBackslashSkipsTrailBytes) {
  const LeadByteTest dbcs = DoubleByteCodePage();
  // "\x95\x5C" is one character whose trail byte equals '\\' (the classic Shift-JIS case).
  EXPECT_EQ(2u, FindLastChar("C:\\\x95\\x", '\\', dbcs));
  EXPECT_EQ(std::string::npos, FindLastChar("\x95\\", '\\', dbcs));
  EXPECT_EQ(1u, FindLastChar("\x95\\", '\\', SingleByteCodePage()));
}

}  // namespace
}  // namespace sfx
