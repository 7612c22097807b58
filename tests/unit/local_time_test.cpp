#include "platform/local_time.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(LocalTimeTest, PinnedTimeHoldsUntilReleased) {
  LocalTime top_of_the_hour;
  top_of_the_hour.year = 2012;
  top_of_the_hour.month = 2;
  top_of_the_hour.day = 29;
  top_of_the_hour.day_of_week = 3;
  top_of_the_hour.hour = 23;
  top_of_the_hour.minute = 59;
  top_of_the_hour.second = 59;
  top_of_the_hour.milliseconds = 999;
  pin_local_time(&top_of_the_hour);
  const LocalTime pinned = get_local_time();
  pin_local_time(nullptr);

  EXPECT_EQ(pinned.year, 2012);
  EXPECT_EQ(pinned.month, 2);
  EXPECT_EQ(pinned.day, 29);
  EXPECT_EQ(pinned.day_of_week, 3);
  EXPECT_EQ(pinned.hour, 23);
  EXPECT_EQ(pinned.minute, 59);
  EXPECT_EQ(pinned.second, 59);
  EXPECT_EQ(pinned.milliseconds, 999);

  // Released: the system clock again, a plausible present.
  const LocalTime now = get_local_time();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.day_of_week, 6);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.milliseconds, 999);
}

}  // namespace
}  // namespace zv
