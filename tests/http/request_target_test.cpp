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
       {"http://other/z", "/z", "other:8080", "http"}},
      // A relative address keeps the scheme: never https to clear text.
      {{"https://h/p", "/p", "h:443", "https"}, {"q", "/q", "h:443", "https"}},
      {{"http://h/dir/page.html", "/dir/page.html", "h", "http"},
       {"/root.html", "/root.html", "h", "http"},
       {"HTTPS://h:8443/s", "/s", "h:8443", "HTTPS"}},
      {{"ftp://h:21/file", "/file", "h:21", "ftp"}, {"http://h2/x", "/x", "h2:21", "http"}},
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

TEST(RequestTarget, UnknownProtocolWithoutAPortIsRefused) {
  ProbeHTTP http;
  try {
    http.Resolve("ftp://h/file");
    ADD_FAILURE();
  } catch (const EIdUnknownProtocol& e) {
    EXPECT_EQ(e.Message(), "");
  }
}

TEST(RequestTarget, CredentialsFromAnAddressStayForLaterRequests) {
  ProbeHTTP http;
  http.Resolve("http://me:secret@h/a");
  http.Resolve("http://h/b");
  EXPECT_EQ(http.Request().Username(), "me");
  EXPECT_EQ(http.Request().Password(), "secret");
  EXPECT_EQ(http.TargetURI().Username(), "me");
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
