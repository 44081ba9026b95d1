// The client against scripted loopback servers: the exact bytes it sends,
// the routes it takes and how it answers challenges.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/streams.h"
#include "framework/strings.h"
#include "http/http_client.h"
#include "transport/ssl_io_handler_socket.h"
#include "tests/http/wire_test_helpers.h"
#include "tests/support/scripted_server.h"

namespace ah {
namespace {

using test::Answer;
using test::Head;
using test::HostLine;
using test::kAgent;
using test::Reply;
using test::Script;
using test::ScriptedServer;
using test::Url;

TEST(RequestWire, DefaultGetSendsTheDocumentedLinesInOrder) {
  ScriptedServer server({Answer(Reply("200 OK", "hello"))});
  std::string text;
  {
    TIdHTTP http(nullptr);
    http.GetText(Url(server, "/a/b?x=1"), text);
  }
  EXPECT_EQ(text, "hello");
  // A GET has no body for a Content-Type to describe.
  EXPECT_EQ(server.Received(0), Head({"GET /a/b?x=1 HTTP/1.1", HostLine(server),
                                      "Accept: text/html, */*", kAgent}));
}

TEST(RequestWire, FormPostGoesOutAsHttp10OnANewConnection) {
  // The GET leaves a kept-alive connection open; the post must not use it.
  ScriptedServer server({Script()
                             .ReadUntil("\r\n\r\n")
                             .Send(Reply("200 OK", "first"))
                             .StaySilent(),
                         Script()
                             .ReadUntil("\r\n\r\n")
                             .ReadBytes(10)
                             .Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")
                             .Close(),
                         Answer(Reply("200 OK", "after"))});
  TIdHTTP http(nullptr);
  std::string text;
  http.GetText(Url(server, "/"), text);
  TStringList lines({"a=1", "b=x y"});
  http.PostFormText(Url(server, "/form"), &lines, text);
  EXPECT_EQ(text, "ok");
  EXPECT_EQ(server.Received(1),
            Head({"POST /form HTTP/1.0", "Connection: keep-alive",
                  "Content-Type: application/x-www-form-urlencoded", "Content-Length: 10",
                  HostLine(server), "Accept: text/html, */*", kAgent}) +
                "a=1&b=x+y&");
  EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"a=1", "b=x+y"}));
  EXPECT_EQ(http.ProtocolVersion(), pv1_1);
  EXPECT_EQ(http.Request().Connection(), "keep-alive");
  EXPECT_EQ(http.Request().ContentType(), "application/x-www-form-urlencoded");

  // The record keeps both values; the next GET sends the connection's.
  http.GetText(Url(server, "/next"), text);
  EXPECT_EQ(text, "after");
  EXPECT_EQ(server.Received(2), Head({"GET /next HTTP/1.1", "Connection: keep-alive",
                                      HostLine(server), "Accept: text/html, */*", kAgent}));
  EXPECT_EQ(server.AcceptedCount(), 3);
}

