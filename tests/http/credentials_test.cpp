// Where the client's credentials go: only to the host and port they were
// given for, proxy credentials only to the proxy, and challenges answered
// at the address that sent them, bounded for the whole operation.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "framework/streams.h"
#include "http/coder_mime.h"
#include "http/http_client.h"
#include "tests/support/local_http_server.h"
#include "tests/support/scripted_server.h"

namespace ah {
namespace {

using test::LocalHttpServer;
using test::Script;
using test::ScriptedServer;

std::string Basic(const std::string& user, const std::string& password) {
  return "Basic " + TIdEncoderMIME::EncodeTextOnce(user + ":" + password);
}

// Two servers on 127.0.0.1. Each request is logged with the server that
// took it, its path, its Host and its Authorization value.
class Credentials : public ::testing::Test {
 protected:
  struct Seen {
    std::string server, path, host, authorization;
  };

  void SetUp() override {
    Route(origin_, "origin");
    Route(other_, "other");
    origin_.Start();
    other_.Start();
  }

  // /start may ask for credentials, then sends the client away; /away
  // sends it back to the origin; /protected wants user:right.
  void Route(LocalHttpServer& server, const std::string& name) {
    auto& s = server.server();
    s.Get("/start", [this, name](const httplib::Request& req, httplib::Response& res) {
      Log(name, req);
      if (challenge_at_start_ && req.get_header_value("Authorization") != Basic("user", "pw")) {
        Challenge(res);
        return;
      }
      res.set_redirect(away_url_);
    });
    s.Get("/away", [this, name](const httplib::Request& req, httplib::Response& res) {
      Log(name, req);
      res.set_redirect(origin_.Url("/back"));
    });
    s.Get("/back", [this, name](const httplib::Request& req, httplib::Response& res) {
      Log(name, req);
      res.set_content("back", "text/plain");
    });
    s.Get("/protected", [this, name](const httplib::Request& req, httplib::Response& res) {
      Log(name, req);
      if (req.get_header_value("Authorization") != Basic("user", "right")) {
        Challenge(res);
        return;
      }
      res.set_content("welcome", "text/plain");
    });
  }

  void Challenge(httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++challenges_;
    res.status = 401;
    res.set_header("WWW-Authenticate", "Basic realm=\"zone\"");
    res.set_content("denied", "text/plain");
  }

  void Log(const std::string& name, const httplib::Request& req) {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back({name, req.path, req.get_header_value("Host"),
                     req.get_header_value("Authorization")});
  }

  std::vector<Seen> SeenRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

  int Challenges() {
    std::lock_guard<std::mutex> lock(mutex_);
    return challenges_;
  }

  std::string Localhost(const LocalHttpServer& server, const std::string& path) {
    return "http://localhost:" + std::to_string(server.port()) + path;
  }

