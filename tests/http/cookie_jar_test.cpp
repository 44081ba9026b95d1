#include "http/cookie_jar.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "framework/date_time.h"
#include "framework/exception.h"
#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "http/protocol_utils.h"

namespace ah {
namespace {

std::string Header(TIdCookieManager& jar, const std::string& address, bool secure = false) {
  return jar.BuildCookieHeader(TIdURI(address), secure);
}

// Domains of the index with their cookie names, as "domain: a b; ...".
std::string IndexText(TIdCookieManager& jar) {
  TIdDomainIndexLock lock(jar.CookieCollection(), ReadAccess);
  std::string text;
  for (int d = 0; d < lock.Index().Count(); ++d) {
    if (!text.empty()) text += "; ";
    text += lock.Index().Keys(d) + ":";
    const TIdCookieList& names = *lock.Index().ListAt(d);
    for (int i = 0; i < names.Count(); ++i)
      text += " " + names.Keys(i) + "=" + names.CookieAt(i)->Value();
  }
  return text;
}

TEST(CookieJar, HostCookiesGoOnlyToTheirOwnHost) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("SID=1; path=/", "site.lan");
  EXPECT_EQ(IndexText(jar), "site.lan: SID=1");
  const struct {
    const char* address;
    const char* header;
  } rows[] = {
      {"http://site.lan/", "SID=1"},
      {"http://SITE.lan/x/", "SID=1"},
      {"http://site.lan:8080/", "SID=1"},
      {"http://mysite.lan/", ""},
      {"http://site.lan.other.net/", ""},
      {"http://a.site.lan/", ""},
      {"http://lan/", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(Header(jar, row.address), row.header) << row.address;
}

TEST(CookieJar, DomainCookiesGoToTheDomainAndEveryHostInIt) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("D=1; path=/; domain=.zone.lan", "a.zone.lan");
  // Without the dot, from deeper down, in other letter case: the same domain.
  jar.TakeSetCookie("E=1; path=/; domain=Zone.LAN", "a.B.zone.lan");
  EXPECT_EQ(IndexText(jar), ".zone.lan: D=1 E=1");
  const struct {
    const char* address;
    const char* header;
  } rows[] = {
      {"http://a.zone.lan/", "E=1; D=1"},
      {"http://b.zone.lan/", "E=1; D=1"},
      {"http://c.b.ZONE.LAN/", "E=1; D=1"},
      {"http://zone.lan/", "E=1; D=1"},
      {"http://ne.lan/", ""},
      {"http://myzone.lan/", ""},
      {"http://b.zone.lan.other.net/", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(Header(jar, row.address), row.header) << row.address;
}

TEST(CookieJar, CookiesForeignToTheSenderAreDropped) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("D=1; path=/; domain=.b.zone.lan", "a.zone.lan");
  jar.TakeSetCookie("E=1; path=/; domain=other.lan", "a.zone.lan");
  jar.TakeSetCookie("F=1; path=/; domain=ne.lan", "zone.lan");
  jar.TakeSetCookie("G=1; path=/; domain=LAN", "zone.lan");
  EXPECT_EQ(jar.CookieCollection().Count(), 0);
  EXPECT_EQ(IndexText(jar), "");
  EXPECT_EQ(Header(jar, "http://b.zone.lan/"), "");
}

TEST(CookieJar, PathsMatchTheRequestPathAndWhatLiesBelowIt) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("X=1; path=/x", "h.lan");
  jar.TakeSetCookie("P=1; path=/a/p.html", "h.lan");
  jar.TakeSetCookie("D=1; path=/d/", "h.lan");
  const struct {
    const char* address;
    const char* header;
  } rows[] = {
      {"http://h.lan/x/", "X=1"},
      {"http://h.lan/xy/", ""},
      {"http://h.lan/x", "X=1"},
      {"http://h.lan/x/y?q=1", "X=1"},
      {"http://h.lan/xy", ""},
      {"http://h.lan/X", ""},
      {"http://h.lan/", ""},
      {"http://h.lan/a/p.html", "P=1"},
      {"http://h.lan/d/e", "D=1"},
      {"http://h.lan/d", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(Header(jar, row.address), row.header) << row.address;
}

TEST(CookieJar, MissingPathDefaultsToTheDirectoryOfTheRequest) {
  const struct {
    const char* request_path;
    const char* stored_path;
  } defaults[] = {
      {"/login/", "/login"}, {"/a/p.html", "/a"}, {"/a/b/", "/a/b"},
      {"/", "/"},            {"/p.html", "/"},     {"", "/"},
      {"x/y", "/"},
  };
  for (const auto& row : defaults) {
    EXPECT_EQ(DefaultCookiePath(row.request_path), row.stored_path) << row.request_path;
    TIdCookieManager jar(nullptr);
    jar.TakeSetCookie("S=1", "h.lan", row.request_path);
    EXPECT_EQ(jar.CookieCollection().Cookies(0)->Path(), row.stored_path) << row.request_path;
  }

  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("SESSION=abc", "h.lan", "/login/");
  EXPECT_EQ(Header(jar, "http://h.lan/login/"), "SESSION=abc");
  EXPECT_EQ(Header(jar, "http://h.lan/login/done.html"), "SESSION=abc");
  EXPECT_EQ(Header(jar, "http://h.lan/album/"), "");
  // Without a request path the whole host gets it.
  jar.TakeSetCookie("ROOT=1; path=", "h.lan");
  EXPECT_EQ(Header(jar, "http://h.lan/album/"), "ROOT=1");
}

TEST(CookieJar, LaterCookieOfTheSameNameAndDomainReplacesTheEarlier) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("SID=old; path=/", "h.lan");
  jar.TakeSetCookie("OTHER=1; path=/", "h.lan");
  jar.TakeSetCookie("sid=new; path=/x", "H.LAN");
  EXPECT_EQ(jar.CookieCollection().Count(), 2);
  EXPECT_EQ(IndexText(jar), "h.lan: SID=new OTHER=1");
  const TIdNetscapeCookie* filed = jar.CookieCollection().Cookies(0);
  EXPECT_EQ(filed->Path(), "/x");
  EXPECT_EQ(filed->CookieName(), "sid");
  EXPECT_EQ(Header(jar, "http://h.lan/"), "OTHER=1");
  EXPECT_EQ(Header(jar, "http://h.lan/x/"), "sid=new; OTHER=1");
}

TEST(CookieJar, ReplacementKeepsTheNameAndTakesTheExpiry) {
  const std::string future = FormatInternetDate(Now() + 1, false);
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("SID=1; path=/", "h.lan");
  jar.TakeSetCookie("SID=; path=/", "h.lan");
  EXPECT_EQ(IndexText(jar), "h.lan: SID=");
  EXPECT_EQ(jar.CookieCollection().Cookies(0)->CookieName(), "SID");
  EXPECT_EQ(Header(jar, "http://h.lan/"), "");
  // An RFC 2109 expiry date, which its server text leaves out.
  jar.TakeSetCookie("SID=2; path=/; expires=" + future, "h.lan");
  EXPECT_EQ(jar.CookieCollection().Cookies(0)->Expires(), future);
  EXPECT_EQ(Header(jar, "http://h.lan/"), "SID=2");
}

TEST(CookieJar, AddressHostsTakeHostOnlyCookiesMatchedExactly) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("IP=1; path=/", "10.0.0.1");
  jar.TakeSetCookie("DOTTED=1; path=/; domain=.0.0.1", "10.0.0.1");
  // A host name that ends like an address.
  jar.TakeSetCookie("NAME=1; path=/; domain=.0.0.1", "x.0.0.1");
  EXPECT_EQ(IndexText(jar), "10.0.0.1: IP=1; .0.0.1: NAME=1");
  const struct {
    const char* address;
    const char* header;
  } rows[] = {
      {"http://10.0.0.1/", "IP=1"},
      {"http://110.0.0.1/", ""},
      {"http://10.0.0.10/", ""},
      {"http://y.0.0.1/", "NAME=1"},
  };
  for (const auto& row : rows) EXPECT_EQ(Header(jar, row.address), row.header) << row.address;
}

TEST(CookieJar, ReplacedRecordKeepsItsClassAndTakesTheDialect) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie2("A=1; path=/; Port=\"8080\"", "h.lan");
  jar.TakeSetCookie("A=2; path=/; max-age=60", "h.lan");
  ASSERT_EQ(jar.CookieCollection().Count(), 1);
  auto* filed = dynamic_cast<TIdCookieRFC2965*>(jar.CookieCollection().Cookies(0));
  ASSERT_NE(filed, nullptr);
  EXPECT_EQ(filed->Value(), "2");
  EXPECT_EQ(filed->InternalVersion(), 0);
  EXPECT_FALSE(filed->Expires().empty());
}

TEST(CookieJar, LongerPathsComeFirstAndEqualPathsInSelectionOrder) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("D=dom; path=/; domain=.zone.lan", "a.zone.lan");
  jar.TakeSetCookie("ROOT=1; path=/", "a.zone.lan");
  jar.TakeSetCookie("DIR=1; path=/a/", "a.zone.lan");
  jar.TakeSetCookie("ROOT2=1; path=/", "a.zone.lan");
  jar.TakeSetCookie("DEEP=1; path=/A/B", "a.zone.lan");
  // Domain entries in index order, within a domain the last filed first;
  // path keys compare ignoring case.
  EXPECT_EQ(Header(jar, "http://a.zone.lan/a/b"), "DIR=1; D=dom; ROOT2=1; ROOT=1");
  EXPECT_EQ(Header(jar, "http://a.zone.lan/A/B/"), "DEEP=1; D=dom; ROOT2=1; ROOT=1");
  EXPECT_EQ(Header(jar, "http://b.zone.lan/a/"), "D=dom");
}

