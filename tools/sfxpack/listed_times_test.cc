// The times pack gives listed files: --mtime's forms, SOURCE_DATE_EPOCH's clamp, the catalog's range.
#include "tools/sfxpack/listed_times.h"

#include <gtest/gtest.h>

#include <string>

namespace sfxpack {
namespace {

TEST(ListedTimes, ParseTimeTakesSecondsAndUtcDatesWithinTheCatalogsRange) {
  const struct {
    const char* text;
    uint32_t seconds;
  } good[] = {
      {"0", 0},
      {"1700000000", 1700000000},
      {"@1700000000", 1700000000},
      {"4294967295", 4294967295u},
      {"1970-01-01T00:00:00Z", 0},
      {"2024-05-01", 1714521600},
      {"2024-05-01T12:30:00Z", 1714566600},
      {"2024-05-01 12:30", 1714566600},
      {"2106-02-07T06:28:15Z", 4294967295u},
  };
  for (const auto& c : good) {
    uint32_t seconds = 1;
    EXPECT_TRUE(ParseTime(c.text, &seconds).ok()) << c.text;
    EXPECT_EQ(c.seconds, seconds) << c.text;
  }
  for (const char* bad : {"", "@", "-1", "4294967296", "12345678901", "1e9", "2024-02-30",
                          "2024-13-01", "2024-05-01T24:00", "2024-05-01T12", "2024-05-01x",
                          "2024-05-01T12:30:00+02", "1969-12-31", "2106-02-07T06:28:16Z", "yesterday"}) {
    uint32_t seconds = 0;
    const Status status = ParseTime(bad, &seconds);
    EXPECT_EQ(kExitError, status.code()) << bad;
    EXPECT_NE(std::string::npos, status.reason().find("seconds since 1970")) << bad;
  }
}

TEST(ListedTimes, MtimeSetsEveryTimeAndSourceDateEpochClampsThem) {
  ListedTimes times;
  uint32_t t = 0;
  ASSERT_TRUE(ChooseListedTimes("", nullptr, &times).ok());
  ASSERT_TRUE(ListedTime(times, 1800000000, "f", &t).ok());
  EXPECT_EQ(1800000000u, t);
  EXPECT_EQ(kExitError, ListedTime(times, -1, "f", &t).code());
  EXPECT_EQ(kExitError, ListedTime(times, 1ll << 32, "f", &t).code());
  ASSERT_TRUE(ChooseListedTimes("", "", &times).ok());  // empty: not set
  EXPECT_EQ(ListedTimes::Mode::kModification, times.mode);

  ASSERT_TRUE(ChooseListedTimes("", "1700000000", &times).ok());
  ASSERT_TRUE(ListedTime(times, 1800000000, "f", &t).ok());
  EXPECT_EQ(1700000000u, t);  // later: clamped
  ASSERT_TRUE(ListedTime(times, 1600000000, "f", &t).ok());
  EXPECT_EQ(1600000000u, t);  // earlier: kept
  EXPECT_EQ(kExitError, ListedTime(times, -1, "f", &t).code());
  for (const char* bad : {"@1700000000", "yesterday", "1700000000 ", "99999999999"}) {
    const Status status = ChooseListedTimes("", bad, &times);
    EXPECT_NE(std::string::npos, status.reason().find("SOURCE_DATE_EPOCH")) << bad;
  }

  // --mtime wins over SOURCE_DATE_EPOCH, and over any file's own time, even one out of range.
  ASSERT_TRUE(ChooseListedTimes("@5", "1700000000", &times).ok());
  ASSERT_TRUE(ListedTime(times, -1, "f", &t).ok());
  EXPECT_EQ(5u, t);
  EXPECT_NE(std::string::npos, ChooseListedTimes("soon", nullptr, &times).reason().find("--mtime: "));
}

}  // namespace
}  // namespace sfxpack
