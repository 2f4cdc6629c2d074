#include "base/DateTime.h"

#include <gtest/gtest.h>

#include "base/Errors.h"

namespace qv {
namespace {

TEST(DateTime, DayNumbersMatchTheEpoch) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2006, 1, 2), 38719.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2006, 1, 2, 12, 0, 0), 38719.5);
}

TEST(DateTime, InvalidPartsAreRejected) {
  TDateTime d;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, d));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, d));
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, d));
  EXPECT_FALSE(TryEncodeDate(2020, 13, 1, d));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, d));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, d));
  EXPECT_THROW(EncodeDate(2020, 4, 31), EConvertError);
}

TEST(DateTime, DecodeInvertsEncodeOverCenturies) {
  for (int y : {1, 1600, 1899, 1900, 1970, 2000, 2038, 2100, 9999}) {
    for (int m = 1; m <= 12; ++m) {
      for (int day : {1, DaysInMonth(y, m)}) {
        const auto p = DecodeDate(EncodeDateTime(y, m, day, 18, 0, 0));
        EXPECT_EQ(p.year, y);
        EXPECT_EQ(p.month, m);
        EXPECT_EQ(p.day, day);
      }
    }
  }
}

TEST(DateTime, TimeOfDayRoundsToMilliseconds) {
  const auto t = DecodeTime(EncodeTime(23, 59, 59, 999));
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.min, 59);
  EXPECT_EQ(t.sec, 59);
  EXPECT_EQ(t.msec, 999);
  // Before the epoch the fraction still counts forward from midnight.
  const auto neg = DecodeTime(-1.25);
  EXPECT_EQ(neg.hour, 6);
  EXPECT_EQ(DecodeDate(-1.25).day, 29);
}

TEST(DateTime, WeekdaysStartOnSunday) {
  EXPECT_EQ(DayOfWeek(0), 7);                        // Saturday 30 Dec 1899
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 8)), 3);  // a Tuesday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 24)), 1);
}

TEST(DateTime, UnixSecondsConvertBothWays) {
  EXPECT_EQ(UnixToDateTime(0), 25569.0);
  EXPECT_EQ(DateTimeToUnix(EncodeDateTime(2001, 9, 9, 1, 46, 40)), 1000000000);
}

}  // namespace
}  // namespace qv
