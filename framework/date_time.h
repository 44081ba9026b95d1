#pragma once
// Date-times as a floating day count: whole days since 30 December 1899,
// the time of day as the fraction, in local time. A negative value keeps
// its time of day in the magnitude of the fraction (-1.25 is 29 December
// 1899, 06:00), as the day-count convention has it.

#include <cstdint>

namespace ah {

using TDateTime = double;

inline constexpr int64_t HoursPerDay = 24;
inline constexpr int64_t MinsPerDay = HoursPerDay * 60;
inline constexpr int64_t SecsPerDay = MinsPerDay * 60;
inline constexpr int64_t MSecsPerDay = SecsPerDay * 1000;

bool IsLeapYear(int year);
// 28..31; 0 for a month outside 1..12.
int DaysInMonth(int year, int month);

// Year 1..9999, month 1..12, day within the month; anything else raises
// EConvertError "Invalid argument to date encode".
TDateTime EncodeDate(int year, int month, int day);
// Hours 0..23, minutes and seconds 0..59, milliseconds 0..999; anything
// else raises EConvertError "Invalid argument to time encode".
TDateTime EncodeTime(int hour, int minute, int second, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value);

// Both read the value rounded to the nearest millisecond, so 23:59:59.9999
// decodes as midnight of the next day.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);

// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);

// The current local date and time, to the millisecond.
TDateTime Now();

}  // namespace ah