TEST(RequestWire, FormPostKeepsItsVersionWithKeepOrigProtocol) {
  ScriptedServer server({Script()
                             .ReadUntil("\r\n\r\n")
                             .ReadBytes(3)
                             .Send(Reply("200 OK", ""))
                             .Close()});
  TIdHTTP http(nullptr);
  http.SetHTTPOptions(hoForceEncodeParams | hoKeepOrigProtocol);
  http.Request().SetContentType("text/plain");
  TStringList lines({"a=1"});
  std::string text = "old";
  http.PostFormText(Url(server, "/p"), &lines, text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(server.Received(0), Head({"POST /p HTTP/1.1", "Content-Type: text/plain",
                                      "Content-Length: 3", HostLine(server),
                                      "Accept: text/html, */*", kAgent}) +
                                    "a=1");
}

TEST(RequestWire, CookiesFollowTheAgentLine) {
  ScriptedServer server(
      {Script()
           .ReadUntil("\r\n\r\n")
           .Send(Reply("200 OK", "", "Set-Cookie: sid=42; path=/\r\nSet-Cookie: lang=en; path=/\r\n"))
           .ReadUntil("\r\n\r\n")
           .Send(Reply("200 OK", "x"))
           .StaySilent()});
  TIdHTTP http(nullptr);
  std::string text;
  http.GetText(Url(server, "/"), text);
  ASSERT_NE(http.CookieManager(), nullptr);
  EXPECT_TRUE(http.OwnsCookieManager());
  http.GetText(Url(server, "/page"), text);
  http.CloseConnection();
  std::string second = server.Received(0);
  second = second.substr(second.find("GET /page"));
  EXPECT_EQ(second, Head({"GET /page HTTP/1.1", HostLine(server), "Accept: text/html, */*", kAgent,
                          "Cookie: lang=en; sid=42"}));
}

TEST(RequestWire, NoCookiesAndNoJarWhenCookiesAreNotAllowed) {
  ScriptedServer server({Answer(Reply("200 OK", "", "Set-Cookie: sid=1; path=/\r\n"))});
  TIdHTTP http(nullptr);
  http.SetAllowCookies(false);
  std::string text;
  http.GetText(Url(server, "/"), text);
  EXPECT_EQ(http.CookieManager(), nullptr);
}

TEST(RequestWire, MethodWordsAndTargets) {
  struct Case {
    TIdHTTPMethod method;
    std::string path;
    std::string request_line;
  };
  const Case cases[] = {
      {hmOptions, "/*", "OPTIONS * HTTP/1.1"},
      {hmOptions, "/a*", "OPTIONS /a* HTTP/1.1"},
      {hmDelete, "/item/7", "DELETE /item/7 HTTP/1.1"},
      {hmTrace, "/t", "TRACE /t HTTP/1.1"},
      {hmHead, "/h", "HEAD /h HTTP/1.1"},
  };
  for (const Case& c : cases) {
    ScriptedServer server({Answer("HTTP/1.1 204 No Content\r\n\r\n")});
    TIdHTTP http(nullptr);
    TStringStream body;
    http.PerformRequest(c.method, Url(server, c.path), nullptr, &body);
    std::string received = server.Received(0);
    EXPECT_EQ(received.substr(0, received.find("\r\n")), c.request_line) << c.path;
  }
}

TEST(RequestWire, TargetsAndHeadersGoOutOnTheirLinesOrNotAtAll) {
  struct Row {
    std::string name;
    std::string path;
    std::function<void(TIdHTTP&)> prepare;
    std::string expected;  // a line of the request head, or the error's message
  };
  const std::string target_error = "The request is not sent: its target holds a control character";
  auto header_error = [](const std::string& name) {
    return "The request is not sent: header \"" + name + "\" holds a control character";
  };
  const std::string words = [] {
    std::string w;
    for (int i = 0; i < 40; ++i) w += "word" + std::to_string(i) + ", ";
    return w + "end";
  }();
  const Row rows[] = {
      {"spaces in path and query", "/a b/c d?x=1 2", nullptr, "GET /a%20b/c%20d?x=1%202 HTTP/1.1"},
      {"CR LF in the path", "/a\r\nX-Injected: 1", nullptr, target_error},
      {"NUL in the query", std::string("/a?x=\0", 6), nullptr, target_error},
      {"tab in the path", "/a\tb", nullptr, target_error},
      {"CR LF in a field", "/",
       [](TIdHTTP& h) { h.Request().SetReferer("http://x/\r\nX-Injected: 1"); },
       header_error("Referer")},
      {"LF in a custom header", "/",
       [](TIdHTTP& h) { h.Request().CustomHeaders().Add("X-Custom: a\nX-Injected: 1"); },
       header_error("X-Custom")},
      {"a tab in a value is part of it", "/",
       [](TIdHTTP& h) { h.Request().SetFrom("a\tb"); }, "From: a\tb"},
      {"a long field on one line", "/", [&](TIdHTTP& h) { h.Request().SetReferer(words); },
       "Referer: " + words},
      {"a folded custom header joined on one line", "/",
       [&](TIdHTTP& h) { h.Request().CustomHeaders().SetHeaderValue("X-Long", words); },
       "X-Long: " + words},
      {"a space in the host", "", [](TIdHTTP&) {},
       "The request is not sent: the host name holds a space or a control character"},
  };
  for (const Row& row : rows) {
    ScriptedServer server({Answer(Reply("200 OK", "ok"))});
    TIdHTTP http(nullptr);
    if (row.prepare) row.prepare(http);
    const std::string url =
        row.path.empty() ? "http://ex ample/" : Url(server, row.path);
    std::string text;
    try {
      http.GetText(url, text);
      http.CloseConnection();
      const std::string head = server.Received(0);
      EXPECT_NE(head.find(row.expected + "\r\n"), std::string::npos) << row.name << "\n" << head;
      EXPECT_EQ(head.find("\r\n "), std::string::npos) << row.name << ": folded\n" << head;
    } catch (const EIdHTTPInvalidRequest& e) {
      EXPECT_EQ(e.Message(), row.expected) << row.name;
      EXPECT_EQ(server.AcceptedCount(), 0) << row.name;
    }
  }
}

TEST(RequestWire, LongCookieLineAndRedirectTargetsAreNeverFoldedOrInjected) {
  const std::string value(600, 'v');
  ScriptedServer server(
      {Script()
           .ReadUntil("\r\n\r\n")
           .Send(Reply("302 Found", "",
                       "Set-Cookie: a=" + value + "; path=/\r\nSet-Cookie: b=" + value +
                           "; path=/\r\nLocation: /moved here\r\n"))
           .ReadUntil("\r\n\r\n")
           .Send(Reply("302 Found", "", std::string("Location: /x\x7fy\r\n")))
           .StaySilent()});
  TIdHTTP http(nullptr);
  http.SetHandleRedirects(true);
  std::string text;
  EXPECT_THROW(http.GetText(Url(server, "/"), text), EIdHTTPInvalidRequest);
  http.CloseConnection();
  const std::string wire = server.Received(0);
  // The second request: its target encoded, its cookies on one line; no third.
  EXPECT_NE(wire.find("GET /moved%20here HTTP/1.1\r\n"), std::string::npos) << wire;
  const size_t cookie = wire.find("\r\nCookie: ");
  ASSERT_NE(cookie, std::string::npos) << wire;
  const std::string line = wire.substr(cookie + 2, wire.find("\r\n", cookie + 2) - cookie - 2);
  EXPECT_EQ(line.size(), std::string("Cookie: a=; b=").size() + 2 * value.size()) << line;
  EXPECT_EQ(wire.find("GET /x"), std::string::npos) << wire;
  EXPECT_EQ(server.AcceptedCount(), 1);
}

TEST(RequestWire, Http11OnlyMethodsAreRefusedUnder10BeforeSending) {
  ScriptedServer server({Answer("HTTP/1.1 204 No Content\r\n\r\n")});
  for (TIdHTTPMethod m : {hmOptions, hmTrace, hmPut, hmDelete}) {
    TIdHTTP http(nullptr);
    http.SetProtocolVersion(pv1_0);
    TStringStream source("x");
    try {
      http.PerformRequest(m, Url(server, "/"), &source, nullptr);
      ADD_FAILURE() << "method " << int(m) << " was sent";
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "This request method is supported in HTTP 1.1") << int(m);
    }
  }
  EXPECT_EQ(server.AcceptedCount(), 0);
}

