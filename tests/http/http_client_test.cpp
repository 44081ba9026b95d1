// The client component's settings, form encoding, redirect hook and cookie
// jar ownership: everything that needs no server.

#include "http/http_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/strings.h"

namespace ah {
namespace {

TEST(HttpClient, FreshClientHasTheDocumentedDefaults) {
  TIdHTTP http(nullptr);
  EXPECT_EQ(http.Port(), 80);
  EXPECT_EQ(http.TargetURI().Port(), "80");
  EXPECT_EQ(http.AuthRetries(), 3);
  EXPECT_EQ(http.RedirectMaximum(), 15);
  EXPECT_FALSE(http.HandleRedirects());
  EXPECT_TRUE(http.AllowCookies());
  EXPECT_EQ(http.ProtocolVersion(), pv1_1);
  EXPECT_EQ(http.HTTPOptions(), TIdHTTPOptions(hoForceEncodeParams));
  EXPECT_EQ(http.CookieManager(), nullptr);
  EXPECT_FALSE(http.OwnsCookieManager());
  EXPECT_EQ(http.AuthAttempts(), 0);
  EXPECT_EQ(http.ProxyAuthAttempts(), 0);
  EXPECT_EQ(http.RedirectCount(), 0);
  EXPECT_EQ(http.ProxyParams().ProxyServer(), "");
  EXPECT_EQ(http.ProxyParams().ProxyPort(), 0);
  EXPECT_EQ(http.Request().UserAgent(), "Mozilla/3.0 (compatible; Orvane Library)");
  EXPECT_EQ(http.Request().ContentType(), "text/html");
  EXPECT_EQ(http.ReadTimeout(), 0);
}

TEST(HttpClient, HostAndPortSettersAlsoWriteTheTargetAddress) {
  TIdHTTP http(nullptr);
  http.SetHost("example.test");
  http.SetPort(8080);
  EXPECT_EQ(http.Host(), "example.test");
  EXPECT_EQ(http.TargetURI().Host(), "example.test");
  EXPECT_EQ(http.TargetURI().Port(), "8080");
}

TEST(HttpClient, AssigningTheRequestCopiesIntoTheClientsOwnRecord) {
  TIdHTTP http(nullptr);
  TIdHTTPRequest other(nullptr);
  other.SetUserAgent("probe/1");
  other.SetContentType("text/plain");
  http.SetRequest(other);
  EXPECT_NE(&http.Request(), &other);
  EXPECT_EQ(http.Request().UserAgent(), "probe/1");
  // A request record into a request record leaves the entity fields alone.
  EXPECT_EQ(http.Request().ContentType(), "text/html");
}

struct FormCase {
  std::vector<std::string> lines;
  TIdHTTPOptions options;
  std::string body;
  std::vector<std::string> lines_after;
};

TEST(HttpClient, BuildFormBodyJoinsAndEncodesTheLines) {
  const FormCase cases[] = {
      {{"a=1", "b=x y"}, hoForceEncodeParams, "a=1&b=x+y&", {"a=1", "b=x+y"}},
      {{"a=1"}, hoForceEncodeParams, "a=1", {"a=1"}},
      {{}, hoForceEncodeParams, "", {}},
      {{"a=x y", "b=1/2"}, 0, "a=x y&b=1/2&", {"a=x y", "b=1/2"}},
      // Names are never encoded; a line without "=" stays as written.
      {{"n m=v w", "plain text"}, hoForceEncodeParams, "n m=v+w&plain text&",
       {"n m=v+w", "plain text"}},
      // Two lines of one name: the first value is encoded once per line
      // (and takes the later line's spelling of the name), the second goes
      // out as written.
      {{"k=a b", "K=c d"}, hoForceEncodeParams, "K=a%2Bb&K=c d&", {"K=a%2Bb", "K=c d"}},
      {{"e=", "f=&"}, hoForceEncodeParams, "e=&f=%26&", {"e=", "f=%26"}},
  };
  for (const FormCase& c : cases) {
    std::string input;
    for (const std::string& l : c.lines) input += "[" + l + "]";
    TIdHTTP http(nullptr);
    http.SetHTTPOptions(c.options);
    TStringList lines(c.lines);
    EXPECT_EQ(http.BuildFormBody(&lines), c.body) << input;
    EXPECT_EQ(lines.Lines(), c.lines_after) << input;
  }
}

TEST(HttpClient, BuildFormBodyOfNoListIsEmpty) {
  TIdHTTP http(nullptr);
  EXPECT_EQ(http.BuildFormBody(nullptr), "");
}

TEST(HttpClient, AskRedirectFollowsTheSettingUnlessTheHandlerDecides) {
  TIdHTTP http(nullptr);
  std::string url = "http://h/next";
  TIdHTTPMethod method = hmPost;
  EXPECT_FALSE(http.AskRedirect(url, method, 1));
  http.SetHandleRedirects(true);
  EXPECT_TRUE(http.AskRedirect(url, method, 1));

  int seen_count = -1;
  http.SetHandleRedirects(false);
  http.SetOnRedirect([&](TIdCustomHTTP* sender, std::string& dest, int& num, bool& handled,
                         TIdHTTPMethod& m) {
    EXPECT_EQ(sender, &http);
    seen_count = num;
    EXPECT_FALSE(handled);
    num = 99;  // not passed back
    dest = "http://h/elsewhere";
    m = hmGet;
    handled = true;
  });
  EXPECT_TRUE(http.AskRedirect(url, method, 4));
  EXPECT_EQ(seen_count, 4);
  EXPECT_EQ(url, "http://h/elsewhere");
  EXPECT_EQ(method, hmGet);
}

TEST(HttpClient, AnAssignedJarIsReferencedAndForgottenWhenDestroyed) {
  TIdHTTP http(nullptr);
  auto jar = std::make_unique<TIdCookieManager>(nullptr);
  http.SetCookieManager(jar.get());
  EXPECT_EQ(http.CookieManager(), jar.get());
  EXPECT_FALSE(http.OwnsCookieManager());
  jar.reset();
  EXPECT_EQ(http.CookieManager(), nullptr);
}

TEST(HttpClient, AJarAssignedFromOutsideOutlivesTheClient) {
  auto jar = std::make_unique<TIdCookieManager>(nullptr);
  {
    TIdHTTP http(nullptr);
    http.SetCookieManager(jar.get());
  }
  // Still usable: the client never owned it.
  TIdURI uri("http://h/");
  EXPECT_EQ(jar->BuildCookieHeader(uri, false), "");
}

TEST(HttpClient, ReplacingAJarAssignedFromOutsideDoesNotFreeIt) {
  TIdHTTP http(nullptr);
  TIdCookieManager first(nullptr);
  TIdCookieManager second(nullptr);
  http.SetCookieManager(&first);
  http.SetCookieManager(&second);
  EXPECT_EQ(http.CookieManager(), &second);
  http.SetCookieManager(nullptr);
  EXPECT_EQ(http.CookieManager(), nullptr);
}

TEST(HttpClient, ClientOwnedByAComponentGoesWithIt) {
  auto owner = std::make_unique<TComponent>(nullptr);
  auto* http = new TIdHTTP(owner.get());
  http->SetHost("h");
  owner.reset();  // frees the client; ASan reports anything left behind
  SUCCEED();
}

}  // namespace
}  // namespace ah
