// The client against scripted loopback servers: how it reads every kind of
// reply, refuses statuses and decides on keeping the connection.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/streams.h"
#include "http/exceptions.h"
#include "http/http_client.h"
#include "http/response_reader.h"
#include "tests/http/wire_test_helpers.h"
#include "tests/support/scripted_server.h"
#include "tests/transport/scripted_handler.h"

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

struct BodyCase {
  std::string name;
  std::string reply;  // everything after the request
  std::string body;
  bool server_closes;
};

TEST(ResponseWire, BodiesByLengthChunksAndClose) {
  const BodyCase cases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello", false},
      {"chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n",
       "abcde", false},
      {"chunk extension after a space",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3 ;x=1\r\nabc\r\n0\r\n\r\n", "abc",
       false},
      {"chunk extension without a space",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a;name=value\r\n"
       "abcdefghijklmnopqrstuvwxyz\r\n2;n\r\n!!\r\n0\r\n\r\n",
       "abcdefghijklmnopqrstuvwxyz!!", false},
      // Beside a length, chunked still frames the body, and the connection
      // goes: someone on the way may have framed it by the length.
      {"chunked wins over a length",
       "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       "abc", true},
      {"capital CHUNKED is chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\n3\r\nabc\r\n0\r\n\r\n", "abc", false},
      {"the final coding of all the lines frames",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nTransfer-Encoding: Chunked\r\n\r\n"
       "3\r\nabc\r\n0\r\n\r\n",
       "abc", false},
      {"a final coding other than chunked is read until close",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, x-mine\r\n\r\n3\r\nabc", "3\r\nabc", true},
      {"equal lengths in a list", "HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n\r\nhello", "hello",
       false},
      {"until close", "HTTP/1.1 200 OK\r\n\r\nall of it", "all of it", true},
      {"100 skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok", false},
      {"103 skipped",
       "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       "ok", false},
      {"no reason text", "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nz", "z", false},
      {"204 reads nothing", "HTTP/1.1 204 No Content\r\n\r\n", "", false},
      {"empty length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", false},
  };
  for (const BodyCase& c : cases) {
    // A kept-alive reply must leave the connection ready for the next
    // request: the second reply comes on the same connection.
    Script script = Script().ReadUntil("\r\n\r\n").Send(c.reply);
    if (c.server_closes) {
      script.Close();
    } else {
      script.ReadUntil("\r\n\r\n").Send(Reply("200 OK", "next")).StaySilent();
    }
    ScriptedServer server({script, Answer(Reply("200 OK", "next"))});
    TIdHTTP http(nullptr);
    std::string text;
    http.GetText(Url(server, "/"), text);
    EXPECT_EQ(text, c.body) << c.name;
    http.GetText(Url(server, "/2"), text);
    EXPECT_EQ(text, "next") << c.name;
    EXPECT_EQ(server.AcceptedCount(), c.server_closes ? 2 : 1) << c.name;
  }
}

TEST(ResponseWire, ChunkedBodyReportsItsStart) {
  ScriptedServer server({Answer(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n")});
  TIdHTTP http(nullptr);
  std::vector<std::string> texts;
  http.SetOnStatus([&](TComponent*, TIdStatus status, const std::string& text) {
    if (status == hsStatusText) texts.push_back(text);
  });
  std::string body;
  http.GetText(Url(server, "/"), body);
  EXPECT_EQ(texts, std::vector<std::string>{"Chunk Started"});
}

TEST(ResponseWire, ChunksAlreadyReceivedReachTheStreamBeforeTheNextReceive) {
  // Small chunks are gathered into one write, but never held while the
  // reader waits for more: a slow server's body shows as it comes.
  test::Scripted peer({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n2\r\nbc\r\n",
                       "1\r\nd\r\n0\r\n\r\n"});
  struct Recorder : TStringStream {
    std::function<std::string()> when;
    std::vector<std::string> writes;
    int64_t Write(const void* buffer, int64_t count) override {
      writes.push_back(when() + std::string(static_cast<const char*>(buffer), size_t(count)));
      return TStringStream::Write(buffer, count);
    }
  } body;
  body.when = [&] { return std::to_string(peer.handler->asked.size()) + " receives: "; };
  TIdHTTPResponse response(nullptr);
  response.SetBodyStream(&body);
  TIdResponseReader reader(peer.conn);
  reader.ReadHead(response, nullptr);
  EXPECT_TRUE(reader.ReadBody(response, hmGet));
  EXPECT_EQ(body.writes, (std::vector<std::string>{"1 receives: abc", "2 receives: d"}));
}

TEST(ResponseWire, NoResponseStreamReadsNoBody) {
  ScriptedServer server({Script()
                             .ReadUntil("\r\n\r\n")
                             .Send("HTTP/1.1 200 OK\r\n\r\nnever read")
                             .StaySilent()});
  TIdHTTP http(nullptr);
  http.PerformRequest(hmGet, Url(server, "/"), nullptr, nullptr);
  EXPECT_EQ(http.ResponseCode(), 200);
}

TEST(ResponseWire, RefusedStatusesRaiseWithStatusLineAndErrorBody) {
  struct Case {
    std::string reply;
    int code;
    std::string message;
    std::string error_body;
  };
  const Case cases[] = {
      {Reply("404 Not Found", "<p>gone</p>"), 404, "HTTP/1.1 404 Not Found", "<p>gone</p>"},
      {Reply("304 Not Modified", ""), 304, "HTTP/1.1 304 Not Modified", ""},
      {Reply("302 Found", "moved", "Location: /elsewhere\r\n"), 302, "HTTP/1.1 302 Found",
       "moved"},
      {Reply("500 Oops", "bad"), 500, "HTTP/1.1 500 Oops", "bad"},
      {Reply("101 Switching", ""), 101, "HTTP/1.1 101 Switching", ""},
      {"garbage\r\nContent-Length: 0\r\n\r\n", -1, "garbage", ""},
      {"HTTP/1.1 2000 OK\r\nContent-Length: 0\r\n\r\n", -1, "HTTP/1.1 2000 OK", ""},
      {"HTTP/1.1 +200 OK\r\nContent-Length: 0\r\n\r\n", -1, "HTTP/1.1 +200 OK", ""},
  };
  for (const Case& c : cases) {
    ScriptedServer server({Answer(c.reply)});
    TIdHTTP http(nullptr);
    std::string text = "before";
    try {
      http.GetText(Url(server, "/"), text);
      ADD_FAILURE() << c.message;
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), c.code) << c.message;
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_EQ(e.ErrorMessage(), c.error_body) << c.message;
    }
    // The error body never reaches the caller's text.
    EXPECT_EQ(text, "before") << c.message;
    EXPECT_EQ(http.RedirectCount(), 0);
  }
}

TEST(ResponseWire, GetTextThatFailsMidBodyKeepsWhatArrived) {
  // Head and the first four body bytes arrive in one piece; the rest never.
  ScriptedServer server({Script()
                             .ReadUntil("\r\n\r\n")
                             .Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd")
                             .StaySilent()});
  TIdHTTP http(nullptr);
  http.SetReadTimeout(200);
  std::string text = "before";
  EXPECT_THROW(http.GetText(Url(server, "/"), text), EIdReadTimeout);
  EXPECT_EQ(text, "abcd");
}

TEST(ResponseWire, GetTextStopsAtMaxTextBytesAndTheNextRequestGoesOnANewConnection) {
  Script endless = Script().ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\n\r\n");
  ScriptedServer server({endless.SendForever(std::string(4096, 'x')),
                         Script().ReadUntil("\r\n\r\n").Send(Reply("200 OK", "next"))});
  TIdHTTP http(nullptr);
  http.SetMaxTextBytes(1000);
  std::string text;
  try {
    http.GetText(Url(server, "/"), text);
    ADD_FAILURE() << "an endless body was taken whole";
  } catch (const EIdHTTPBodyTooLarge& e) {
    EXPECT_EQ(e.Message(), "The body is larger than 1000 bytes.");
  }
  EXPECT_EQ(text, std::string(1000, 'x'));
  http.GetText(Url(server, "/next"), text);
  EXPECT_EQ(text, "next");
  EXPECT_EQ(server.AcceptedCount(), 2);
}

TEST(ResponseWire, ShortBodyByLengthKeepsWhatArrivedAndFails) {
  ScriptedServer server({Answer("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd")});
  TIdHTTP http(nullptr);
  std::string text;
  EXPECT_THROW(http.GetText(Url(server, "/"), text), EIdConnClosedGracefully);
  EXPECT_EQ(text, "abcd");
}

TEST(ResponseWire, PostToTextThatFailsGivesEmptyText) {
  ScriptedServer server({Script().ReadUntil("\r\n\r\n").ReadBytes(3).Send(
      Reply("403 Forbidden", "no")).Close()});
  TIdHTTP http(nullptr);
  TStringList lines({"a=1"});
  std::string text = "before";
  EXPECT_THROW(http.PostFormText(Url(server, "/"), &lines, text), EIdHTTPProtocolException);
  EXPECT_EQ(text, "");
  EXPECT_EQ(http.ProtocolVersion(), pv1_1);
}

TEST(ResponseWire, AHeadCutShortIsAClosedConnection) {
  // The server closes while the header lines are read: no reply at all,
  // whatever its lines said so far.
  for (const std::string head : {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n",
                                 "HTTP/1.1 302 Found\r\nLocation: /x\r\n", "HTTP/1.1 20"}) {
    ScriptedServer server({Answer(head)});
    TIdHTTP http(nullptr);
    http.SetHandleRedirects(true);
    std::string text;
    EXPECT_THROW(http.GetText(Url(server, "/"), text), EIdConnClosedGracefully) << head;
    EXPECT_EQ(server.AcceptedCount(), 1) << head;
  }
}

TEST(ResponseWire, ReuseFollowsTheVersionAndConnectionHeaders) {
  struct Case {
    TIdHTTPProtocolVersion version;
    std::string headers;
    bool reusable;
    std::string reply_version = "HTTP/1.1";
  };
  const Case cases[] = {
      {pv1_1, "", true},
      {pv1_1, "Connection: close\r\n", false},
      {pv1_1, "Connection:  CLOSE \r\n", false},
      {pv1_1, "Proxy-Connection: close\r\n", false},
      {pv1_1, "Connection: keep-alive\r\n", true},
      {pv1_0, "", false},
      {pv1_0, "Connection: keep-alive\r\n", true},
      {pv1_0, "Proxy-Connection: KeEp-AlIvE\r\n", true},
      {pv1_0, "Connection: close\r\n", false},
      {pv1_1, "Connection: Keep-Alive, CLOSE\r\n", false},
      {pv1_1, "Connection: te\r\nConnection: close\r\n", false},
      {pv1_1, "", false, "HTTP/1.0"},
      {pv1_1, "Connection: Keep-Alive\r\n", true, "HTTP/1.0"},
  };
  for (const Case& c : cases) {
    std::string label = std::string(c.version == pv1_0 ? "1.0 " : "1.1 ") + c.reply_version + " " +
                        c.headers;
    ScriptedServer server({Script()
                               .ReadUntil("\r\n\r\n")
                               .Send(c.reply_version + Reply("200 OK", "a", c.headers).substr(8))
                               .ReadUntil("\r\n\r\n")
                               .Send(Reply("200 OK", "b"))
                               .StaySilent(),
                           Answer(Reply("200 OK", "b"))});
    TIdHTTP http(nullptr);
    http.SetProtocolVersion(c.version);
    std::string text;
    http.GetText(Url(server, "/"), text);
    EXPECT_EQ(http.Response().ConnectionReusable(), c.reusable) << label;
    EXPECT_EQ(http.IsConnected(), c.reusable) << label;
    http.GetText(Url(server, "/"), text);
    EXPECT_EQ(text, "b") << label;
    EXPECT_EQ(server.AcceptedCount(), c.reusable ? 1 : 2) << label;
  }
}

TEST(ResponseWire, AGetOnAKeptAliveConnectionThatDiesUnansweredGoesOnceMoreOnANewOne) {
  for (TIdHTTPMethod method : {hmGet, hmHead, hmPut}) {
    // The server takes the second request and closes (or resets) without a
    // word, as one does whose idle time ran out just then.
    Script first = Script().ReadUntil("\r\n\r\n").Send(Reply("200 OK", "one")).ReadUntil("\r\n\r\n");
    ScriptedServer server({method == hmHead ? first.Reset() : first.Close(),
                           Answer(Reply("200 OK", "two")), Answer(Reply("200 OK", "three"))});
    TIdHTTP http(nullptr);
    std::string text;
    http.GetText(Url(server, "/"), text);
    TStringStream body;
    TStringStream none;
    if (method == hmPut) {
      EXPECT_THROW(http.PerformRequest(method, Url(server, "/"), &none, &body), EIdException);
    } else {
      http.PerformRequest(method, Url(server, "/"), nullptr, &body);
      EXPECT_EQ(body.DataString(), method == hmGet ? "two" : "");
    }
    EXPECT_EQ(server.AcceptedCount(), method == hmPut ? 1 : 2) << method;
  }
}

TEST(ResponseWire, KeptAliveConnectionClosedByTheServerIsReopened) {
  ScriptedServer server({Answer(Reply("200 OK", "one")), Answer(Reply("200 OK", "two"))});
  TIdHTTP http(nullptr);
  std::string text;
  http.GetText(Url(server, "/"), text);
  ASSERT_TRUE(server.WaitForAccepted(1));
  server.Received(0);  // the first script has ended: the server closed
  http.GetText(Url(server, "/"), text);
  EXPECT_EQ(text, "two");
  EXPECT_EQ(server.AcceptedCount(), 2);
}

}  // namespace
}  // namespace ah