TEST(RequestWire, RelativeAddressesResolveAgainstTheLastOne) {
  ScriptedServer server({Script()
                             .ReadUntil("\r\n\r\n")
                             .Send(Reply("200 OK", "1"))
                             .ReadUntil("\r\n\r\n")
                             .Send(Reply("200 OK", "2"))
                             .StaySilent(),
                         Answer(Reply("200 OK", "3"))});
  TIdHTTP http(nullptr);
  std::string text;
  http.GetText(Url(server, "/a/"), text);
  http.GetText("x?q=1", text);
  EXPECT_EQ(text, "2");
  http.GetText("http://localhost:" + std::to_string(server.Port()) + "/y#part", text);
  EXPECT_EQ(text, "3");
  EXPECT_EQ(http.Port(), server.Port());
  http.CloseConnection();
  std::string first = server.Received(0);
  EXPECT_NE(first.find("GET /a/x?q=1 HTTP/1.1\r\n"), std::string::npos) << first;
  std::string third = server.Received(1);
  EXPECT_EQ(third, Head({"GET /y HTTP/1.1", "Host: localhost:" + std::to_string(server.Port()),
                         "Accept: text/html, */*", kAgent}));
}

TEST(RequestWire, ProxyRouteSendsTheAbsoluteAddress) {
  ScriptedServer proxy(
      {Script().ReadUntil("\r\n\r\n").Send(Reply("200 OK", "via proxy")).StaySilent(),
       Script().ReadUntil("\r\n\r\n").Send(Reply("200 OK", "again")).StaySilent()});
  TIdHTTP http(nullptr);
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  std::string text;
  http.GetText("http://origin.test/a", text);
  EXPECT_EQ(text, "via proxy");
  EXPECT_EQ(http.Request().Route(), hrProxy);
  // TargetURI keeps naming the origin.
  EXPECT_EQ(http.TargetURI().Host(), "origin.test");

  // Under 1.0 the kept connection no longer counts as reusable (the last
  // reply said nothing of keep-alive), so the next request opens another.
  http.SetProtocolVersion(pv1_0);
  http.GetText("http://origin.test:8081/b", text);
  EXPECT_EQ(text, "again");
  http.CloseConnection();
  EXPECT_EQ(proxy.Received(0), Head({"GET http://origin.test:80/a HTTP/1.1", "Host: origin.test",
                                     "Accept: text/html, */*", kAgent}));
  EXPECT_EQ(proxy.Received(1), Head({"GET http://origin.test:8081/b HTTP/1.0",
                                     "Proxy-Connection: keep-alive", "Host: origin.test:8081",
                                     "Accept: text/html, */*", kAgent}));
}