TEST(CookieJar, SecureAndEmptyCookies) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("S=1; path=/; secure", "h.lan");
  jar.TakeSetCookie("E=; path=/", "h.lan");
  EXPECT_EQ(jar.CookieCollection().Count(), 2);
  EXPECT_EQ(Header(jar, "http://h.lan/", false), "");
  EXPECT_EQ(Header(jar, "https://h.lan/", true), "S=1");
}

TEST(CookieJar, RefusedCookiesLeaveTheJarUnchanged) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("SID=kept; path=/", "h.lan");
  std::string offered;
  jar.SetOnNewCookie([&](TComponent* sender, TIdNetscapeCookie* cookie, bool& accept) {
    EXPECT_EQ(sender, &jar);
    offered += cookie->ClientCookie() + " from " + cookie->Domain() + ";";
    accept = cookie->CookieName() == "OK";
  });
  jar.TakeSetCookie("SID=refused; path=/", "h.lan");
  jar.TakeSetCookie("NEW=refused; path=/", "h.lan");
  EXPECT_EQ(offered, "SID=refused from h.lan;NEW=refused from h.lan;");
  EXPECT_EQ(jar.CookieCollection().Count(), 1);
  EXPECT_EQ(IndexText(jar), "h.lan: SID=kept");
  jar.TakeSetCookie("OK=1; path=/", "h.lan");
  EXPECT_EQ(Header(jar, "http://h.lan/"), "OK=1; SID=kept");
}

