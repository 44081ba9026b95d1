// The client against an independent HTTP server (cpp-httplib): redirects,
// cookies, keep-alive and authorization as an ordinary server does them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/streams.h"
#include "framework/strings.h"
#include "http/http_client.h"
#include "tests/support/local_http_server.h"

namespace ah {
namespace {

using test::LocalHttpServer;

class HttpClientServer : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = server_.server();
    s.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("hello world", "text/plain");
    });
    s.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("", "text/plain");
    });
    s.Get("/redirect", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/hello");
    });
    // /chain/n redirects to /chain/n-1; /chain/0 answers.
    s.Get(R"(/chain/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      int n = std::stoi(req.matches[1]);
      if (n == 0) {
        res.set_content("end of chain", "text/plain");
      } else {
        res.set_redirect("/chain/" + std::to_string(n - 1));
      }
    });
    s.Get("/located", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Location", "/hello");
      res.set_content("ok but elsewhere", "text/plain");
    });
    s.Post("/form", [this](const httplib::Request& req, httplib::Response& res) {
      posted_.push_back(req.body);
      content_types_.push_back(req.get_header_value("Content-Type"));
      res.set_redirect("/landing");
    });
    s.Post("/landing", [this](const httplib::Request& req, httplib::Response& res) {
      posted_.push_back(req.body);
      res.set_content("posted again", "text/plain");
    });
    s.Get("/landing", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("landed by GET", "text/plain");
    });
    s.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.body, "text/plain");
    });
    // Sign-in: sets cookies on the way through a redirect chain.
    s.Get("/login", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "session=abc; path=/");
      res.set_redirect("/login/step2");
    });
    s.Get("/login/step2", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "remember=yes; path=/");
      res.set_redirect("/private");
    });
    s.Get("/private", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("cookies: " + req.get_header_value("Cookie"), "text/plain");
    });
    s.Get("/many-cookies", [](const httplib::Request&, httplib::Response& res) {
      for (int i = 0; i < 300; ++i)
        res.set_header("Set-Cookie", "c" + std::to_string(i) + "=v" + std::to_string(i) + "; path=/");
      res.set_content("set", "text/plain");
    });
    s.Get("/basic", [](const httplib::Request& req, httplib::Response& res) {
      // "user:pw"
      if (req.get_header_value("Authorization") == "Basic dXNlcjpwdw==") {
        res.set_content("let in", "text/plain");
      } else {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
        res.set_content("denied", "text/plain");
      }
    });
    s.Get("/busy", [](const httplib::Request&, httplib::Response& res) {
      res.status = 503;
      res.set_header("Retry-After", "7");
    });
    s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(300000, 'x'), "application/octet-stream");
    });
    s.Get("/streamed", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset < 5000) {
          std::string piece(1000, char('a' + offset / 1000));
          sink.write(piece.data(), piece.size());
        } else {
          sink.done();
        }
        return true;
      });
    });
    server_.Start();
  }

  std::string Url(const std::string& path) { return server_.Url(path); }

  LocalHttpServer server_;
  std::vector<std::string> posted_;
  std::vector<std::string> content_types_;
};

TEST_F(HttpClientServer, GetsTextAndEmptyBodies) {
  TIdHTTP http(nullptr);
  std::string text;
  http.GetText(Url("/hello"), text);
  EXPECT_EQ(text, "hello world");
  text = "not empty";
  http.GetText(Url("/empty"), text);
  EXPECT_EQ(text, "");
}

TEST_F(HttpClientServer, LargeAndChunkedBodiesArriveWhole) {
  TIdHTTP http(nullptr);
  std::string text;
  http.GetText(Url("/big"), text);
  EXPECT_EQ(text, std::string(300000, 'x'));
  http.GetText(Url("/streamed"), text);
  std::string want;
  for (char c = 'a'; c <= 'e'; ++c) want += std::string(1000, c);
  EXPECT_EQ(text, want);
}

TEST_F(HttpClientServer, KeptAliveConnectionCarriesEveryGet) {
  TIdHTTP http(nullptr);
  std::string text;
  for (int i = 0; i < 5; ++i) http.GetText(Url("/hello"), text);
  http.GetText(Url("/big"), text);
  http.GetText(Url("/streamed"), text);
  EXPECT_EQ(server_.Requests(), 7);
  EXPECT_EQ(server_.Connections(), 1);
}

