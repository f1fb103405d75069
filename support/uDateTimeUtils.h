#pragma once
// The program's date-time: days since 1899-12-30 with the time of day as the fraction.
// Before that day the whole part is negative and the fraction still counts forward
// from midnight (-1.25 is 1899-12-29 06:00).
#include <cstdint>

using TDateTime = double;

struct TDateTimeParts {
  int Year = 1899;
  int Month = 12;  // 1 to 12
  int Day = 30;    // 1 to 31
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
  bool operator==(const TDateTimeParts&) const = default;
};

// The fields must form a valid proleptic Gregorian date and time of day.
TDateTime EncodeDateTime(const TDateTimeParts& Parts);
// The nearest millisecond.
TDateTimeParts DecodeDateTime(TDateTime Value);
// The whole-day number of a date-time, the time of day cut off.
int32_t DateOf(TDateTime Value);

// The current local date and time, to the millisecond.
TDateTime Now();

// A system file time: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
constexpr uint64_t FileTimeUnixEpoch = 116444736000000000ULL;
// Calendar conversion without any time-zone change, to the millisecond. False, with Out
// untouched, for times the system cannot represent (beyond year 30827).
bool FileTimeToDateTime(uint64_t FileTime, TDateTime& Out);
