// Random and truncated inputs for the date, zone, path and cookie readers:
// none may crash, hang or raise. Fixed seeds and bounded counts keep the
// runs repeatable.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "framework/date_time.h"
#include "framework/exception.h"
#include "http/cookie.h"
#include "http/cookie_jar.h"
#include "http/protocol_utils.h"

namespace ah {
namespace {

constexpr int kRounds = 4000;

// Builds texts from the tokens the parsers split at, mixed with raw bytes.
class TextSource {
 public:
  TextSource(unsigned seed, std::vector<std::string> tokens)
      : random_(seed), tokens_(std::move(tokens)) {}

  std::string Next() {
    std::string text;
    const int parts = Pick(12);
    for (int i = 0; i < parts; ++i) {
      if (Pick(4) == 0) text += char(Pick(256));
      else text += tokens_[size_t(Pick(int(tokens_.size())))];
    }
    return text;
  }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

 private:
  std::mt19937 random_;
  std::vector<std::string> tokens_;
};

// Every prefix of every sample, then random texts.
template <typename Check>
void Feed(unsigned seed, const std::vector<std::string>& samples, std::vector<std::string> tokens,
          Check check, int rounds = kRounds) {
  for (const std::string& sample : samples)
    for (size_t n = 0; n <= sample.size(); ++n) check(sample.substr(0, n));
  TextSource source(seed, std::move(tokens));
  for (int i = 0; i < rounds; ++i) check(source.Next());
}

const std::vector<std::string> kDateTokens = {
    "Sun", "Sunday", "Mon", ",", " ", "  ", "-", ":", "Nov", "nov", "Feb", "GMT", "+", "0200",
    "06", "6", "94", "1994", "70", "08:49:37", "25", "99", "0", "00", "9999999999", "$ff", "0x",
};

TEST(DateAndCookieFuzz, InternetDatesNeverRaise) {
  const TDateTime lowest = EncodeDate(1, 1, 1), highest = EncodeDate(9999, 12, 31) + 1;
  Feed(1, {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
           "Sun Nov  6 08:49:37 1994", "Thu, 01-Jan-70 00:00:01 +0200"},
       kDateTokens, [&](const std::string& input) {
         std::string text = input;
         TDateTime value = 0;
         ASSERT_NO_THROW(value = ParseInternetDate(text)) << input;
         EXPECT_TRUE(value == 0 || (value >= lowest && value < highest)) << input;
         EXPECT_LE(text.size(), input.size()) << input;
         ASSERT_NO_THROW(InternetDateToLocal(input)) << input;
       });
}

TEST(DateAndCookieFuzz, ZoneOffsetsStayWithinADay) {
  Feed(2, {"+0200", "-0530", " -2359 "}, {"+", "-", "0", "5", "9", "23", "59", "60", " ", "x"},
       [](const std::string& input) {
         TDateTime offset = 0;
         ASSERT_NO_THROW(offset = ParseZoneOffset(input)) << input;
         EXPECT_LT(std::abs(offset), 1.0) << input;
       });
}

TEST(DateAndCookieFuzz, MergedPathsHaveNoEmptySegments) {
  TextSource bases(3, {"/", "a", "b", ".", "..", "//"});
  Feed(4, {"../e/", "a/./../b//c", "../../.."}, {"/", "a", "b", ".", "..", "//", "x.html"},
       [&](const std::string& path) {
         const std::string base = bases.Next();
         std::string merged;
         ASSERT_NO_THROW(merged = MergeRelativePath(base, path, "/")) << base << " + " << path;
         if (path.empty() || path[0] != '/')
           EXPECT_EQ(merged.find("//"), std::string::npos) << base << " + " << path;
         else
           EXPECT_EQ(merged, path);
       });
}

const std::vector<std::string> kCookieTokens = {
    "SID", "=", ";", " ", "; ", "path", "Path=/", "\"", "domain=", ".zone.lan", "h.zone.lan",
    "secure", "expires=", "Sun, 06 Nov 1994 08:49:37 GMT", "max-age=", "3600", "-1",
    "99999999999999999999", "Port", "Port=\"80,8080\"", "\r\n", ",", "Discard", "version=1",
};

// Only a Set-cookie2 port that is not a number may raise, and only as the
// integer conversion error.
TEST(DateAndCookieFuzz, CookieTextsNeverRaiseButForPorts) {
  Feed(5, {"SID=ab=cd; Path=/; Secure", "a=b; max-age=3600; Port=\"80,8080\"; Discard"},
       kCookieTokens, [](const std::string& input) {
         TIdCookieRFC2109 cookie(nullptr);
         ASSERT_NO_THROW(cookie.ParseCookieText(input)) << input;
         ASSERT_NO_THROW(cookie.ServerCookie()) << input;
         TIdCookieRFC2965 cookie2(nullptr);
         try {
           cookie2.ParseCookieText(input);
         } catch (const EConvertError&) {
         }
         // Writing back and reading again keeps name and value. An empty
         // value is left out of the text, and lines only split texts
         // without ";", so those do not read back.
         TIdCookieRFC2109 copy(nullptr);
         copy.CopyFrom(cookie);
         if (!cookie.Value().empty() && input.find(';') != std::string::npos &&
             input.find_first_of("\r\n") == std::string::npos) {
           EXPECT_EQ(copy.CookieName(), cookie.CookieName()) << input;
           EXPECT_EQ(copy.Value(), cookie.Value()) << input;
         }
       });
}

TEST(DateAndCookieFuzz, JarTakesAnyCookieFromAnyHost) {
  TIdCookieManager jar(nullptr);
  TextSource hosts(6, {"h", ".", "zone", "lan", "10", "0", "1"});
  Feed(7, {"SID=1; path=/; domain=.zone.lan"}, kCookieTokens, [&](const std::string& input) {
    const std::string host = hosts.Next();
    try {
      jar.TakeSetCookie2(input, host, "/a/b");
    } catch (const EConvertError&) {
    }
    ASSERT_NO_THROW(jar.TakeSetCookie(input, host)) << input << " from " << host;
    ASSERT_NO_THROW(jar.BuildCookieHeader(TIdURI("http://" + host + "/a/"), true)) << host;
  }, kRounds / 4);
}

}  // namespace
}  // namespace ah
