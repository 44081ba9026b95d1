// Cookies: the records read any Set-cookie text and write back what they
// read, the jar stores any line from any host, and the Cookie header it
// builds stays one line made of what the server sent.
//
// Input: the host, the request path, then one Set-cookie value per line
// (a line starting with "2:" goes in as Set-cookie2).

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/exception.h"
#include "framework/strings.h"
#include "http/cookie.h"
#include "http/cookie_jar.h"
#include "http/uri.h"
#include "tests/support/fuzz_check.h"

namespace {

void CheckRecord(std::string_view text) {
  using namespace ah;
  TIdCookieRFC2109 cookie(nullptr);
  cookie.ParseCookieText(text);
  cookie.ServerCookie();
  TIdCookieRFC2965 cookie2(nullptr);
  try {
    cookie2.ParseCookieText(text);
  } catch (const EConvertError&) {
    // A Set-cookie2 port that is not a number.
  }
  cookie2.ServerCookie();
  // Written back and read again, name and value stay. An empty value is
  // left out of the text, and a text without ";" is read as lines.
  TIdCookieRFC2109 copy(nullptr);
  copy.CopyFrom(cookie);
  if (!cookie.Value().empty() && text.find(';') != std::string_view::npos &&
      text.find_first_of("\r\n") == std::string_view::npos) {
    AH_FUZZ_CHECK(copy.CookieName() == cookie.CookieName());
    AH_FUZZ_CHECK(copy.Value() == cookie.Value());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ah;
  ah::fuzz::InputParts parts(data, size);
  const std::string host(parts.Next());
  const std::string path(parts.Next());
  const std::string_view lines = parts.Rest();

  TIdCookieManager jar(nullptr);
  size_t stored_bytes = 0;
  for (const std::string& line : SplitLines(lines)) {
    CheckRecord(line);
    stored_bytes += line.size() + 2;
    if (line.rfind("2:", 0) == 0) {
      try {
        jar.TakeSetCookie2(std::string_view(line).substr(2), host, path);
      } catch (const EConvertError&) {
      }
    } else {
      jar.TakeSetCookie(line, host, path);
    }
  }

  const TIdURI uri("http://" + host + (path.empty() || path[0] != '/' ? "/" : "") + path);
  const std::string plain = jar.BuildCookieHeader(uri, false);
  const std::string secure = jar.BuildCookieHeader(uri, true);
  AH_FUZZ_CHECK(plain.size() <= secure.size());
  AH_FUZZ_CHECK(secure.size() <= stored_bytes);
  AH_FUZZ_CHECK(secure.find('\n') == std::string::npos);
  jar.PurgeExpiredCookies();
  return 0;
}