TEST(RequestWire, HttpsNeedsTheTlsHandler) {
  // Not a TLS server: it reads the first record header and hangs up.
  ScriptedServer server({Script().ReadBytes(5).Close()});
  TIdHTTP http(nullptr);
  std::string text = "kept";
  try {
    http.GetText("https://127.0.0.1:" + std::to_string(server.Port()) + "/", text);
    ADD_FAILURE() << "no TLS handler, yet it was sent";
  } catch (const EIdIOHandlerPropInvalid& e) {
    EXPECT_EQ(e.Message(), "IOHandler value is not valid");
  }
  EXPECT_EQ(text, "kept");

  // With the handler the request is routed for TLS; the handshake fails
  // against a plain server and nothing of the request leaves in clear.
  TIdSSLIOHandlerSocket tls(nullptr);
  http.SetIOHandler(&tls);
  EXPECT_THROW(http.GetText("https://127.0.0.1:" + std::to_string(server.Port()) + "/", text),
               EIdSSLProtocolReplyError);
  EXPECT_EQ(http.Request().Route(), hrDirectTLS);
  EXPECT_EQ(http.Request().Host(), "127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_FALSE(tls.PassThrough());
  EXPECT_FALSE(tls.IsOpen());
  EXPECT_EQ(server.Received(0).substr(0, 1), "\x16");  // a TLS handshake record
  http.SetIOHandler(nullptr);
}

TEST(RequestWire, TunnelRequestLinesAndOpening) {
  ScriptedServer proxy({Script()
                            .ReadUntil("\r\n\r\n")
                            .Send("HTTP/1.1 200 Connection established\r\n\r\n")
                            .ReadBytes(5)
                            .Close()});
  TIdHTTP http(nullptr);
  TIdSSLIOHandlerSocket tls(nullptr);
  http.SetIOHandler(&tls);
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  // After the tunnel opens the handler starts TLS, which this proxy cannot
  // carry on to anything. The CONNECT announces no body of its own, or a
  // proxy would wait for it.
  TStringStream body("abc");
  TStringStream reply;
  EXPECT_THROW(http.PostStream("https://secure.test/p", &body, &reply), EIdSSLProtocolReplyError);
  EXPECT_EQ(http.Request().Route(), hrProxyTunnel);
  EXPECT_FALSE(tls.PassThrough());
  http.CloseConnection();
  http.SetIOHandler(nullptr);
  const std::string head =
      Head({"CONNECT secure.test:443 HTTP/1.0", "Pragma: no-cache", "Proxy-Connection: keep-alive",
            "Host: secure.test:443", "Accept: text/html, */*", kAgent});
  EXPECT_EQ(proxy.Received(0).substr(0, head.size() + 1), head + "\x16");
}

TEST(RequestWire, TunnelRepliesOtherThan200EndTheAttempt) {
  const std::pair<std::string, std::string> rows[] = {
      {"HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n",
       "EIdHTTPProtocolException: HTTP/1.1 204 No Content"},
      {"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n",
       "EIdHTTPProtocolException: HTTP/1.1 403 Forbidden"},
      {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\nLocation: https://x.test/\r\n\r\n",
       "EIdHTTPProtocolException: HTTP/1.1 302 Found"},
      // A reply of the proxy's own making after its 200, meant to be read as
      // the origin's.
      {"HTTP/1.1 200 Connection established\r\n\r\nHTTP/1.1 200 OK\r\nSet-Cookie: planted=1\r\n"
       "Content-Length: 2\r\n\r\nok",
       "EIdHTTPMalformedResponse: The proxy sent more than its answer to CONNECT"},
  };
  for (const auto& [reply, outcome] : rows) {
    ScriptedServer proxy({Script().ReadUntil("\r\n\r\n").Send(reply).StaySilent()});
    TIdHTTP http(nullptr);
    http.SetHandleRedirects(true);
    TIdSSLIOHandlerSocket tls(nullptr);
    http.SetIOHandler(&tls);
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(proxy.Port());
    std::string text;
    try {
      http.GetText("https://secure.test/p", text);
      ADD_FAILURE() << outcome;
    } catch (const EIdException& e) {
      EXPECT_EQ(std::string(e.ClassName()) + ": " + e.Message(), outcome);
    }
    EXPECT_EQ(text, "") << outcome;
    EXPECT_FALSE(http.IsConnected()) << outcome;
    http.SetIOHandler(nullptr);
    EXPECT_EQ(proxy.AcceptedCount(), 1) << outcome;
  }
}

// --- Authorization ---------------------------------------------------------

const char kChallenge[] = "WWW-Authenticate: Basic realm=\"zone\"\r\n";

TEST(RequestWire, ServerChallengeWithoutHandlerRaisesAndKeepsTheScheme) {
  ScriptedServer server(
      {Answer(Reply("401 Unauthorized", "who?", std::string(kChallenge) + "Connection: close\r\n")),
       Answer(Reply("200 OK", "open"))});
  TIdHTTP http(nullptr);
  std::string text;
  try {
    http.GetText(Url(server, "/"), text);
    ADD_FAILURE();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 401);
    EXPECT_EQ(e.ErrorMessage(), "who?");
  }
  ASSERT_NE(http.Request().AuthHandler(), nullptr);
  EXPECT_STREQ(http.Request().AuthHandler()->ClassName(), "TIdBasicAuthentication");
  // Later requests carry its line, with empty credentials ("" + ":" + "").
  http.GetText(Url(server, "/"), text);
  EXPECT_NE(server.Received(1).find("Authorization: Basic Og==\r\n"), std::string::npos)
      << server.Received(1);
}

