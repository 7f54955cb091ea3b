#include "sfxstub/io/errno_map.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace sfx {
namespace {

// By name, so the same table holds on runtimes whose errno numbers differ.
TEST(ErrnoToWin32ErrorTest, MapsByErrnoName) {
  EXPECT_EQ(ErrnoToWin32Error(ENOENT), 2u);
  EXPECT_EQ(ErrnoToWin32Error(E2BIG), 10u);
  EXPECT_EQ(ErrnoToWin32Error(ENOEXEC), 11u);
  EXPECT_EQ(ErrnoToWin32Error(EBADF), 6u);
  EXPECT_EQ(ErrnoToWin32Error(ECHILD), 128u);
  EXPECT_EQ(ErrnoToWin32Error(EAGAIN), 89u);
  EXPECT_EQ(ErrnoToWin32Error(ENOMEM), 8u);
  EXPECT_EQ(ErrnoToWin32Error(EACCES), 5u);
  EXPECT_EQ(ErrnoToWin32Error(EEXIST), 183u);
  EXPECT_EQ(ErrnoToWin32Error(EXDEV), 17u);
  EXPECT_EQ(ErrnoToWin32Error(ENODEV), 15u);
  EXPECT_EQ(ErrnoToWin32Error(ENOTDIR), 3u);
  EXPECT_EQ(ErrnoToWin32Error(EINVAL), 87u);
  EXPECT_EQ(ErrnoToWin32Error(EMFILE), 4u);
  EXPECT_EQ(ErrnoToWin32Error(ENOSPC), 112u);
  EXPECT_EQ(ErrnoToWin32Error(EPIPE), 109u);
  EXPECT_EQ(ErrnoToWin32Error(ENOTEMPTY), 145u);
}

TEST(ErrnoToWin32ErrorTest, AnythingElseIsNotImplemented) {
  EXPECT_EQ(ErrnoToWin32Error(0), 120u);
  EXPECT_EQ(ErrnoToWin32Error(EINTR), 120u);
  EXPECT_EQ(ErrnoToWin32Error(-1), 120u);
  EXPECT_EQ(ErrnoToWin32Error(100000), 120u);
}

}  // namespace
}  // namespace sfx