// A control byte would have every later request to the site refused before
// it is sent (the Cookie line could not go out), so such a line is dropped
// as a whole, even after the pair; so is a pair over 4096 bytes.
TEST(CookieJar, LinesHoldingControlBytesOrHugePairsAreDropped) {
  const std::string lines[] = {
      "SID=a\rX-Injected: 1; path=/", std::string("SID=a\0b; path=/", 16), "SID=\x01; path=/",
      "SID=a\x7f; path=/", "SID=a; path=/\x1b[0m", "NEW=a; domain=\x02h.lan",
      "SID=" + std::string(4094, 'v') + "; path=/",
  };
  for (const std::string& line : lines) {
    TIdCookieManager jar(nullptr);
    jar.TakeSetCookie("SID=kept; path=/", "h.lan");
    jar.TakeSetCookie(line, "h.lan");
    EXPECT_EQ(Header(jar, "http://h.lan/"), "SID=kept") << line;
    EXPECT_EQ(jar.CookieCollection().Count(), 1) << line;
  }
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("SID=a\tb; path=/", "h.lan");
  EXPECT_EQ(Header(jar, "http://h.lan/"), "SID=a\tb");
  jar.TakeSetCookie("SI=" + std::string(4094, 'v') + "; path=/", "h.lan");
  EXPECT_EQ(jar.CookieCollection().FiledCount(), 2);
}

