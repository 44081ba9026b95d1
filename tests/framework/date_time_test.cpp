#include "framework/date_time.h"

#include <gtest/gtest.h>

#include "framework/exception.h"

namespace ah {
namespace {

TEST(DateTime, EncodeDateCountsDaysFromTheEndOf1899) {
  struct Row {
    int y, m, d;
    double days;
  } rows[] = {
      {1899, 12, 30, 0},     {1899, 12, 31, 1},     {1900, 1, 1, 2},      {1900, 3, 1, 61},
      {2000, 1, 1, 36526},   {2000, 2, 29, 36585},  {1994, 11, 6, 34644}, {1, 1, 1, -693593},
      {9999, 12, 31, 2958465},
  };
  for (const Row& r : rows)
    EXPECT_EQ(EncodeDate(r.y, r.m, r.d), r.days) << r.y << "-" << r.m << "-" << r.d;
}

TEST(DateTime, InvalidPartsRaiseConvertErrors) {
  struct Row {
    int y, m, d;
  } dates[] = {{1900, 2, 29}, {2001, 2, 29}, {2000, 0, 1}, {2000, 13, 1}, {2000, 4, 31},
               {2000, 1, 0},  {0, 1, 1},     {10000, 1, 1}};
  for (const Row& r : dates) {
    try {
      EncodeDate(r.y, r.m, r.d);
      ADD_FAILURE() << r.y << "-" << r.m << "-" << r.d;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "Invalid argument to date encode");
    }
  }
  struct TimeRow {
    int h, m, s, ms;
  } times[] = {{24, 0, 0, 0}, {25, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000},
               {-1, 0, 0, 0}};
  for (const TimeRow& t : times) {
    try {
      EncodeTime(t.h, t.m, t.s, t.ms);
      ADD_FAILURE() << t.h << ":" << t.m << ":" << t.s << "." << t.ms;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "Invalid argument to time encode");
    }
  }
}

TEST(DateTime, DecodeReversesEncode) {
  const TDateTime v = EncodeDate(2026, 12, 8) + EncodeTime(5, 1, 2, 345);
  int y, mo, d, h, mi, s, ms;
  DecodeDate(v, y, mo, d);
  DecodeTime(v, h, mi, s, ms);
  EXPECT_EQ((std::array<int, 7>{y, mo, d, h, mi, s, ms}),
            (std::array<int, 7>{2026, 12, 8, 5, 1, 2, 345}));
}

TEST(DateTime, DecodingRoundsToTheMillisecond) {
  // Half a millisecond before midnight belongs to the next day.
  const TDateTime v = EncodeDate(2000, 12, 31) + (double(MSecsPerDay) - 0.4) / double(MSecsPerDay);
  int y, mo, d, h, mi, s, ms;
  DecodeDate(v, y, mo, d);
  DecodeTime(v, h, mi, s, ms);
  EXPECT_EQ((std::array<int, 7>{y, mo, d, h, mi, s, ms}),
            (std::array<int, 7>{2001, 1, 1, 0, 0, 0, 0}));
}

TEST(DateTime, DayOfWeekStartsOnSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 31)), 1);
  EXPECT_EQ(DayOfWeek(EncodeDate(1994, 11, 6) + 0.99), 1);
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 8)), 3);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 29)), 6);
  EXPECT_EQ(DayOfWeek(EncodeDate(1800, 1, 1)), 4);  // a Wednesday
}

}  // namespace
}  // namespace ah
