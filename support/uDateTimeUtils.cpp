#include "support/uDateTimeUtils.h"

#include <cmath>
#include <cstdint>
#include <ctime>

namespace {

constexpr int64_t kMSecsPerDay = 86400000;
// Days from 0000-03-01 (proleptic Gregorian) to 1899-12-30.
constexpr int64_t kDaysTo18991230 = 693899;
// Day number of 1601-01-01.
constexpr int64_t kDay16010101 = -109205;

// Day count since 0000-03-01 of a civil date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

void CivilFromDays(int64_t days, TDateTimeParts& parts) {
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  parts.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  parts.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  parts.Year = static_cast<int>(yoe + era * 400 + (parts.Month <= 2));
}

// Composes a day number and a time of day in the program's convention.
TDateTime Compose(int64_t day, int64_t msOfDay) {
  const double time = static_cast<double>(msOfDay) / kMSecsPerDay;
  return static_cast<double>(day) + (day < 0 ? -time : time);
}

TDateTimeParts Decompose(int64_t day, int64_t msOfDay) {
  TDateTimeParts parts;
  CivilFromDays(day + kDaysTo18991230, parts);
  parts.Hour = static_cast<int>(msOfDay / 3600000);
  parts.Minute = static_cast<int>(msOfDay / 60000 % 60);
  parts.Second = static_cast<int>(msOfDay / 1000 % 60);
  parts.Millisecond = static_cast<int>(msOfDay % 1000);
  return parts;
}

}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& Parts) {
  const int64_t day = DaysFromCivil(Parts.Year, Parts.Month, Parts.Day) - kDaysTo18991230;
  const int64_t ms =
      ((int64_t{Parts.Hour} * 60 + Parts.Minute) * 60 + Parts.Second) * 1000 + Parts.Millisecond;
  return Compose(day, ms);
}

TDateTimeParts DecodeDateTime(TDateTime Value) {
  int64_t day = static_cast<int64_t>(std::trunc(Value));
  int64_t ms = std::llround(std::fabs(Value - static_cast<double>(day)) * kMSecsPerDay);
  if (ms >= kMSecsPerDay) {  // rounded up to the next midnight
    ms -= kMSecsPerDay;
    ++day;
  }
  return Decompose(day, ms);
}

int32_t DateOf(TDateTime Value) {
  const TDateTimeParts parts = DecodeDateTime(Value);
  return static_cast<int32_t>(DaysFromCivil(parts.Year, parts.Month, parts.Day) - kDaysTo18991230);
}

TDateTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  TDateTimeParts parts;
  parts.Year = local.tm_year + 1900;
  parts.Month = local.tm_mon + 1;
  parts.Day = local.tm_mday;
  parts.Hour = local.tm_hour;
  parts.Minute = local.tm_min;
  parts.Second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second stays in its minute
  parts.Millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return EncodeDateTime(parts);
}

bool FileTimeToDateTime(uint64_t FileTime, TDateTime& Out) {
  // The system's calendar conversion refuses file times with the top bit set.
  if (FileTime > static_cast<uint64_t>(INT64_MAX)) return false;
  const uint64_t ms = FileTime / 10000;
  const int64_t day = kDay16010101 + static_cast<int64_t>(ms / kMSecsPerDay);
  Out = Compose(day, static_cast<int64_t>(ms % kMSecsPerDay));
  return true;
}
