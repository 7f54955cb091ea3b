// ScopedGeneric with traits that count what they free: every way out frees exactly once.
#include "sfxstub/io/scoped_generic.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <utility>
#include <vector>

namespace sfx {
namespace {

std::vector<int> freed;

struct CountingTraits {
  static int InvalidValue() { return -1; }
  static bool IsValid(int value) { return value != -1; }
  static void Free(int value) { freed.push_back(value); }
};
using Scoped = ScopedGeneric<int, CountingTraits>;

static_assert(!std::is_copy_constructible<Scoped>::value && !std::is_copy_assignable<Scoped>::value,
              "an owner is never copied");

TEST(ScopedGenericTest, MovesHandOverWithoutFreeingAndAssignmentFreesTheOld) {
  freed.clear();
  {
    Scoped a(1);
    Scoped b(std::move(a));
    EXPECT_FALSE(a.Valid());
    EXPECT_EQ(1, b.Get());
    Scoped c(2);
    c = std::move(b);  // 2 goes, 1 moves in
    EXPECT_EQ(std::vector<int>({2}), freed);
    EXPECT_FALSE(b.Valid());
    Scoped& self = c;
    c = std::move(self);  // moving onto itself keeps it
    EXPECT_EQ(1, c.Get());
    c.Reset(3);
    *c.Receive() = 4;  // Receive frees 3 first
    EXPECT_EQ(4, c.Release());
    Scoped d(5);
  }
  EXPECT_EQ(std::vector<int>({2, 1, 3, 5}), freed);
}

}  // namespace
}  // namespace sfx
