#pragma once
// Byte-string helpers of the framework: trimming, ASCII case, integer
// conversion and printf-style formatting. Text is bytes; only ASCII letters
// change case.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ah {

// Removes every character with a code below 33 from the ends.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
// A message as one line, for a log or an error line: every run of line
// breaks and tabs becomes one space (the blanks around it going with it),
// and the ends are trimmed. Other bytes stay as they are.
std::string OneLine(std::string_view message);

std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// Equality ignoring ASCII letter case.
bool SameText(std::string_view a, std::string_view b);
// <0, 0, >0 like strcmp, ignoring ASCII letter case.
int CompareText(std::string_view a, std::string_view b);

std::string IntToStr(int64_t value);

// The platform's integer reading: leading blanks, an optional sign, decimal
// digits or a "$"/"0x" hexadecimal prefix, nothing after; must fit the type.
std::optional<int32_t> TryStrToInt(std::string_view s);
std::optional<int64_t> TryStrToInt64(std::string_view s);
// The whole of `text` as decimal digits (a leading "-" for a negative
// number) whose value lies within [min, max]: the reading of a count typed
// on a command line or taken from an address. None for anything else.
std::optional<int> ReadDecimal(std::string_view text, int min, int max);
// Strict: raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view s);
int64_t StrToInt64(std::string_view s);
// Lenient: the default for anything that is not an integer.
int32_t StrToIntDef(std::string_view s, int32_t def);
int64_t StrToInt64Def(std::string_view s, int64_t def);

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ah