TEST(CookieJar, CookiesThatHaveExpiredAlreadyDeleteTheirNamesakes) {
  const std::string past = FormatInternetDate(Now() - 1.0 / 24, false);
  const std::string future = FormatInternetDate(Now() + 1, false);
  const char* const deleting[] = {
      "; expires=", "; expires=whenever", "; max-age=0", "; max-age=-1", "; max-age=-5",
      "; max-age=0; expires=", "; max-age=-1; expires=",
  };
  for (const char* tail : deleting) {
    std::string attributes = tail;
    if (attributes.back() == '=')
      attributes += attributes.find("max-age") != std::string::npos ? future : past;
    SCOPED_TRACE(attributes);
    TIdCookieManager jar(nullptr);
    jar.TakeSetCookie("SID=1; path=/", "h.lan");
    jar.TakeSetCookie("OTHER=1; path=/", "h.lan");
    jar.TakeSetCookie("SID=gone; path=/" + attributes, "h.lan");
    jar.TakeSetCookie("NEW=gone; path=/" + attributes, "h.lan");
    EXPECT_EQ(jar.CookieCollection().Count(), 1);
    EXPECT_EQ(IndexText(jar), "h.lan: OTHER=1");
    EXPECT_EQ(Header(jar, "http://h.lan/"), "OTHER=1");
  }
}

TEST(CookieJar, ExpiredCookiesArePurged) {
  TIdCookieManager jar(nullptr);
  const std::string future = FormatInternetDate(Now() + 1, false);
  jar.TakeSetCookie("LIVE=1; path=/; expires=" + future, "h.lan");
  jar.TakeSetCookie("SOON=1; path=/; max-age=1", "h.lan");
  jar.TakeSetCookie("SOON=1; path=/; max-age=1", "g.lan");
  jar.TakeSetCookie("SESSION=1; path=/", "h.lan");
  EXPECT_EQ(jar.CookieCollection().Count(), 4);
  // Whole seconds: one second on, the date has passed.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(Header(jar, "http://h.lan/"), "SESSION=1; LIVE=1");
  EXPECT_EQ(jar.CookieCollection().Count(), 2);
  // Emptied domain lists stay in the index.
  EXPECT_EQ(IndexText(jar), "h.lan: LIVE=1 SESSION=1; g.lan:");
}

TEST(CookieJar, FreeingARecordUnfilesOnlyThatRecord) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie("SID=1; path=/", "a.lan");
  jar.TakeSetCookie("SID=2; path=/", "b.lan");
  delete jar.CookieCollection().Cookies(0);
  EXPECT_EQ(IndexText(jar), "a.lan:; b.lan: SID=2");
  EXPECT_EQ(jar.CookieCollection().Count(), 1);
}

