#include "sfxstub/main/command_tail.h"

#include <gtest/gtest.h>

#include "sfxstub/main/test_code_page.h"

namespace sfx {
namespace {

std::string Tail(const char* line) { return CommandLineTail(line, DoubleByteCodePage()); }

TEST(CommandLineTailTest, SkipsTheProgramNameAndTheBlanksAfterIt) {
  EXPECT_EQ("/silent x", Tail("\"C:\\Program Files\\setup.exe\" /silent x"));
  EXPECT_EQ("/x \"y z\"  ", Tail("setup.exe \t  /x \"y z\"  "));
  EXPECT_EQ("b", Tail("a.exe\x01\x02\x1f b"));
  // Any byte up to 32 ends the name, not only a blank: a tab or a control byte right after it.
  EXPECT_EQ("/x", Tail("setup.exe\t/x"));
  EXPECT_EQ("/y z", Tail("a.exe\x01/y z"));
  EXPECT_EQ("c", Tail("a.exe!b c"));  // 33 is part of the name
  EXPECT_EQ("", Tail("setup.exe"));
  EXPECT_EQ("", Tail("setup.exe   "));
  EXPECT_EQ("", Tail(""));
  EXPECT_EQ("", CommandLineTail(nullptr, DoubleByteCodePage()));
}

TEST(CommandLineTailTest, QuotesToggleAnywhereInTheName) {
  EXPECT_EQ("d", Tail("\"a b\"c d"));
  EXPECT_EQ("e", Tail("a\" b \"c\" d\"x e"));
  // An unclosed quote runs to the end: the whole line is the name.
  EXPECT_EQ("", Tail("\"a b c"));
}

TEST(CommandLineTailTest, TrailBytesAreNeitherQuotesNorBlanks) {
  // "\x81\"" is one character: no quoted state begins, the name ends at the blank.
  EXPECT_EQ("x", Tail("a\x81\" x"));
  EXPECT_EQ("", CommandLineTail("a\x81\" x", SingleByteCodePage()));
  // "\x81 " is one character: the blank inside it does not end the name.
  EXPECT_EQ("cd", Tail("\x81 ab cd"));
  EXPECT_EQ("ab cd", CommandLineTail("\x81 ab cd", SingleByteCodePage()));
}

TEST(QuietSwitchTest, PlainCaseSensitiveSubstringSearch) {
  const LeadByteTest dbcs = DoubleByteCodePage();
  EXPECT_TRUE(HasQuietSwitch("/silent", dbcs));
  EXPECT_TRUE(HasQuietSwitch("/verysilent", dbcs));
  EXPECT_TRUE(HasQuietSwitch("x /oem y", dbcs));
  EXPECT_TRUE(HasQuietSwitch("/silently", dbcs));
  EXPECT_TRUE(HasQuietSwitch("\"C:\\a b\\/silent\"", dbcs));
  EXPECT_TRUE(HasQuietSwitch("a/oemb", dbcs));
  EXPECT_FALSE(HasQuietSwitch("/SILENT", dbcs));
  EXPECT_FALSE(HasQuietSwitch("/Oem /silen t -silent", dbcs));
  EXPECT_FALSE(HasQuietSwitch("", dbcs));
  // A slash that is a trail byte starts no switch.
  EXPECT_FALSE(HasQuietSwitch("\x81/oem", dbcs));
  EXPECT_TRUE(HasQuietSwitch("\x81/oem", SingleByteCodePage()));
}

}  // namespace
}  // namespace sfx