TEST(RequestWire, InProcessAuthRetriesTheCallersUrlUpToAuthRetries) {
  // The server keeps refusing: three answers, then the protocol error.
  Script refuse = Script();
  for (int i = 0; i < 4; ++i) {
    refuse.ReadUntil("\r\n\r\n").Send(Reply("401 Unauthorized", "no", kChallenge));
  }
  refuse.StaySilent();
  ScriptedServer server({refuse});
  TIdHTTP http(nullptr);
  http.SetHTTPOptions(hoForceEncodeParams | hoInProcessAuth);
  int asked = 0;
  http.SetOnAuthorization([&](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
    ++asked;
    auth->StoreUserName("user");
    auth->StorePassword("pw");
    handled = true;
  });
  std::string text;
  EXPECT_THROW(http.GetText(Url(server, "/secret"), text), EIdHTTPProtocolException);
  EXPECT_EQ(asked, 1);  // Basic asks once; the known name answers after that
  http.CloseConnection();
  std::string wire = server.Received(0);
  int requests = 0;
  int authorized = 0;
  for (size_t p = 0; (p = wire.find("GET /secret HTTP/1.1", p)) != std::string::npos; ++p) {
    ++requests;
  }
  for (size_t p = 0; (p = wire.find("Authorization: Basic dXNlcjpwdw==\r\n", p)) != std::string::npos;
       ++p) {
    ++authorized;
  }
  EXPECT_EQ(requests, 4);
  EXPECT_EQ(authorized, 3);
  EXPECT_EQ(http.Request().Username(), "user");
  EXPECT_TRUE(http.Request().BasicAuthentication());
}

TEST(RequestWire, InProcessAuthSucceedsOnTheRetry) {
  ScriptedServer server({Script()
                             .ReadUntil("\r\n\r\n")
                             .Send(Reply("401 Unauthorized", "no", kChallenge))
                             .ReadUntil("\r\n\r\n")
                             .Send(Reply("200 OK", "welcome"))
                             .StaySilent()});
  TIdHTTP http(nullptr);
  http.SetHTTPOptions(hoInProcessAuth);
  http.SetOnAuthorization([&](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
    auth->StoreUserName("user");
    auth->StorePassword("pw");
    handled = true;
  });
  TStringStream body;
  http.GetToStream(Url(server, "/secret"), &body);
  EXPECT_EQ(body.DataString(), "welcome");
  EXPECT_EQ(http.AuthAttempts(), 1);
  EXPECT_EQ(server.AcceptedCount(), 1);
}