TEST(CookieJar, UnreadablePortLeavesNoRecordBehind) {
  TIdCookieManager jar(nullptr);
  EXPECT_THROW(jar.TakeSetCookie2("A=1; Port=\"x\"", "h.lan"), EConvertError);
  EXPECT_EQ(jar.CookieCollection().Count(), 0);
  EXPECT_EQ(IndexText(jar), "");
}

TEST(CookieJar, ANamesakeFromADirectoryWithAPortInItReplacesASetCookie2Record) {
  TIdCookieManager jar(nullptr);
  jar.TakeSetCookie2("A=1; path=/; Port=\"80\"", "h.lan");
  // No path: the default is the directory /d;Port="x", which the takeover
  // would read back as a port list.
  EXPECT_NO_THROW(jar.TakeSetCookie("A=2", "h.lan", "/d;Port=\"x\"/page.html"));
  EXPECT_EQ(IndexText(jar), "h.lan: A=2");
  EXPECT_EQ(jar.CookieCollection().Cookies(0)->Path(), "/d;Port=\"x\"");
}

TEST(CookieJar, ManagerEventsSeeTheCollection) {
  std::string events;
  TIdCookies* created = nullptr;
  {
    TIdCookieManager jar(nullptr, [&](TComponent*, TIdCookies* cookies) {
      created = cookies;
      events += "create;";
    });
    EXPECT_EQ(created, &jar.CookieCollection());
    jar.TakeSetCookie("OLD=1; path=/; max-age=0", "h.lan");
    jar.TakeSetCookie("NEW=1; path=/", "h.lan");
    jar.SetOnDestroy([&](TComponent*, TIdCookies* cookies) {
      events += "destroy with " + IntToStr(cookies->Count()) + ";";
    });
  }
  EXPECT_EQ(events, "create;destroy with 1;");
}

// One thread stores (replacing, adding and expiring records) while another
// builds headers; under a sanitizer a gap in the locking shows up here.
TEST(CookieJar, StoringAndBuildingOnTwoThreads) {
  TIdCookieManager jar(nullptr);
  constexpr int kRounds = 1500;
  std::atomic<bool> malformed{false};
  std::thread store([&] {
    for (int i = 0; i < kRounds; ++i) {
      const std::string name = "C" + IntToStr(i % 40);
      const char* tail = i % 7 == 0 ? "; path=/; max-age=0" : "; path=/";
      jar.TakeSetCookie(name + "=" + IntToStr(i) + tail, "h.lan");
      if (i % 5 == 0) jar.TakeSetCookie2("D" + IntToStr(i % 13) + "=x; path=/a/", "h.lan");
    }
  });
  std::thread build([&] {
    for (int i = 0; i < kRounds; ++i) {
      std::string header = Header(jar, i % 2 ? "http://h.lan/a/" : "http://h.lan/");
      while (!header.empty()) {
        std::string pair = TakeToken(header, "; ");
        if (pair.size() < 3 || pair.find('=') == std::string::npos) malformed = true;
      }
    }
  });
  store.join();
  build.join();
  EXPECT_FALSE(malformed);
  EXPECT_EQ(Header(jar, "http://h.lan/a/").substr(0, 1), "D");
}

TEST(CookieList, KeyLookupFollowsAddsAndDeletes) {
  TPersistent a, b, c, d;
  TIdCookieList list;
  list.Add("one", &a);
  list.Add("Two", &b);
  list.Add("ONE", &c);
  list.Add("three", &d);
  EXPECT_EQ(list.IndexOfKey("one"), 0);
  EXPECT_EQ(list.IndexOfKey("TWO"), 1);
  EXPECT_EQ(list.IndexOfKey("Three"), 3);
  EXPECT_EQ(list.IndexOfKey("four"), -1);
  list.Delete(0);  // the later "ONE" becomes the first
  EXPECT_EQ(list.IndexOfKey("one"), 1);
  EXPECT_EQ(list.Objects(list.IndexOfKey("one")), &c);
  EXPECT_EQ(list.IndexOfKey("three"), 2);
  list.Delete(1);
  EXPECT_EQ(list.IndexOfKey("one"), -1);
  EXPECT_EQ(list.IndexOfKey("three"), 1);
  list.Add("one", &a);
  EXPECT_EQ(list.IndexOfKey("one"), 2);
  list.Clear();
  EXPECT_EQ(list.IndexOfKey("two"), -1);
  EXPECT_EQ(list.Count(), 0);
}

