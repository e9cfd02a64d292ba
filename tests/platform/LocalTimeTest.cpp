// Local calendar time in a zone with summer time, set through TZ for the test.
#include "platform/LocalTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "tests/support/ScopedEnv.h"

namespace kvelv::platform {
namespace {

// Central European time with summer time, as a POSIX rule so no zone database is needed.
class LocalTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tz_.emplace("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
  }
  void TearDown() override {
    tz_.reset();
    tzset();
  }

 private:
  std::optional<test::ScopedEnv> tz_;
};

void ExpectLocal(const LocalDateTime& t, int year, int month, int day, int hour, int minute, int second) {
  EXPECT_EQ(t.year, year);
  EXPECT_EQ(t.month, month);
  EXPECT_EQ(t.day, day);
  EXPECT_EQ(t.hour, hour);
  EXPECT_EQ(t.minute, minute);
  EXPECT_EQ(t.second, second);
}

TEST_F(LocalTimeTest, ToLocalAppliesZoneAndSummerTime) {
  ExpectLocal(ToLocal(0), 1970, 1, 1, 1, 0, 0);
  ExpectLocal(ToLocal(1719835200), 2024, 7, 1, 14, 0, 0);   // 12:00 UTC in summer
  ExpectLocal(ToLocal(1704110400), 2024, 1, 1, 13, 0, 0);   // 12:00 UTC in winter
}

TEST_F(LocalTimeTest, FromLocalIsTheInverse) {
  int64_t seconds = 0;
  ASSERT_TRUE(FromLocal({2024, 7, 1, 14, 0, 0}, seconds));
  EXPECT_EQ(seconds, 1719835200);
  ASSERT_TRUE(FromLocal({1980, 1, 1, 0, 0, 0}, seconds));
  EXPECT_EQ(seconds, 315529200);
  ASSERT_TRUE(FromLocal({2107, 12, 31, 23, 59, 58}, seconds));  // last DOS time
  ExpectLocal(ToLocal(seconds), 2107, 12, 31, 23, 59, 58);
  // One second before the epoch is a real time, not mktime's error value.
  ASSERT_TRUE(FromLocal({1970, 1, 1, 0, 59, 59}, seconds));
  EXPECT_EQ(seconds, -1);
}

TEST_F(LocalTimeTest, FromLocalRefusesFieldsOutOfRange) {
  int64_t seconds = 42;
  EXPECT_FALSE(FromLocal({1980, 0, 1, 0, 0, 0}, seconds));
  EXPECT_FALSE(FromLocal({1980, 13, 1, 0, 0, 0}, seconds));
  EXPECT_FALSE(FromLocal({1980, 1, 0, 0, 0, 0}, seconds));
  EXPECT_FALSE(FromLocal({2023, 2, 29, 0, 0, 0}, seconds));
  EXPECT_FALSE(FromLocal({1980, 1, 1, 24, 0, 0}, seconds));
  EXPECT_FALSE(FromLocal({1980, 1, 1, 0, 60, 0}, seconds));
  EXPECT_FALSE(FromLocal({1980, 1, 1, 0, 0, 62}, seconds));
  EXPECT_EQ(seconds, 42);
  EXPECT_TRUE(FromLocal({2024, 2, 29, 0, 0, 0}, seconds));  // leap day
}

}  // namespace
}  // namespace kvelv::platform
