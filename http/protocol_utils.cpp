#include "http/protocol_utils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "transport/stack.h"

namespace ah {

const std::array<std::string_view, 8> DayNames = {"",    "Sun", "Mon", "Tue",
                                                  "Wed", "Thu", "Fri", "Sat"};
const std::array<std::string_view, 13> MonthNames = {"",    "Jan", "Feb", "Mar", "Apr",
                                                     "May", "Jun", "Jul", "Aug", "Sep",
                                                     "Oct", "Nov", "Dec"};

namespace {

const std::array<std::string_view, 7> kUpperDays = {"SUN", "MON", "TUE", "WED",
                                                    "THU", "FRI", "SAT"};
const std::array<std::string_view, 12> kUpperMonths = {"JAN", "FEB", "MAR", "APR",
                                                       "MAY", "JUN", "JUL", "AUG",
                                                       "SEP", "OCT", "NOV", "DEC"};

std::string TakeField(std::string& text, std::string_view delimiter) {
  std::string field = TakeToken(text, delimiter);
  text = TrimLeft(text);
  return field;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return !prefix.empty() && text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return !suffix.empty() && text.size() >= suffix.size() &&
         text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

int DayNameToNumber(std::string_view text) {
  return IndexInStringArray(UpperCase(text), kUpperDays, true) + 1;
}

int MonthNameToNumber(std::string_view text) {
  return IndexInStringArray(UpperCase(text), kUpperMonths, true) + 1;
}

TDateTime ParseInternetDate(std::string& text) {
  text = Trim(text);
  if (text.empty()) return 0;

  if (DayNameToNumber(text.substr(0, 3)) > 0) TakeField(text, " ");

  std::string_view delimiter = " ";
  const size_t dash = TextPos("-", text);
  if (dash > 1) {
    const size_t space = TextPos(" ", text);
    if (space > 0 && dash < space) delimiter = "-";
  }

  int day, month;
  std::string first = TakeToken(text, delimiter, false);
  if (MonthNameToNumber(first) > 0) {
    month = MonthNameToNumber(TakeField(text, delimiter));
    day = StrToIntDef(TakeField(text, delimiter), 1);
  } else {
    day = StrToIntDef(TakeField(text, delimiter), 1);
    month = MonthNameToNumber(TakeField(text, delimiter));
  }

  std::string year_field = TakeField(text, " ");
  // Only a field that is no number is the time of the asctime shape; the
  // year 1900 itself is a year like any other.
  const std::optional<int32_t> year_number = TryStrToInt(year_field);
  int year = year_number.value_or(1900);
  if (!year_number) {
    // The field was the time (asctime puts the year last).
    year = StrToIntDef(text, 1900);
    text = year_field;
  }
  if (year < 80) year += 2000;
  else if (year <= 99) year += 1900;

  TDateTime result;
  if (!TryEncodeDate(year, month, day, result)) return 0;

  if (TextPos(":", text) > 0) {
    std::string time = TakeField(text, " ");
    const int hours = StrToIntDef(TakeToken(time, ":"), 0);
    const int minutes = StrToIntDef(TakeToken(time, ":"), 0);
    const int seconds = StrToIntDef(TakeToken(time, " "), 0);
    TDateTime time_of_day;
    if (!TryEncodeTime(hours, minutes, seconds, 0, time_of_day)) return 0;
    // Before the epoch the day count is negative and the time of day is
    // the magnitude of its fraction, so it is taken away there.
    result = result < 0 ? result - time_of_day : result + time_of_day;
  }
  text = TrimLeft(text);
  return result;
}

TDateTime ParseZoneOffset(std::string_view text) {
  const std::string zone = Trim(text).substr(0, 5);
  if (zone.empty() || (zone[0] != '+' && zone[0] != '-')) return 0;
  const auto hours = TryStrToInt(std::string_view(zone).substr(1, 2));
  const auto minutes = TryStrToInt(std::string_view(zone).substr(std::min<size_t>(3, zone.size())));
  TDateTime offset;
  if (!hours || !minutes || !TryEncodeTime(*hours, *minutes, 0, 0, offset)) return 0;
  return zone[0] == '-' ? -offset : offset;
}

TDateTime InternetDateToLocal(std::string_view text) {
  std::string rest(text);
  TDateTime value = ParseInternetDate(rest);
  const TDateTime offset = rest.size() >= 5 ? ParseZoneOffset(rest) : 0;
  return value - offset + LocalOffsetFromUtc();
}

TDateTime LocalOffsetFromUtc() {
  const time_t now = time(nullptr);
  tm local{};
  if (now == time_t(-1) || !localtime_r(&now, &local))
    throw EIdFailedToRetreiveTimeZoneInfo("Failed attempting to retrieve time zone information.");
  // The bias is UTC minus local in minutes. tm_gmtoff is the offset in
  // force now: the base offset when the zone has no daylight rule
  // (tm_isdst < 0 or no rule at all), the standard one in standard time
  // (0) and the daylight one in daylight time (> 0), so all three states
  // read it and only the failed query above is an error.
  const long bias = -local.tm_gmtoff / 60;
  const long magnitude = std::labs(bias);
  const TDateTime offset = double((magnitude / 60) * 60 + magnitude % 60) / double(MinsPerDay);
  return bias > 0 ? -offset : offset;
}

std::string FormatZoneOffset(TDateTime offset, bool use_gmt) {
  if (offset == 0 && use_gmt) return "GMT";
  int hours, minutes, seconds, msecs;
  DecodeTime(std::fabs(offset), hours, minutes, seconds, msecs);
  std::string text = Format(" %.2d%.2d", hours, minutes);
  text[0] = offset >= 0 ? '+' : '-';
  return text;
}

std::string FormatInternetDate(TDateTime value, bool use_gmt) {
  int year, month, day, hours, minutes, seconds, msecs;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hours, minutes, seconds, msecs);
  const std::string time = Format("%.2d:%.2d:%.2d", hours, minutes, seconds);
  return Format("%s, %d %s %d %s %s", std::string(DayNames[size_t(DayOfWeek(value))]).c_str(), day,
                std::string(MonthNames[size_t(month)]).c_str(), year, time.c_str(),
                FormatZoneOffset(LocalOffsetFromUtc(), use_gmt).c_str());
}

bool IsIPAddress(std::string_view text) {
  // The stack's dotted-address test over the first four pieces: what
  // follows a fourth dot is not looked at.
  const std::string trimmed = Trim(text);
  size_t end = 0;
  for (int dot = 0; dot < 4 && end != std::string::npos; ++dot) {
    end = trimmed.find('.', end);
    if (end != std::string::npos) ++end;
  }
  return IsDottedIPv4(end == std::string::npos ? std::string_view(trimmed)
                                               : std::string_view(trimmed).substr(0, end - 1));
}

bool IsHostNameText(std::string_view text) {
  if (!text.empty() && text[0] == '.') return false;
  return !IsIPAddress(text);
}

std::string HostDomainPart(std::string_view host) {
  const size_t dot = host.find('.');
  return std::string(dot == std::string_view::npos ? host : host.substr(dot));
}

std::string MergeRelativePath(std::string_view base_path, std::string_view path,
                              std::string_view delimiter) {
  if (delimiter.empty() || StartsWith(path, delimiter)) return std::string(path);
  const bool keep_trailing = path.empty() || EndsWith(path, delimiter);

  std::string work(base_path);
  if (!work.empty() && !EndsWith(work, delimiter)) work += delimiter;
  work += path;

  std::string result;
  size_t i = 0;
  while (i < work.size()) {
    const std::string_view rest = std::string_view(work).substr(i);
    if (StartsWith(rest, delimiter)) {
      if (i == 0 || !EndsWith(result, delimiter)) result += delimiter;
      i += delimiter.size();
    } else if (StartsWith(rest, "..") && EndsWith(result, delimiter)) {
      result.resize(result.size() - delimiter.size());
      while (!result.empty() && !EndsWith(result, delimiter)) result.pop_back();
      i += 2;
    } else {
      result += work[i];
      ++i;
    }
  }
  if (result != delimiter && EndsWith(result, delimiter) && !keep_trailing)
    result.resize(result.size() - delimiter.size());
  return result;
}

}  // namespace ah
