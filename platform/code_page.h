#pragma once
// Conversion between UTF-8 and the system's 8-bit code page, which is
// Windows-1251 on every platform this program runs on.

#include <string>
#include <string_view>

namespace ah {

// A malformed UTF-8 sequence anywhere (stray or missing continuation
// bytes, overlong forms, surrogates, code points past U+10FFFF) makes the
// whole result empty; a character Windows-1251 cannot hold becomes "?".
std::string Utf8ToAnsi(std::string_view utf8);

// For showing text that may not be UTF-8 (file names): each byte that does
// not start a well-formed sequence becomes "?" on its own, the rest
// converts as above.
std::string Utf8ToAnsiLossy(std::string_view utf8);

// Well-formed UTF-8 as it is; each byte that does not start a well-formed
// sequence becomes U+FFFD on its own, as Utf8ToAnsiLossy makes it "?".
std::string RepairUtf8(std::string_view bytes);

// Appends the UTF-8 form of a code point (at most U+10FFFF, no surrogate).
void AppendUtf8(std::string& out, char32_t cp);

// Every Windows-1251 byte has a UTF-8 form; the one unassigned byte 0x98
// maps to U+0098 so that names survive a round trip.
std::string AnsiToUtf8(std::string_view ansi);

}  // namespace ah
