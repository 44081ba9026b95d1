// Resolving request addresses against the previous one: paths, hosts,
// protocols and the port rules, without a server.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/streams.h"
#include "http/http_client.h"

namespace ah {
namespace {

class ProbeHTTP : public TIdHTTP {
 public:
  ProbeHTTP() : TIdHTTP(nullptr) {}
  // One resolution as a request of method would make it.
  void Resolve(const std::string& url, TIdHTTPMethod method = hmGet, TStream* source = nullptr) {
    Request().SetRequestURL(url);
    Request().SetRequestMethod(method);
    Request().SetBodySource(source);
    ResolveRequestTarget(Request());
  }
};

struct Step {
  std::string url;
  std::string target;  // RequestURL after resolution
  std::string host;    // the Host header value
  std::string protocol;
};

TEST(RequestTarget, SequencesResolveAgainstThePreviousAddress) {
  const std::vector<std::vector<Step>> sequences = {
      {{"http://h:8080/a/", "/a/", "h:8080", "http"},
       {"x", "/a/x", "h:8080", "http"},
       {"../b/y?q=1", "/b/y?q=1", "h:8080", "http"},
       {"?y=2", "/b/y?y=2", "h:8080", "http"},
       {"./c/./d/../e#frag", "/b/c/e", "h:8080", "http"},
       // Another host: its scheme's default port, never the previous one.
       {"//other/z", "/z", "other", "http"},
       {"http://h:8080/", "/", "h:8080", "http"},
       {"http://other/z", "/z", "other", "http"}},
      // A relative address keeps the scheme: never https to clear text.
      {{"https://h/p", "/p", "h", "https"},
       {"q", "/q", "h", "https"},
       {"https://h:80/r", "/r", "h:80", "https"}},
      {{"http://h/dir/page.html", "/dir/page.html", "h", "http"},
       {"/root.html", "/root.html", "h", "http"},
       {"HTTPS://h:8443/s", "/s", "h:8443", "HTTPS"}},
      {{"http://h:8080?q=1", "/?q=1", "h:8080", "http"},
       {"http://h#top", "/", "h", "http"},
       {"http://[::1]:8080/v6", "/v6", "[::1]:8080", "http"},
       {"http://[::1]/", "/", "[::1]", "http"}},
  };
  for (const auto& sequence : sequences) {
    ProbeHTTP http;
    for (const Step& step : sequence) {
      http.Resolve(step.url);
      EXPECT_EQ(http.Request().RequestURL(), step.target) << step.url;
      EXPECT_EQ(http.Request().Host(), step.host) << step.url;
      EXPECT_EQ(http.TargetURI().Protocol(), step.protocol) << step.url;
    }
  }
}

TEST(RequestTarget, OnlyHttpAndHttpsAreRequested) {
  for (const std::string url : {"ftp://h/file", "ftp://h:21/file", "file:///etc/passwd",
                                "javascript:alert(1)"}) {
    ProbeHTTP http;
    http.Resolve("http://h:8080/");
    try {
      http.Resolve(url);
      ADD_FAILURE() << url;
    } catch (const EIdUnknownProtocol& e) {
      EXPECT_EQ(e.Message(), "Protocol \"" + url.substr(0, url.find(':')) + "\" is not supported");
    }
  }
}

TEST(RequestTarget, CredentialsFromAnAddressStayForLaterRequests) {
  ProbeHTTP http;
  http.Resolve("http://me%40home:se%3Acret@h/a");
  http.Resolve("http://h/b");
  EXPECT_EQ(http.Request().Username(), "me@home");
  EXPECT_EQ(http.Request().Password(), "se:cret");
  EXPECT_TRUE(http.Request().BasicAuthentication());
  EXPECT_EQ(http.TargetURI().Username(), "me@home");
}

TEST(RequestTarget, ContentLengthFollowsTheMethod) {
  ProbeHTTP http;
  TStringStream body("12345");
  http.Resolve("http://h/", hmPost, &body);
  EXPECT_EQ(http.Request().ContentLength(), 5);
  EXPECT_TRUE(http.Request().LengthKnown());
  http.Resolve("http://h/", hmPut, &body);
  EXPECT_EQ(http.Request().ContentLength(), 5);
  http.Resolve("http://h/", hmGet, &body);
  EXPECT_EQ(http.Request().ContentLength(), -1);
  EXPECT_FALSE(http.Request().LengthKnown());

  // A body of 3 GiB announces its true size.
  class Huge : public TStringStream {
   public:
    int64_t Size() override { return int64_t(3) << 30; }
  } huge;
  http.Resolve("http://h/", hmPost, &huge);
  EXPECT_EQ(http.Request().ContentLength(), int64_t(3) << 30);
  http.Request().ComposeHeaderLines();
  EXPECT_EQ(http.Request().HeaderLines().HeaderValue("Content-Length"), "3221225472");
}

}  // namespace
}  // namespace ah
