#include "http/protocol_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "framework/date_time.h"
#include "tests/http/zone_guard.h"

namespace ah {
namespace {

using test::ZoneGuard;

constexpr double kHour = 1.0 / 24;
// Half a millisecond: the resolution the date arithmetic promises.
constexpr double kTolerance = 0.5 / double(MSecsPerDay);

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0);
}

TEST(InternetDate, ReadsTheShapesServersSend) {
  const struct {
    const char* text;
    TDateTime expected;
    const char* rest;
  } rows[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37), "GMT"},
      {"Sunday, 06-Nov-94 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37), "GMT"},
      {"Sun Nov  6 08:49:37 1994", At(1994, 11, 6, 8, 49, 37), ""},
      {"  Sun, 6 Nov 1994 08:49:37   +0200 ", At(1994, 11, 6, 8, 49, 37), "+0200"},
      {"06 Nov 1994 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37), "GMT"},
      {"sun, 06 nov 1994 08:49:37 gmt", At(1994, 11, 6, 8, 49, 37), "gmt"},
      {"Sun, 06 Nov 1994", At(1994, 11, 6), ""},
      {"Sun, 06 Nov 1994 08:49", At(1994, 11, 6, 8, 49), ""},
      {"Thu, 01-Jan-70 00:00:01 GMT", At(2070, 1, 1, 0, 0, 1), "GMT"},
      {"Mon, 01-Jan-07 10:00:00 GMT", At(2007, 1, 1, 10), "GMT"},
      {"Fri, 31-Dec-99 23:59:59 GMT", At(1999, 12, 31, 23, 59, 59), "GMT"},
      {"Wed, 09 Jun 2021 10:18:14 -0500", At(2021, 6, 9, 10, 18, 14), "-0500"},
      {"Nov-06-1994 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37), "GMT"},
      {"Sun Nov  6 1994", At(1994, 11, 6), ""},
      // A year of 1900 is a year, not the asctime time in the year's place.
      {"Mon, 01 Jan 1900 12:30:00 GMT", At(1900, 1, 1, 12, 30), "GMT"},
      {"Mon Jan  1 12:30:00 1900", At(1900, 1, 1, 12, 30), ""},
  };
  for (const auto& row : rows) {
    std::string text = row.text;
    EXPECT_NEAR(ParseInternetDate(text), row.expected, kTolerance) << row.text;
    EXPECT_EQ(text, row.rest) << row.text;
  }
}

TEST(InternetDate, UnreadableDatesGiveZero) {
  const char* rows[] = {
      "",
      "   ",
      "Sun, 06 Nov 1994 25:00:00 GMT",
      "Sun, 06 Nov 1994 08:60:00 GMT",
      "Sun, 06 Nov 1994 08:00:60 GMT",
      "Sun, 31 Feb 1994 08:00:00 GMT",
      "Sun, 06 Foo 1994 08:00:00 GMT",
      "garbage",
      "Sun,",
      "Sun, 00 Nov 1994",
  };
  for (const char* row : rows) {
    std::string text = row;
    EXPECT_EQ(ParseInternetDate(text), 0) << row;
  }
}

TEST(InternetDate, DatesBeforeTheEpochKeepTheirDayAndTime) {
  for (const char* input : {"Wed, 01 Jan 1800 06:30:15 GMT", "Wed Jan  1 06:30:15 1800"}) {
    std::string text = input;
    const TDateTime value = ParseInternetDate(text);
    int year, month, day, hour, minute, second, msec;
    DecodeDate(value, year, month, day);
    DecodeTime(value, hour, minute, second, msec);
    EXPECT_EQ((std::vector<int>{year, month, day, hour, minute, second}),
              (std::vector<int>{1800, 1, 1, 6, 30, 15}))
        << input;
  }
}

TEST(InternetDate, MissingDayReadsAsTheFirst) {
  std::string text = "Sun, x Nov 1994";
  EXPECT_EQ(ParseInternetDate(text), At(1994, 11, 1));
}

TEST(ZoneOffset, ReadsSignedHoursAndMinutes) {
  const struct {
    const char* text;
    double expected;
  } rows[] = {
      {"+0200", 2 * kHour},   {"-0530", -5.5 * kHour}, {" +0100 tail", kHour},
      {"+0000", 0},           {"GMT", 0},              {"", 0},
      {"+2", 0},              {"+2400", 0},            {"+0160", 0},
      {"+ab00", 0},           {"0200", 0},             {"-2359", -(23 * kHour + 59.0 / 1440)},
      {"+02000", 2 * kHour},  {"-", 0},
  };
  for (const auto& row : rows)
    EXPECT_NEAR(ParseZoneOffset(row.text), row.expected, kTolerance) << row.text;
}

TEST(ZoneOffset, FormatsSignAndFourDigits) {
  const struct {
    double offset;
    bool use_gmt;
    const char* expected;
  } rows[] = {
      {0, true, "GMT"},           {0, false, "+0000"},        {-5.5 * kHour, true, "-0530"},
      {-5.5 * kHour, false, "-0530"}, {kHour, true, "+0100"}, {5.75 * kHour, false, "+0545"},
      {-12 * kHour, true, "-1200"}, {14 * kHour, true, "+1400"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(FormatZoneOffset(row.offset, row.use_gmt), row.expected)
        << row.offset * 24 << "h use_gmt=" << row.use_gmt;
}

TEST(LocalZone, FollowsTheZoneInForce) {
  const struct {
    const char* zone;
    double offset;
  } rows[] = {
      {"UTC0", 0},
      {"EST5", -5 * kHour},
      {"<+0530>-5:30", 5.5 * kHour},
      {"<+01>-1", kHour},
      {"<-0345>3:45", -3.75 * kHour},
  };
  for (const auto& row : rows) {
    ZoneGuard zone(row.zone);
    EXPECT_NEAR(LocalOffsetFromUtc(), row.offset, kTolerance) << row.zone;
  }
}

TEST(LocalZone, DatesAreConvertedThroughUtc) {
  ZoneGuard zone("<+01>-1");
  const TDateTime gmt = InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_NEAR(gmt, At(1994, 11, 6, 9, 49, 37), kTolerance);
  EXPECT_NEAR(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 +0200"), gmt - 2 * kHour, kTolerance);
  EXPECT_NEAR(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 -0130"), gmt + 1.5 * kHour,
              kTolerance);
  // Zone names count as UTC.
  EXPECT_NEAR(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 EST"), gmt, kTolerance);
  EXPECT_NEAR(InternetDateToLocal("Sun Nov  6 08:49:37 1994"), gmt, kTolerance);
  // An unreadable date lands next to the zero date, shifted by the zone.
  EXPECT_NEAR(InternetDateToLocal("no date"), kHour, kTolerance);
}

TEST(LocalZone, InternetDatesCarryTheLocalSuffix) {
  {
    ZoneGuard zone("<+01>-1");
    EXPECT_EQ(FormatInternetDate(At(2026, 12, 8, 5, 1, 2), true), "Tue, 8 Dec 2026 05:01:02 +0100");
  }
  {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(FormatInternetDate(At(1994, 11, 6, 8, 49, 37), true), "Sun, 6 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(FormatInternetDate(At(1994, 11, 6, 8, 49, 37), false),
              "Sun, 6 Nov 1994 08:49:37 +0000");
  }
  {
    ZoneGuard zone("<-0330>3:30");
    EXPECT_EQ(FormatInternetDate(At(2000, 2, 29, 23, 0, 9), false),
              "Tue, 29 Feb 2000 23:00:09 -0330");
  }
}

TEST(LocalZone, WrittenDatesReadBackAsTheSameInstant) {
  for (const char* name : {"UTC0", "<+0530>-5:30", "EST5", "<-11>11"}) {
    ZoneGuard zone(name);
    for (TDateTime value : {At(1994, 11, 6, 8, 49, 37), At(2070, 1, 1, 0, 0, 1), At(2026, 3, 29, 1)})
      EXPECT_NEAR(InternetDateToLocal(FormatInternetDate(value, false)), value, kTolerance)
          << name << " " << FormatInternetDate(value, false);
  }
}

TEST(DayAndMonthNames, MatchThreeLettersInAnyCase) {
  EXPECT_EQ(DayNameToNumber("sun"), 1);
  EXPECT_EQ(DayNameToNumber("SAT"), 7);
  EXPECT_EQ(DayNameToNumber("Sunday"), 0);
  EXPECT_EQ(DayNameToNumber("Su"), 0);
  EXPECT_EQ(MonthNameToNumber("dEc"), 12);
  EXPECT_EQ(MonthNameToNumber("May"), 5);
  EXPECT_EQ(MonthNameToNumber("June"), 0);
  EXPECT_EQ(MonthNameToNumber(""), 0);
}

TEST(HostNames, DottedQuadsAreAddresses) {
  const struct {
    const char* text;
    bool address;
  } rows[] = {
      {"10.0.0.1", true},     {"10.0.0.1.9", true},  {" 127.0.0.1 ", true},
      {"255.255.255.255", true}, {"0.0.0.0", true},  {"10.0.0", false},
      {"256.1.1.1", false},   {"1.2.3.-1", false},   {"a.b.c.d", false},
      {"", false},            {"10..0.1", false},    {"1.2.3.4x", false},
      {"host.zone.lan", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsIPAddress(row.text), row.address) << row.text;
}

TEST(HostNames, DomainPartStartsAtTheFirstDot) {
  EXPECT_TRUE(IsHostNameText("srv.zone.lan"));
  EXPECT_TRUE(IsHostNameText(""));
  EXPECT_FALSE(IsHostNameText(".zone.lan"));
  EXPECT_FALSE(IsHostNameText("10.0.0.1"));
  EXPECT_EQ(HostDomainPart("srv.zone.lan"), ".zone.lan");
  EXPECT_EQ(HostDomainPart("localhost"), "localhost");
  EXPECT_EQ(HostDomainPart(".lan"), ".lan");
}

TEST(RelativePath, MergesWithTheCurrentPath) {
  const struct {
    const char* base;
    const char* path;
    const char* expected;
  } rows[] = {
      {"/a/b/", "d.html", "/a/b/d.html"},
      {"/a/b/", "../e/", "/a/e/"},
      {"/a/b/", "/x", "/x"},
      {"/a/", "", "/a/"},
      {"/a/b", "c", "/a/b/c"},
      {"/a/b/", "../../c", "/c"},
      {"/a/", "../../c", "/c"},
      {"/", "../x", "/x"},
      {"/a/b/", "./c", "/a/b/./c"},
      {"/a//b/", "c//d", "/a/b/c/d"},
      {"/a/b/", "..", "/a"},
      {"/a/b/", "../", "/a/"},
      {"", "a/b", "a/b"},
      {"", "../a", "../a"},
      {"/a/", "b/", "/a/b/"},
      {"/", "", "/"},
      {"", "", ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(MergeRelativePath(row.base, row.path, "/"), row.expected)
        << row.base << " + " << row.path;
}

}  // namespace
}  // namespace ah