// Names of the filed records of a domain, in filing order.
std::vector<std::string> NamesOf(TIdCookieManager& jar, const std::string& domain) {
  TIdDomainIndexLock lock(jar.CookieCollection(), ReadAccess);
  std::vector<std::string> names;
  const int d = lock.Index().IndexOfKey(domain);
  if (d < 0) return names;
  const TIdCookieList& list = *lock.Index().ListAt(d);
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.Keys(i));
  return names;
}

TEST(CookieJar, EachSiteKeepsItsLatest180) {
  TIdCookieManager jar(nullptr);
  // Hosts of one registrable domain share the bound; another site has its own.
  for (int i = 0; i < 200; ++i) {
    jar.TakeSetCookie("c" + IntToStr(i) + "=1; path=/", i % 2 ? "a.site.test" : "b.site.test");
  }
  jar.TakeSetCookie("own=1; path=/", "other.test");
  EXPECT_EQ(jar.CookieCollection().FiledCount(), 181);
  EXPECT_EQ(jar.CookieCollection().Count(), 181);
  const std::vector<std::string> a = NamesOf(jar, "a.site.test");
  const std::vector<std::string> b = NamesOf(jar, "b.site.test");
  ASSERT_EQ(a.size() + b.size(), 180u);
  EXPECT_EQ(b.front(), "c20");
  EXPECT_EQ(a.front(), "c21");
  EXPECT_EQ(a.back(), "c199");
  EXPECT_EQ(NamesOf(jar, "other.test"), std::vector<std::string>{"own"});
}

TEST(CookieJar, SettingACookieAgainKeepsItFromEviction) {
  TIdCookieManager jar(nullptr);
  for (int i = 0; i < 180; ++i) jar.TakeSetCookie("c" + IntToStr(i) + "=1; path=/", "h.test");
  jar.TakeSetCookie("c0=2; path=/", "h.test");
  jar.TakeSetCookie("new=1; path=/", "h.test");
  const std::vector<std::string> names = NamesOf(jar, "h.test");
  ASSERT_EQ(names.size(), 180u);
  // The replaced record keeps its place; c1 was the least recently set.
  EXPECT_EQ(names[0], "c0");
  EXPECT_EQ(names[1], "c2");
  EXPECT_EQ(names.back(), "new");
}

TEST(CookieJar, TheJarKeepsItsLatest3000) {
  TIdCookieManager jar(nullptr);
  for (int site = 0; site < 18; ++site) {
    for (int i = 0; i < 180; ++i) {
      jar.TakeSetCookie("c" + IntToStr(i) + "=1; path=/", "s" + IntToStr(site) + ".test");
    }
  }
  EXPECT_EQ(jar.CookieCollection().FiledCount(), 3000);
  EXPECT_EQ(jar.CookieCollection().Count(), 3000);
  EXPECT_TRUE(NamesOf(jar, "s0.test").empty());
  EXPECT_EQ(NamesOf(jar, "s1.test").size(), 120u);
  EXPECT_EQ(Header(jar, "http://s0.test/"), "");
  // Cookies still come and go: an expired one and a purge free their place.
  jar.TakeSetCookie("c5=1; path=/; max-age=0", "s17.test");
  EXPECT_EQ(jar.CookieCollection().FiledCount(), 2999);
  jar.TakeSetCookie("back=1; path=/", "s0.test");
  EXPECT_EQ(Header(jar, "http://s0.test/"), "back=1");
  EXPECT_EQ(NamesOf(jar, "s1.test").size(), 120u);
}

}  // namespace
}  // namespace ah