  LocalHttpServer origin_;
  LocalHttpServer other_;
  std::string away_url_;
  bool challenge_at_start_ = false;
  std::mutex mutex_;
  std::vector<Seen> seen_;
  int challenges_ = 0;
};

TEST_F(Credentials, StayWithTheirHostAndPortAcrossRedirects) {
  enum Source { kRequestFields, kUrlUserPart, kAnsweredChallenge };
  struct Case {
    const char* name;
    Source source;
    bool other_host;  // else: the other server's port
  };
  const Case cases[] = {
      {"request fields, other host", kRequestFields, true},
      {"request fields, other port", kRequestFields, false},
      {"URL user part, other host", kUrlUserPart, true},
      {"URL user part, other port", kUrlUserPart, false},
      {"answered challenge, other host", kAnsweredChallenge, true},
      {"answered challenge, other port", kAnsweredChallenge, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.clear();
    }
    away_url_ = c.other_host ? Localhost(origin_, "/away") : other_.Url("/away");
    challenge_at_start_ = c.source == kAnsweredChallenge;

    TIdHTTP http(nullptr);
    http.SetHandleRedirects(true);
    std::string url = origin_.Url("/start");
    switch (c.source) {
      case kRequestFields:
        http.Request().SetUsername("user");
        http.Request().SetPassword("pw");
        http.Request().SetBasicAuthentication(true);
        break;
      case kUrlUserPart:
        http.Request().SetBasicAuthentication(true);
        url = "http://user:pw@127.0.0.1:" + std::to_string(origin_.port()) + "/start";
        break;
      case kAnsweredChallenge:
        http.SetHTTPOptions(hoInProcessAuth);
        http.SetOnAuthorization([](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
          auth->StoreUserName("user");
          auth->StorePassword("pw");
          handled = true;
        });
        break;
    }
    std::string text;
    http.GetText(url, text);
    EXPECT_EQ(text, "back");

    const std::vector<Seen> seen = SeenRequests();
    ASSERT_GE(seen.size(), 3u);
    const Seen& away = seen[seen.size() - 2];
    const Seen& back = seen.back();
    EXPECT_EQ(seen[seen.size() - 3].authorization, Basic("user", "pw"));
    EXPECT_EQ(away.path, "/away");
    EXPECT_EQ(away.server, c.other_host ? "origin" : "other");
    EXPECT_EQ(away.authorization, "") << away.host;
    EXPECT_EQ(back.path, "/back");
    EXPECT_EQ(back.authorization, Basic("user", "pw"));
    // The record keeps the caller's credentials for later requests.
    EXPECT_EQ(http.Request().Username(), "user");
    EXPECT_EQ(http.Request().Password(), "pw");
  }
}

TEST_F(Credentials, AnOperationEndingElsewhereLeavesTheCallersCredentials) {
  away_url_ = other_.Url("/protected");
  TIdHTTP http(nullptr);
  http.SetHandleRedirects(true);
  http.SetHTTPOptions(hoInProcessAuth);
  http.Request().SetUsername("user");
  http.Request().SetPassword("pw");
  http.Request().SetBasicAuthentication(true);
  // The other server gets only what the program hands it for itself.
  std::vector<std::string> asked_by;
  http.SetOnAuthorization([&](TIdCustomHTTP* sender, TIdAuthentication* auth, bool& handled) {
    asked_by.push_back(sender->TargetURI().Port());
    EXPECT_EQ(auth->CurrentUserName(), "");
    auth->StoreUserName("user");
    auth->StorePassword("right");
    handled = true;
  });
  std::string text;
  http.GetText(origin_.Url("/start"), text);
  EXPECT_EQ(text, "welcome");
  EXPECT_EQ(asked_by, std::vector<std::string>{std::to_string(other_.port())});
  EXPECT_EQ(http.Request().Username(), "user");
  EXPECT_EQ(http.Request().Password(), "pw");
  // The next request to the origin carries the caller's credentials again.
  http.GetText(origin_.Url("/back"), text);
  EXPECT_EQ(SeenRequests().back().authorization, Basic("user", "pw"));
}

// A wrong password behind a redirect: each answer goes to the address that
// challenged, and AuthRetries answers in all end the operation.
TEST_F(Credentials, ChallengesAreAnsweredWhereTheyCameFromAndBoundedPerOperation) {
  struct Case {
    const char* name;
    bool other_port;
    int auth_retries;
    std::string password;
    int challenges;  // the server's, in all
    int protected_requests;
    bool succeeds;
  };
  const Case cases[] = {
      {"same server, wrong password", false, 3, "wrong", 4, 4, false},
      {"other port, wrong password", true, 3, "wrong", 4, 4, false},
      {"one retry", false, 1, "wrong", 2, 2, false},
      {"no retries", true, 0, "wrong", 1, 1, false},
      {"right password", true, 3, "right", 1, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.clear();
      challenges_ = 0;
    }
    away_url_ = c.other_port ? other_.Url("/protected") : origin_.Url("/protected");
    TIdHTTP http(nullptr);
    http.SetHandleRedirects(true);
    http.SetHTTPOptions(hoInProcessAuth);
    http.SetAuthRetries(c.auth_retries);
    http.SetOnAuthorization([&](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
      auth->StoreUserName("user");
      auth->StorePassword(c.password);
      handled = true;
    });
    std::string text;
    if (c.succeeds) {
      http.GetText(origin_.Url("/start"), text);
      EXPECT_EQ(text, "welcome");
    } else {
      try {
        http.GetText(origin_.Url("/start"), text);
        ADD_FAILURE() << "no protocol error";
      } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.ReplyCode(), 401);
      }
    }
    EXPECT_EQ(Challenges(), c.challenges);
    int start = 0, protected_requests = 0;
    for (const Seen& s : SeenRequests()) {
      if (s.path == "/start") ++start;
      if (s.path == "/protected") ++protected_requests;
    }
    EXPECT_EQ(start, 1);
    EXPECT_EQ(protected_requests, c.protected_requests);
  }
}