TEST(RequestWire, AnsweredChallengeWithoutInProcessAuthLeavesTheBody) {
  ScriptedServer server({Script()
                             .ReadUntil("\r\n\r\n")
                             .Send(Reply("401 Unauthorized", "challenge body", kChallenge))
                             .StaySilent()});
  TIdHTTP http(nullptr);
  http.SetOnAuthorization([&](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
    auth->StoreUserName("user");
    handled = true;
  });
  std::string text;
  http.GetText(Url(server, "/"), text);
  EXPECT_EQ(text, "challenge body");
  EXPECT_EQ(http.ResponseCode(), 401);
}

TEST(RequestWire, ChallengesOnClosedConnectionsEndAfterAuthRetries) {
  // Every reply closes the connection, and the handler always answers: the
  // challenge answered on a closed connection sends the request again on a
  // new one. A head cut short by the close is no challenge at all.
  struct Case {
    std::string name;
    std::string reply;
    TIdHTTPOptions options;
    bool cut = false;  // the head is cut short: that is the failure
  };
  const Case cases[] = {
      {"closing reply, in process",
       Reply("401 Unauthorized", "", std::string(kChallenge) + "Connection: close\r\n"),
       hoInProcessAuth},
      {"head cut short, in process", std::string("HTTP/1.1 401 Unauthorized\r\n") + kChallenge,
       hoInProcessAuth, true},
      {"head cut short", std::string("HTTP/1.1 401 Unauthorized\r\n") + kChallenge, 0, true},
  };
  for (const Case& c : cases) {
    ScriptedServer server({Answer(c.reply)});
    TIdHTTP http(nullptr);
    http.SetHTTPOptions(c.options);
    http.SetOnAuthorization([&](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
      auth->StoreUserName("user");
      handled = true;
    });
    std::string text;
    if (c.cut) {
      EXPECT_THROW(http.GetText(Url(server, "/"), text), EIdConnClosedGracefully) << c.name;
    } else {
      EXPECT_THROW(http.GetText(Url(server, "/"), text), EIdHTTPProtocolException) << c.name;
    }
    EXPECT_EQ(server.AcceptedCount(), c.cut ? 1 : 4) << c.name;
  }
}

TEST(RequestWire, HandlerThatNeverGivesANameEndsTheAnswer) {
  ScriptedServer server({Answer(Reply("401 Unauthorized", "", kChallenge))});
  TIdHTTP http(nullptr);
  http.SetHTTPOptions(hoInProcessAuth);
  int asked = 0;
  http.SetOnAuthorization([&](TIdCustomHTTP*, TIdAuthentication*, bool& handled) {
    ++asked;
    handled = true;
  });
  std::string text;
  EXPECT_THROW(http.GetText(Url(server, "/"), text), EIdHTTPProtocolException);
  EXPECT_EQ(asked, 3);
}

TEST(RequestWire, ProxyChallengeIsAnsweredWithProxyCredentials) {
  ScriptedServer proxy(
      {Script()
           .ReadUntil("\r\n\r\n")
           .Send(Reply("407 Proxy Authentication Required", "",
                       "Proxy-Authenticate: Basic realm=\"proxy\"\r\n"))
           .ReadUntil("\r\n\r\n")
           .Send(Reply("200 OK", "through"))
           .StaySilent()});
  TIdHTTP http(nullptr);
  http.SetHTTPOptions(hoInProcessAuth);
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  http.ProxyParams().SetProxyPassword("stale");
  std::string seen_password = "unset";
  http.SetOnProxyAuthorization([&](TIdCustomHTTP*, TIdAuthentication* auth, bool& handled) {
    seen_password = auth->CurrentPassword();
    auth->StoreUserName("pu");
    auth->StorePassword("pp");
    handled = true;
  });
  std::string text;
  http.GetText("http://origin.test/", text);
  EXPECT_EQ(text, "through");
  EXPECT_EQ(seen_password, "");
  EXPECT_EQ(http.ProxyParams().ProxyUsername(), "pu");
  EXPECT_EQ(http.ProxyParams().ProxyPassword(), "pp");
  http.CloseConnection();
  EXPECT_NE(proxy.Received(0).find("Proxy-Authorization: Basic cHU6cHA=\r\n"), std::string::npos);
}

TEST(RequestWire, ProxyChallengeWithoutHandlerRaises) {
  ScriptedServer proxy({Answer(Reply("407 Proxy Authentication Required", "",
                                     "Proxy-Authenticate: Basic realm=\"proxy\"\r\n"))});
  TIdHTTP http(nullptr);
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  std::string text;
  try {
    http.GetText("http://origin.test/", text);
    ADD_FAILURE();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 407);
  }
}

}  // namespace
}  // namespace ah
