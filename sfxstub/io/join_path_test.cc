#include "sfxstub/io/join_path.h"

#include <gtest/gtest.h>

#include <string>

#include "sfxstub/io/file_system.h"

namespace sfx {
namespace {

TEST(JoinPathTest, JoinsWithOneBackslash) {
  EXPECT_EQ("name", JoinPath("", "name"));
  EXPECT_EQ("dir", JoinPath("dir", ""));
  EXPECT_EQ("dir\\name", JoinPath("dir", "name"));
  EXPECT_EQ("dir\\name", JoinPath("dir\\", "name"));
  EXPECT_EQ("dir\\name", JoinPath("dir", "\\name"));
}

TEST(JoinTargetPathTest, JoinsWithOneSeparator) {
  const std::string sep(1, kPathSeparator);
  EXPECT_EQ("name", JoinTargetPath("", "name"));
  EXPECT_EQ("dir", JoinTargetPath("dir", ""));
  EXPECT_EQ("dir" + sep + "name", JoinTargetPath("dir", "name"));
  EXPECT_EQ("dir" + sep + "name", JoinTargetPath("dir" + sep, "name"));
  EXPECT_EQ("dir" + sep + "name", JoinTargetPath("dir", sep + "name"));
}

}  // namespace
}  // namespace sfx
