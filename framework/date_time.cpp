#include "framework/date_time.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "framework/exception.h"

namespace ah {

namespace {

// Days from 1 March of year 0 style civil counting (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(yoe + era * 400 + (month <= 2));
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

// The value as whole days and milliseconds of the day, rounded to the
// millisecond; the day part is truncated toward zero.
void SplitValue(TDateTime value, int64_t& days, int64_t& msecs) {
  double scaled = std::round(value * double(MSecsPerDay));
  // Far outside the calendar's range; clamp rather than overflow.
  if (!(std::fabs(scaled) < 9.0e18)) scaled = 0;
  const int64_t total = int64_t(scaled);
  days = total / MSecsPerDay;
  msecs = std::llabs(total) % MSecsPerDay;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  value = double(DaysFromCivil(year, month, day) - kEpochDays);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      msec < 0 || msec > 999)
    return false;
  value = double(((int64_t(hour) * 60 + minute) * 60 + second) * 1000 + msec) / double(MSecsPerDay);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime value;
  if (!TryEncodeDate(year, month, day, value))
    throw EConvertError("Invalid argument to date encode");
  return value;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime value;
  if (!TryEncodeTime(hour, minute, second, msec, value))
    throw EConvertError("Invalid argument to time encode");
  return value;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int64_t days, msecs;
  SplitValue(value, days, msecs);
  CivilFromDays(days + kEpochDays, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  int64_t days, msecs;
  SplitValue(value, days, msecs);
  msec = int(msecs % 1000);
  second = int(msecs / 1000 % 60);
  minute = int(msecs / 60000 % 60);
  hour = int(msecs / 3600000);
}

int DayOfWeek(TDateTime value) {
  int64_t days, msecs;
  SplitValue(value, days, msecs);
  // Day 0, 30 December 1899, was a Saturday.
  int64_t r = (days + 6) % 7;
  if (r < 0) r += 7;
  return int(r) + 1;
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  if (!localtime_r(&ts.tv_sec, &local)) return 0;
  TDateTime date;
  if (!TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date)) return 0;
  // A leap second reads as the last second of the minute.
  int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return date + EncodeTime(local.tm_hour, local.tm_min, second, int(ts.tv_nsec / 1000000));
}

}  // namespace ah