std::string Reply(const std::string& status, const std::string& extra = "") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: 2\r\n" + extra + "\r\nok";
}

// The address credentials belong to is scheme, host and port: a redirect
// from https to http on the same host and port would put them on the wire
// in clear text.
TEST(CredentialScope, AnAddressIsSchemeHostAndPort) {
  const struct {
    const char* next;
    bool keeps;
  } rows[] = {
      {"https://site.test:8443/b", true},
      {"HTTPS://SITE.test:8443/b", true},
      {"http://site.test:8443/b", false},
      {"https://other.test:8443/b", false},
      {"https://site.test:9443/b", false},
  };
  for (const auto& row : rows) {
    TIdHTTPRequest request(nullptr);
    request.SetUsername("user");
    request.SetPassword("pw");
    TIdCredentialScope scope;
    scope.Begin();
    TIdURI first("https://site.test:8443/a");
    scope.BeforeResolve(request);
    scope.Enter(request, first);
    TIdURI next(row.next);
    scope.BeforeResolve(request);
    scope.Enter(request, next);
    EXPECT_EQ(request.Username(), row.keeps ? "user" : "") << row.next;
    EXPECT_EQ(request.Password(), row.keeps ? "pw" : "") << row.next;
    scope.End(request);
    EXPECT_EQ(request.Password(), "pw") << row.next;
  }
}

TEST(ProxyCredentials, GoOnlyToTheProxy) {
  struct Case {
    const char* name;
    bool through_proxy;
  };
  const Case cases[] = {
      {"direct to the origin", false},
      {"through the proxy", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server({Script().ReadUntil("\r\n\r\n").Send(Reply("200 OK")).Close()});
    TIdHTTP http(nullptr);
    http.ProxyParams().SetProxyUsername("pu");
    http.ProxyParams().SetProxyPassword("pp");
    http.ProxyParams().SetBasicAuthentication(true);
    std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
    if (c.through_proxy) {
      http.ProxyParams().SetProxyServer("127.0.0.1");
      http.ProxyParams().SetProxyPort(server.Port());
      url = "http://origin.test/";
    }
    std::string text;
    http.GetText(url, text);
    EXPECT_EQ(text, "ok");
    const bool carried =
        server.Received(0).find("Proxy-Authorization: " + Basic("pu", "pp") + "\r\n") !=
        std::string::npos;
    EXPECT_EQ(carried, c.through_proxy) << server.Received(0);
  }
}

TEST(ProxyCredentials, AnOriginServerCannotAskForThem) {
  ScriptedServer server({Script()
                             .ReadUntil("\r\n\r\n")
                             .Send(Reply("407 Proxy Authentication Required",
                                         "Proxy-Authenticate: Basic realm=\"p\"\r\n"))
                             .StaySilent()});
  TIdHTTP http(nullptr);
  http.SetHTTPOptions(hoInProcessAuth);
  http.SetReadTimeout(5000);
  int asked = 0;
  http.SetOnProxyAuthorization([&](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
    ++asked;
    auth->StoreUserName("pu");
    handled = true;
  });
  std::string text;
  try {
    http.GetText("http://127.0.0.1:" + std::to_string(server.Port()) + "/", text);
    ADD_FAILURE() << "no protocol error";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 407);
  }
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(server.AcceptedCount(), 1);
}

}  // namespace
}  // namespace ah
