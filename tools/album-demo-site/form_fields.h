#pragma once
// Small parsers for what browsers and the harvester send the demo site:
// form-encoded bodies and the Cookie header. They never fail; malformed
// input yields what can be read of it.

#include <ctime>
#include <map>
#include <string>
#include <string_view>

namespace ah {

// "+" becomes a space and "%XX" the byte XX; a "%" without two hex digits
// after it stays as written.
std::string FormDecode(std::string_view text);

// Fields of an application/x-www-form-urlencoded body. Empty pieces (the
// harvester ends its body with "&") are skipped; a piece without "=" is a
// field with an empty value; of repeated names the first one counts.
std::map<std::string, std::string> ParseFormBody(std::string_view body);

// Value of cookie name in a Cookie header ("a=1; b=2"), empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);

// RFC 1123 date in GMT ("Sun, 06 Nov 1994 08:49:37 GMT"), locale-independent.
std::string HttpDate(std::time_t when);

// The argument quoted for a POSIX shell when it needs it.
std::string ShellQuote(std::string_view arg);

}  // namespace ah
