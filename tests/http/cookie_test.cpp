#include "http/cookie.h"

#include <gtest/gtest.h>

#include <cmath>

#include "framework/date_time.h"
#include "framework/exception.h"
#include "http/exceptions.h"
#include "http/protocol_utils.h"

namespace ah {
namespace {

constexpr double kSecond = 1.0 / double(SecsPerDay);

TEST(CookieText, SplitsNameValueAndAttributes) {
  const struct {
    const char* text;
    const char* name;
    const char* value;
    const char* path;
    const char* domain;
    bool secure;
  } rows[] = {
      {"SID=ab=cd; Path=/; Secure", "SID", "ab=cd", "/", "", true},
      {"name=value", "name", "value", "", "", false},
      {"a=b; path=\"/x/\"", "a", "b", "/x/", "", false},
      {"a=b; path=\"", "a", "b", "", "", false},
      {"a=b; PATH=/Up/; DOMAIN=.Zone.lan", "a", "b", "/Up/", ".Zone.lan", false},
      {" a = b ;  domain=h.lan  ; secure ", "a ", " b", "", "h.lan", true},
      {"a=b; secure=yes", "a", "b", "", "", false},
      {"a=b;", "a", "b", "", "", false},
      {"a=;path=/", "a", "", "/", "", false},
      {"noequals; path=/", "", "noequals", "/", "", false},
      {"", "", "", "", "", false},
      {"a=b; path=/one; path=/two", "a", "b", "/one", "", false},
  };
  for (const auto& row : rows) {
    TIdCookieRFC2109 cookie(nullptr);
    cookie.ParseCookieText(row.text);
    EXPECT_EQ(cookie.CookieName(), row.name) << row.text;
    EXPECT_EQ(cookie.Value(), row.value) << row.text;
    EXPECT_EQ(cookie.Path(), row.path) << row.text;
    EXPECT_EQ(cookie.Domain(), row.domain) << row.text;
    EXPECT_EQ(cookie.Secure(), row.secure) << row.text;
    EXPECT_EQ(cookie.CookieText(), row.text);
  }
}

TEST(CookieText, MaxAgeBecomesALocalExpiryDate) {
  TIdCookieRFC2109 cookie(nullptr);
  const TDateTime before = Now();
  cookie.ParseCookieText("s=1; max-age=3600; path=/");
  const TDateTime after = Now();
  ASSERT_FALSE(cookie.Expires().empty());
  const std::string zone = FormatZoneOffset(LocalOffsetFromUtc(), false);
  EXPECT_EQ(cookie.Expires().substr(cookie.Expires().size() - zone.size()), zone)
      << cookie.Expires();
  const TDateTime expiry = InternetDateToLocal(cookie.Expires());
  EXPECT_GE(expiry, before + 3599 * kSecond) << cookie.Expires();
  EXPECT_LE(expiry, after + 3600 * kSecond) << cookie.Expires();
  EXPECT_GE(cookie.MaxAge(), 3598);
  EXPECT_LE(cookie.MaxAge(), 3600);
  EXPECT_EQ(cookie.InternalVersion(), 0);
  EXPECT_EQ(cookie.ServerCookie(), "s=1; path=/; expires=" + cookie.Expires());
}

TEST(CookieText, ExpiryDateKeepsTheRfc2109Dialect) {
  TIdCookieRFC2109 cookie(nullptr);
  const std::string date = FormatInternetDate(Now() + 1, false);
  cookie.ParseCookieText("s=1; expires=" + date + "; path=/");
  EXPECT_EQ(cookie.Expires(), date);
  EXPECT_EQ(cookie.InternalVersion(), 1);
  EXPECT_EQ(cookie.MaxAge(), -1);  // no max-age attribute
  EXPECT_EQ(cookie.ServerCookie(), "s=1; path=/");

  // Setting the date alone derives the count.
  cookie.SetExpires(FormatInternetDate(Now() + 2 * 3600 * kSecond, false));
  EXPECT_GE(cookie.MaxAge(), 7197);
  EXPECT_LE(cookie.MaxAge(), 7200);
  // An unreadable date counts as long past.
  cookie.SetExpires("never");
  EXPECT_EQ(cookie.Expires(), "never");
  EXPECT_LT(cookie.MaxAge(), -3600LL * 24 * 365 * 100);
}

TEST(CookieText, HugeMaxAgeStaysWithinTheCalendar) {
  TIdCookieRFC2109 cookie(nullptr);
  cookie.ParseCookieText("s=1; max-age=9223372036854775807");
  EXPECT_GT(InternetDateToLocal(cookie.Expires()), EncodeDate(9999, 1, 1)) << cookie.Expires();
  EXPECT_GT(cookie.MaxAge(), 0);
}

TEST(CookieText, NetscapeFormWritesExpires) {
  TIdNetscapeCookie cookie(nullptr);
  cookie.ParseCookieText("n=v; Expires=Sun, 06 Nov 2094 08:49:37 GMT; Domain=.zone.lan; secure");
  EXPECT_EQ(cookie.InternalVersion(), 0);
  EXPECT_EQ(cookie.ServerCookie(),
            "n=v; expires=Sun, 06 Nov 2094 08:49:37 GMT; domain=.zone.lan; secure");
  EXPECT_EQ(cookie.ClientCookie(), "n=v");
}

TEST(CookieText, Rfc2109AttributesAreWrittenBack) {
  TIdCookieRFC2109 cookie(nullptr);
  cookie.ParseCookieText("SID=1; Version=1; Comment=why; Path=/; Domain=.zone.lan; Secure");
  EXPECT_EQ(cookie.Version(), "1");
  EXPECT_EQ(cookie.Comment(), "why");
  EXPECT_EQ(cookie.ServerCookie(), "SID=1; path=/; domain=.zone.lan; secure; comment=why; version=1");
  cookie.SetMaxAge(60);
  EXPECT_EQ(cookie.ServerCookie(),
            "SID=1; path=/; domain=.zone.lan; secure; max-age=60; comment=why; version=1");
}

TEST(CookieText, Rfc2965PortsAndFlags) {
  const struct {
    const char* text;
    std::vector<int32_t> ports;
  } rows[] = {
      {"a=b; Port=\"80,8080\"", {80, 8080}},
      {"a=b; Port=\" 81 , 8081 ,\"", {81, 8081}},
      {"a=b; Port", {80}},
      {"a=b", {80}},
      {"a=b; Port=\"\"", {80}},
      {"a=b; Port=8080", {}},
      {"a=b; port=\"443\"", {443}},
  };
  for (const auto& row : rows) {
    TIdCookieRFC2965 cookie(nullptr);
    cookie.ParseCookieText(row.text);
    EXPECT_EQ(cookie.PortList(), row.ports) << row.text;
    EXPECT_EQ(cookie.InternalVersion(), 0) << row.text;  // no expiry
  }

  TIdCookieRFC2965 cookie(nullptr);
  cookie.ParseCookieText("a=b; CommentURL=http://h/why; Discard; Version=1");
  EXPECT_EQ(cookie.CommentURL(), "http://h/why");
  EXPECT_TRUE(cookie.Discard());
  EXPECT_EQ(cookie.Version(), "1");
}

TEST(CookieText, PortThatIsNotANumberRaises) {
  TIdCookieRFC2965 cookie(nullptr);
  EXPECT_THROW(cookie.ParseCookieText("a=b; Port=\"80,http\""), EConvertError);
}

TEST(CookieText, PortEntriesGrowByOneAtMost) {
  TIdCookieRFC2965 cookie(nullptr);
  cookie.SetPortEntry(0, 1);
  cookie.SetPortEntry(1, 2);
  cookie.SetPortEntry(0, 3);
  EXPECT_EQ(cookie.PortList(), (std::vector<int32_t>{3, 2}));
  for (int index : {-1, 3}) {
    try {
      cookie.SetPortEntry(index, 9);
      ADD_FAILURE() << index;
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Index out of range.");
    }
  }
}

TEST(CookieText, TheSameTextTwiceChangesNothing) {
  TIdCookieRFC2109 cookie(nullptr);
  cookie.ParseCookieText("a=b; path=/");
  cookie.SetValue("changed");
  cookie.SetPath("/elsewhere/");
  cookie.ParseCookieText("a=b; path=/");
  EXPECT_EQ(cookie.Value(), "changed");
  EXPECT_EQ(cookie.Path(), "/elsewhere/");
  cookie.SetCookieText("a=c; path=/");
  EXPECT_EQ(cookie.Value(), "c");
  EXPECT_EQ(cookie.Path(), "/");
}

TEST(CookieText, CopyTakesOverRfc2109RecordsOnly) {
  TIdCookieRFC2109 source(nullptr);
  source.ParseCookieText("a=new; path=/p/; max-age=60");
  TIdCookieRFC2965 target(nullptr);
  target.ParseCookieText("a=old; path=/");
  target.CopyFrom(source);
  EXPECT_EQ(target.Value(), "new");
  EXPECT_EQ(target.Path(), "/p/");
  EXPECT_EQ(target.Expires(), source.Expires());
  EXPECT_EQ(target.InternalVersion(), source.InternalVersion());

  TIdNetscapeCookie netscape(nullptr);
  netscape.ParseCookieText("a=netscape");
  target.CopyFrom(netscape);
  EXPECT_EQ(target.Value(), "new");
}

TEST(CookieHost, DomainRuleDecidesAcceptance) {
  const struct {
    const char* domain;
    const char* host;
    bool valid;
  } rows[] = {
      {"h.zone.lan", "h.zone.lan", true},
      {".zone.lan", "a.zone.lan", true},
      {".zone.lan", "a.b.zone.lan", true},
      {"zone.lan", "a.zone.lan", true},
      {"zone.lan", "a.b.zone.lan", true},
      {"zone.lan", "zone.lan", true},
      {"H.zone.lan", "h.zone.lan", true},
      {".Zone.lan", "a.ZONE.lan", true},
      {"10.0.0.1", "10.0.0.1", true},
      {".0.0.1", "10.0.0.1", false},
      {".ZONE.lan", ".a.zone.lan", true},
      {".ZONE.lan", ".zone.lan", true},
      {"", "", true},
      {"b.zone.lan", "a.zone.lan", false},
      {"other.lan", "a.zone.lan", false},
      // Whole labels: example.com lies not inside ample.com.
      {"ample.com", "example.com", false},
      {".ample.com", "www.example.com", false},
      {"example.com", "ample.com", false},
      // Public suffixes only from a host of that very name.
      {".com", "a.com", false},
      {".co.uk", "bbc.co.uk", false},
      {".bbc.co.uk", "www.bbc.co.uk", true},
      {".github.io", "x.github.io", false},
      {"github.io", "github.io", true},
      {".lan", "zone.lan", false},
      {"localhost", "localhost", true},
  };
  for (const auto& row : rows) {
    TIdNetscapeCookie cookie(nullptr);
    cookie.SetDomain(row.domain);
    EXPECT_EQ(cookie.IsValidForHost(row.host), row.valid) << row.domain << " from " << row.host;
  }
}

}  // namespace
}  // namespace ah