TEST_F(HttpClientServer, RedirectIsRefusedUnlessHandled) {
  TIdHTTP http(nullptr);
  std::string text = "as before";
  try {
    http.GetText(Url("/redirect"), text);
    ADD_FAILURE();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 302);
  }
  EXPECT_EQ(text, "as before");

  http.SetHandleRedirects(true);
  TStringStream body;
  http.GetToStream(Url("/redirect"), &body);
  EXPECT_EQ(body.DataString(), "hello world");
}

TEST_F(HttpClientServer, OnRedirectCanFollowWithoutHandleRedirects) {
  TIdHTTP http(nullptr);
  int calls = 0;
  http.SetOnRedirect([&](TIdCustomHTTP*, std::string&, int&, bool& handled, TIdHTTPMethod&) {
    ++calls;
    handled = true;
  });
  std::string text = "x";
  // Not following: the redirect finishes the request with its Location.
  http.GetText(Url("/redirect"), text);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(text, "");
  EXPECT_EQ(http.ResponseCode(), 302);
  EXPECT_EQ(http.Response().Location(), "/hello");
}

TEST_F(HttpClientServer, StatusOkWithLocationIsARedirect) {
  TIdHTTP http(nullptr);
  http.SetHandleRedirects(true);
  std::string text;
  http.GetText(Url("/located"), text);
  EXPECT_EQ(text, "hello world");
}

