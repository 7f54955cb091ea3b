#include "sfxstub/main/command_line.h"

#include <gtest/gtest.h>

#include "sfxstub/main/test_code_page.h"

namespace sfx {
namespace {

std::string Build(const std::string& commandTemplate, const std::string& source,
                  const std::string& working, const std::string& tail) {
  return BuildSetupCommandLine(commandTemplate, source, working, tail, DoubleByteCodePage());
}

TEST(BuildSetupCommandLineTest, ExpandsAllThreePlaceholdersAndAppendsSourcePath) {
  EXPECT_EQ("/sfx /sfxstorage \"E:\\T\\_tr_sfx.tm~a01234\" /silent /srcpath \"D:\\dl\"",
            Build("/sfx /sfxstorage \"%TMPPATH%\" %CMDLINE%", "D:\\dl", "E:\\T\\_tr_sfx.tm~a01234",
                  "/silent"));
  EXPECT_EQ("S|W|T|S|W /srcpath \"S\"",
            Build("%SRCPATH%|%TMPPATH%|%CMDLINE%|%SRCPATH%|%TMPPATH%", "S", "W", "T"));
}

TEST(BuildSetupCommandLineTest, TemplatesWithoutPlaceholders) {
  // An empty template leaves the suffix alone, so the text begins with a blank.
  EXPECT_EQ(" /srcpath \"D:\\dl\"", Build("", "D:\\dl", "W", "x"));
  EXPECT_EQ("/a \"b\" /srcpath \"D:\\dl\"", Build("/a \"b\"", "D:\\dl", "W", "x"));
  // Placeholders are case-sensitive.
  EXPECT_EQ("%srcpath% %Tmppath% /srcpath \"S\"", Build("%srcpath% %Tmppath%", "S", "W", "x"));
}

TEST(BuildSetupCommandLineTest, TailIsInsertedLastAndNeverScanned) {
  EXPECT_EQ("[%SRCPATH% %TMPPATH%] /srcpath \"S\"",
            Build("[%CMDLINE%]", "S", "W", "%SRCPATH% %TMPPATH%"));
  EXPECT_EQ("[%CMDLINE%] /srcpath \"S\"", Build("[%CMDLINE%]", "S", "W", "%CMDLINE%"));
  // An empty tail removes every occurrence.
  EXPECT_EQ("ab /srcpath \"S\"", Build("a%CMDLINE%b%CMDLINE%", "S", "W", ""));
}

TEST(BuildSetupCommandLineTest, EarlierValuesAreScannedByLaterSteps) {
  // The source folder is inserted first, so placeholders inside it are expanded afterwards.
  EXPECT_EQ("C:\\W\\t /srcpath \"C:\\W\\t\"", Build("%SRCPATH%", "C:\\%TMPPATH%\\t", "W", "x"));
  EXPECT_EQ("D:\\-x- /srcpath \"D:\\-x-\"", Build("%SRCPATH%", "D:\\-%CMDLINE%-", "W", "x"));
}

TEST(BuildSetupCommandLineTest, SourceFolderContainingItsPlaceholderIsInsertedOnce) {
  EXPECT_EQ("C:\\a%SRCPATH%b /srcpath \"C:\\a%SRCPATH%b\"",
            Build("%SRCPATH%", "C:\\a%SRCPATH%b", "W", "x"));
}

TEST(ReplaceAllTest, GuardKeepsExistingCopiesOfTheValueWhole) {
  // The value is already in the text; without the guard its inner placeholder would be
  // expanded again ("C:\\aC:\\a%SRCPATH%bb").
  std::string text = "C:\\a%SRCPATH%b %SRCPATH%";
  ReplaceAll(&text, "%SRCPATH%", "C:\\a%SRCPATH%b", DoubleByteCodePage());
  EXPECT_EQ("C:\\a%SRCPATH%b C:\\a%SRCPATH%b", text);
}

TEST(ReplaceAllTest, MissingOrDegenerateArgumentsChangeNothing) {
  std::string text = "a %X% b";
  ReplaceAll(&text, nullptr, "v", DoubleByteCodePage());
  ReplaceAll(&text, "%X%", nullptr, DoubleByteCodePage());
  ReplaceAll(&text, "", "v", DoubleByteCodePage());
  ReplaceAll(&text, "%X%", "%X%", DoubleByteCodePage());
  ReplaceAll(nullptr, "%X%", "v", DoubleByteCodePage());
  EXPECT_EQ("a %X% b", text);
}

TEST(ReplaceAllTest, ValueContainingPlaceholderDoesNotGrowEndlessly) {
  std::string text = "%X%%X%";
  ReplaceAll(&text, "%X%", "<%X%>", DoubleByteCodePage());
  EXPECT_EQ("<%X%><%X%>", text);
  text = "%X%";
  ReplaceAll(&text, "%X%", "", DoubleByteCodePage());
  EXPECT_EQ("", text);
}

TEST(ReplaceAllTest, DoubleByteTrailBytesAreNotMatched) {
  // "\x81%" is one double-byte character: the placeholder after it is not a placeholder.
  std::string text = "\x81%X%";
  ReplaceAll(&text, "%X%", "v", DoubleByteCodePage());
  EXPECT_EQ("\x81%X%", text);
  ReplaceAll(&text, "%X%", "v", SingleByteCodePage());
  EXPECT_EQ("\x81v", text);
}

TEST(ReplaceAllTest, GuardContainmentTestIsDoubleByteAware) {
  // The quote in "\x81\"" is a trail byte, so the text does not contain the value "\"%P%" and
  // the guard must not fold that trail byte into a placeholder.
  std::string text = "\x81\"%P% %P%";
  ReplaceAll(&text, "%P%", "\"%P%", DoubleByteCodePage());
  EXPECT_EQ("\x81\"\"%P% \"%P%", text);
  // Read as single bytes the text does contain the value, and the guard keeps it whole.
  text = "\x81\"%P% %P%";
  ReplaceAll(&text, "%P%", "\"%P%", SingleByteCodePage());
  EXPECT_EQ("\x81\"%P% \"%P%", text);
}

}  // namespace
}  // namespace sfx
