#include "framework/sysutils.h"

#include <charconv>

#include <cstdarg>
#include <cstdio>
#include <limits>

#include "framework/exception.h"

namespace ah {

namespace {
bool IsTrimmed(unsigned char c) { return c < 33; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
}  // namespace

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsTrimmed(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsTrimmed(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Upper(c);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Lower(c);
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

int CompareText(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::optional<int64_t> TryStrToInt64(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return std::nullopt;
  // Accumulate as unsigned so that the most negative value still fits.
  const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                  : uint64_t(std::numeric_limits<int64_t>::max());
  uint64_t value = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    if (value > (limit - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  if (negative) return value == uint64_t(std::numeric_limits<int64_t>::max()) + 1
                           ? std::numeric_limits<int64_t>::min()
                           : -int64_t(value);
  return int64_t(value);
}

std::optional<int32_t> TryStrToInt(std::string_view s) {
  auto v = TryStrToInt64(s);
  if (!v || *v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return int32_t(*v);
}

std::optional<int> ReadDecimal(std::string_view text, int min, int max) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < min || value > max)
    return std::nullopt;
  return value;
}

namespace {
[[noreturn]] void NotAnInteger(std::string_view s) {
  throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
}
}  // namespace

int32_t StrToInt(std::string_view s) {
  if (auto v = TryStrToInt(s)) return *v;
  NotAnInteger(s);
}

int64_t StrToInt64(std::string_view s) {
  if (auto v = TryStrToInt64(s)) return *v;
  NotAnInteger(s);
}

int32_t StrToIntDef(std::string_view s, int32_t def) { return TryStrToInt(s).value_or(def); }
int64_t StrToInt64Def(std::string_view s, int64_t def) { return TryStrToInt64(s).value_or(def); }

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(size_t(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(size_t(n));
  }
  va_end(args);
  return out;
}

std::string OneLine(std::string_view message) {
  std::string line;
  bool gap = false;
  for (char c : message) {
    if (c == '\r' || c == '\n' || c == '\t') {
      gap = true;
      continue;
    }
    if (gap) {
      // The blanks around a break collapse into the one space.
      if (c == ' ') continue;
      while (!line.empty() && line.back() == ' ') line.pop_back();
      if (!line.empty()) line += ' ';
      gap = false;
    }
    line += c;
  }
  const size_t start = line.find_first_not_of(' ');
  if (start == std::string::npos) return {};
  return line.substr(start, line.find_last_not_of(' ') - start + 1);
}

}  // namespace ah