TEST_F(HttpClientServer, RedirectMaximumEdge) {
  TIdHTTP http(nullptr);
  http.SetHandleRedirects(true);
  std::string text;
  // 14 redirects and the final answer: 15 requests, all followed.
  http.GetText(Url("/chain/14"), text);
  EXPECT_EQ(text, "end of chain");
  EXPECT_EQ(http.RedirectCount(), 0);

  // One more: the redirect answering request 15 ends the operation.
  text = "x";
  http.GetText(Url("/chain/15"), text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(http.ResponseCode(), 302);
  EXPECT_EQ(http.Response().Location(), "/chain/0");

  http.SetRedirectMaximum(1);
  http.GetText(Url("/chain/1"), text);
  EXPECT_EQ(http.Response().Location(), "/chain/0");
}

TEST_F(HttpClientServer, PostRedirectedBy302IsFollowedAsAGetUnlessOnRedirectKeepsThePost) {
  for (bool keep : {false, true}) {
    posted_.clear();
    TIdHTTP http(nullptr);
    http.SetHandleRedirects(true);
    if (keep) {
      http.SetOnRedirect([](TIdCustomHTTP*, std::string&, int&, bool&, TIdHTTPMethod& method) {
        method = hmPost;
      });
    }
    TStringList lines({"who=me", "what=a b"});
    std::string text;
    http.PostFormText(Url("/form"), lines, text);
    EXPECT_EQ(text, keep ? "posted again" : "landed by GET");
    std::vector<std::string> bodies{"who=me&what=a+b&"};
    if (keep) bodies.push_back(bodies.front());
    EXPECT_EQ(posted_, bodies);
  }
}

TEST_F(HttpClientServer, OnRedirectCanTurnThePostIntoAGet) {
  TIdHTTP http(nullptr);
  http.SetHandleRedirects(true);
  http.SetOnRedirect([](TIdCustomHTTP*, std::string&, int&, bool&, TIdHTTPMethod& method) {
    method = hmGet;
  });
  TStringList lines({"a=1"});
  std::string text;
  http.PostFormText(Url("/form"), lines, text);
  EXPECT_EQ(text, "landed by GET");
  EXPECT_EQ(http.Request().ContentLength(), -1);
}

TEST_F(HttpClientServer, CookiesSetAlongARedirectChainAreSentLater) {
  TIdHTTP http(nullptr);
  http.SetHandleRedirects(true);
  std::string text;
  http.GetText(Url("/login"), text);
  EXPECT_EQ(text, "cookies: remember=yes; session=abc");
  http.GetText(Url("/private"), text);
  EXPECT_EQ(text, "cookies: remember=yes; session=abc");

  // A new client starts without them.
  TIdHTTP fresh(nullptr);
  fresh.GetText(Url("/private"), text);
  EXPECT_EQ(text, "cookies: ");
}

TEST_F(HttpClientServer, TheLastRepliesTellWhetherTheyRedirectedSetACookieOrAskedToWait) {
  TIdHTTP http(nullptr);
  http.SetHandleRedirects(true);
  IHTTPClient& client = http;
  struct Case {
    std::string path;
    bool redirected, set_cookie;
    std::string retry_after;
  } cases[] = {
      {"/login", true, true, ""},
      {"/hello", false, false, ""},
      {"/redirect", true, false, ""},
      {"/busy", false, false, "7"},
      {"/private", false, false, ""},
  };
  for (const auto& c : cases) {
    std::string text;
    try {
      client.GetText(Url(c.path), text);
    } catch (const EIdHTTPProtocolException&) {
    }
    IHTTPClient::ReplyFacts facts = client.LastReplyFacts();
    EXPECT_EQ(facts.redirected, c.redirected) << c.path;
    EXPECT_EQ(facts.set_cookie, c.set_cookie) << c.path;
    EXPECT_EQ(facts.retry_after, c.retry_after) << c.path;
  }
}

TEST_F(HttpClientServer, DroppingTheConnectionMakesTheNextRequestOpenANewOne) {
  TIdHTTP http(nullptr);
  IHTTPClient& client = http;
  client.SetTimeouts(2000, 2000);
  EXPECT_EQ(http.ConnectTimeout(), 2000);
  EXPECT_EQ(http.ReadTimeout(), 2000);
  std::string text;
  client.GetText(Url("/hello"), text);
  client.GetText(Url("/hello"), text);
  EXPECT_EQ(server_.Connections(), 1);
  client.DropConnection();
  client.GetText(Url("/hello"), text);
  EXPECT_EQ(text, "hello world");
  EXPECT_EQ(server_.Connections(), 2);
  client.SetProxy("proxy.example", 3128);
  EXPECT_EQ(http.ProxyParams().ProxyServer(), "proxy.example");
  EXPECT_EQ(http.ProxyParams().ProxyPort(), 3128);
  client.SetProxy("", 0);
  EXPECT_EQ(http.ProxyParams().ProxyServer(), "");
}

TEST_F(HttpClientServer, OfThreeHundredCookiesFromOneSiteTheLatest180GoBack) {
  TIdHTTP http(nullptr);
  std::string text;
  http.GetText(Url("/many-cookies"), text);
  http.GetText(Url("/private"), text);
  text += ";";
  for (int i = 0; i < 300; ++i) {
    const std::string pair = "c" + std::to_string(i) + "=v" + std::to_string(i);
    EXPECT_EQ(text.find(" " + pair + ";") != std::string::npos, i >= 120) << pair;
  }
}

TEST_F(HttpClientServer, BasicChallengeAnsweredInProcess) {
  TIdHTTP http(nullptr);
  http.SetHTTPOptions(http.HTTPOptions() | hoInProcessAuth);
  http.SetOnAuthorization([](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
    auth->StoreUserName("user");
    auth->StorePassword("pw");
    handled = true;
  });
  std::string text;
  http.GetText(Url("/basic"), text);
  EXPECT_EQ(text, "let in");
  // The handler stays: the next request is authorized without a challenge.
  int before = server_.Requests();
  http.GetText(Url("/basic"), text);
  EXPECT_EQ(text, "let in");
  EXPECT_EQ(server_.Requests(), before + 1);
}

TEST_F(HttpClientServer, WrongCredentialsEndAfterAuthRetries) {
  TIdHTTP http(nullptr);
  http.SetHTTPOptions(hoInProcessAuth);
  http.SetAuthRetries(2);
  http.SetOnAuthorization([](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
    auth->StoreUserName("user");
    auth->StorePassword("wrong");
    handled = true;
  });
  std::string text;
  try {
    http.GetText(Url("/basic"), text);
    ADD_FAILURE();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 401);
    EXPECT_EQ(e.ErrorMessage(), "denied");
  }
  EXPECT_EQ(server_.Requests(), 3);
}

TEST_F(HttpClientServer, FailedOperationLeavesNoRedirectCount) {
  TIdHTTP http(nullptr);
  std::string text;
  EXPECT_THROW(http.GetText(Url("/missing"), text), EIdHTTPProtocolException);
  EXPECT_EQ(http.RedirectCount(), 0);
  http.GetText(Url("/hello"), text);
  EXPECT_EQ(text, "hello world");
}

TEST_F(HttpClientServer, RefusedConnectionIsASocketError) {
  int port = server_.port();
  server_.Stop();
  TIdHTTP http(nullptr);
  std::string text = "untouched";
  EXPECT_THROW(http.GetText("http://127.0.0.1:" + std::to_string(port) + "/", text),
               EIdSocketError);
  EXPECT_EQ(text, "untouched");
}

}  // namespace
}  // namespace ah
