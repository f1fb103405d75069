#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "support/uDateTimeUtils.h"

namespace {

TDateTimeParts Parts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return TDateTimeParts{y, mo, d, h, mi, s, ms};
}

// 100-ns ticks since 1601 of a UTC calendar moment.
uint64_t FileTimeOf(int y, int mo, int d, int h, int mi, int s, int ms) {
  tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return FileTimeUnixEpoch + static_cast<uint64_t>(timegm(&t)) * 10000000 +
         static_cast<uint64_t>(ms) * 10000;
}

}  // namespace

TEST(DateTime, KnownDayNumbers) {
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 30)), 0.0);
  EXPECT_EQ(EncodeDateTime(Parts(1900, 1, 1)), 2.0);
  EXPECT_EQ(EncodeDateTime(Parts(1970, 1, 1)), 25569.0);
  EXPECT_EQ(EncodeDateTime(Parts(2024, 1, 31, 12)), 45322.5);
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 29, 6)), -1.25);
  EXPECT_EQ(EncodeDateTime(Parts(1601, 1, 1)), -109205.0);
  EXPECT_EQ(DateOf(45322.999), 45322);
  EXPECT_EQ(DateOf(-1.25), -1);
}

TEST(DateTime, DecodeInvertsEncodeAcrossCalendarEdges) {
  const TDateTimeParts cases[] = {
      Parts(2000, 2, 29, 23, 59, 59, 999),  Parts(1900, 3, 1, 0, 0, 0, 1),
      Parts(2024, 12, 31, 12, 30, 15, 500), Parts(1899, 12, 29, 6, 0, 0, 0),
      Parts(1601, 1, 1, 0, 0, 0, 0),        Parts(1800, 2, 28, 13, 14, 15, 16),
      Parts(9999, 12, 31, 23, 59, 59, 999), Parts(30828, 9, 14, 2, 48, 5, 477),
  };
  for (const TDateTimeParts& p : cases)
    EXPECT_EQ(DecodeDateTime(EncodeDateTime(p)), p) << p.Year << "-" << p.Month << "-" << p.Day;
}

TEST(DateTime, DecodeRoundsToTheMillisecondAndCarriesIntoTheNextDay) {
  const double almostMidnight = 45322 + (86400000 - 0.4) / 86400000.0;
  EXPECT_EQ(DecodeDateTime(almostMidnight), Parts(2024, 2, 1));
  const double beforeEpoch = -2 - (86400000 - 0.4) / 86400000.0;  // 1899-12-28 23:59:59.9996
  EXPECT_EQ(DecodeDateTime(beforeEpoch), Parts(1899, 12, 29));
}

TEST(DateTime, FileTimeConvertsWithoutTimeZone) {
  TDateTime value = -1;
  ASSERT_TRUE(FileTimeToDateTime(0, value));
  EXPECT_EQ(DecodeDateTime(value), Parts(1601, 1, 1));
  ASSERT_TRUE(FileTimeToDateTime(FileTimeUnixEpoch, value));
  EXPECT_EQ(value, 25569.0);
  ASSERT_TRUE(FileTimeToDateTime(FileTimeOf(2024, 1, 31, 14, 3, 7, 123) + 9999, value));
  EXPECT_EQ(DecodeDateTime(value), Parts(2024, 1, 31, 14, 3, 7, 123));  // sub-ms cut off
  ASSERT_TRUE(FileTimeToDateTime(0x7FFFFFFFFFFFFFFFull, value));
  EXPECT_EQ(DecodeDateTime(value), Parts(30828, 9, 14, 2, 48, 5, 477));
}

TEST(DateTime, FileTimeBeyondTheSystemRangeFailsAndLeavesTheOutput) {
  TDateTime value = 123.5;
  EXPECT_FALSE(FileTimeToDateTime(0x8000000000000000ull, value));
  EXPECT_FALSE(FileTimeToDateTime(~0ull, value));
  EXPECT_EQ(value, 123.5);
}

TEST(DateTime, NowIsTheLocalTime) {
  const time_t before = time(nullptr);
  const TDateTimeParts now = DecodeDateTime(Now());
  tm local{};
  localtime_r(&before, &local);
  const double expected = EncodeDateTime(
      Parts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min));
  // Same local minute, or the next one if the clock just turned over.
  const double minutes = (EncodeDateTime(now) - expected) * 24 * 60;
  EXPECT_GE(minutes, 0.0);
  EXPECT_LT(minutes, 2.0);
}
