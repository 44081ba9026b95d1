// The client against servers that misbehave: endless or oversized replies,
// broken framing, cut-off bodies. Each reply must end in a bounded time and
// memory with an honest outcome, and must never leave bytes behind that the
// next request would take for its reply.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/streams.h"
#include "http/http_client.h"
#include "tests/http/wire_test_helpers.h"
#include "tests/support/scripted_server.h"

namespace ah {
namespace {

using test::Reply;
using test::Script;
using test::ScriptedServer;
using test::Url;

constexpr size_t kKiB = 1024;

struct Outcome {
  // "200 body", "protocol error 404", or "Class: message [body so far]"
  std::string what;
  size_t held = 0;  // body bytes kept: the caller's stream or the error body
};

std::string Shown(const std::string& body) {
  return body.size() <= 32 ? body : std::to_string(body.size()) + " bytes";
}

Outcome Fetch(TIdHTTP& http, TIdHTTPMethod method, const std::string& url) {
  TStringStream body;
  try {
    http.PerformRequest(method, url, nullptr, &body);
    return {std::to_string(http.ResponseCode()) + " " + Shown(body.DataString()),
            body.DataString().size()};
  } catch (const EIdHTTPProtocolException& e) {
    return {"protocol error " + std::to_string(e.ReplyCode()), e.ErrorMessage().size()};
  } catch (const Exception& e) {
    const std::string& text = body.DataString();
    return {std::string(e.ClassName()) + ": " + e.Message() +
                (text.empty() ? "" : " [" + Shown(text) + "]"),
            text.size()};
  }
}

struct Hostile {
  std::string name;
  Script reply;  // what the first connection does once the request head is in
  std::string outcome;
  size_t bound;  // the most of the body the client may keep
  bool reused;   // the next request goes out on the same connection
  TIdHTTPMethod method = hmGet;
  bool follow = false;  // HandleRedirects
  // Ends a row whose server falls silent within a body the caller reads; an
  // error or redirect body nobody reads is given a time of its own. Elsewhere
  // it only bounds a failure, so a server held up on a loaded machine cannot
  // end the row.
  int read_timeout = 10000;
};

std::string Endless(size_t block) { return std::string(block, 'x'); }

const std::string kChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

// A script that starts once the request head is in.
Script After() { return Script().ReadUntil("\r\n\r\n"); }

TEST(HostileReply, EndsBoundedHonestAndNeverLeavesBytesForTheNextReply) {
  const std::string big_chunk = "1000\r\n" + std::string(0x1000, 'c') + "\r\n";
  std::string many_lines = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 100000; ++i) many_lines += "X-L" + std::to_string(1000000 + i) + ": v\r\n";
  std::string folded = "HTTP/1.1 200 OK\r\nServer: s\r\n";
  for (int i = 0; i < 100000; ++i) folded += " continued-server-text\r\n";
  const Hostile rows[] = {
      {"404 with an endless body",
       After().Send("HTTP/1.1 404 Not Found\r\n\r\n").SendForever(Endless(16 * kKiB)),
       "protocol error 404", 64 * kKiB, false},
      {"404 with a long body by length",
       After().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 200000\r\n\r\n").SendPattern(200000),
       "protocol error 404", 64 * kKiB, false},
      {"404 with endless chunks",
       After()
           .Send("HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n")
           .SendForever(big_chunk),
       "protocol error 404", 64 * kKiB, false},
      {"404 without a length, then silence",
       After().Send("HTTP/1.1 404 Not Found\r\n\r\nnot here").StaySilent(),
       "EIdReadTimeout: Read Timeout", 0, false},
      {"404 with a short body keeps the connection", After().Send(Reply("404 Not Found", "gone")),
       "protocol error 404", 4, true},
      {"404 of exactly the limit keeps the connection",
       After().Send(Reply("404 Not Found", std::string(64 * kKiB, 'e'))), "protocol error 404",
       64 * kKiB, true},
      {"302 with an endless body is still followed",
       After()
           .Send("HTTP/1.1 302 Found\r\nLocation: /final\r\n\r\n")
           .SendForever(Endless(16 * kKiB)),
       "200 next", 4, false, hmGet, true},
      {"302 with a length it never sends is still followed",
       After()
           .Send("HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 100\r\n\r\nab")
           .StaySilent(),
       "200 next", 4, false, hmGet, true},
      {"103 is skipped for its final reply",
       After().Send("HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n" + Reply("200 OK", "late")),
       "200 late", 4, true},
      {"HEAD reply announcing a length",
       After().Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"), "200 ", 0, true, hmHead},
      {"404 to HEAD announcing a length",
       After().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 1000\r\n\r\n"), "protocol error 404",
       0, true, hmHead},
      {"204 announcing a length",
       After().Send("HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n"), "204 ", 0, true},
      {"304 without a length", After().Send("HTTP/1.1 304 Not Modified\r\nETag: \"v1\"\r\n\r\n"),
       "protocol error 304", 0, true},
      {"head of 100,000 short lines", After().Send(many_lines + "Content-Length: 2\r\n\r\nok"),
       "200 ok", 2, true},
      {"head of a header folded into 100,000 lines",
       After().Send(folded + "Content-Length: 2\r\n\r\nok"), "200 ok", 2, true},
      {"endless head",
       After().Send("HTTP/1.1 200 OK\r\n").SendForever("X-Pad: " + std::string(100, 'p') + "\r\n"),
       "EIdHTTPMalformedResponse: Response head larger than the limit of 4 MiB", 0, false},
      {"endless interim replies", After().SendForever("HTTP/1.1 100 Continue\r\n\r\n"),
       "EIdHTTPMalformedResponse: Response head larger than the limit of 4 MiB", 0, false},
      {"404 whose chunk is 2 GiB",
       After()
           .Send("HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n80000000\r\n")
           .SendForever(Endless(16 * kKiB)),
       "protocol error 404", 64 * kKiB, false},
      {"length past 64 bits",
       After()
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc")
           .StaySilent(),
       "EIdHTTPMalformedResponse: Content-Length does not fit in 64 bits", 0, false},
      {"two lengths that disagree",
       After()
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 5\r\n\r\nokabc")
           .StaySilent(),
       "EIdHTTPMalformedResponse: Content-Length values disagree", 0, false},
      {"a list of lengths that disagree",
       After().Send("HTTP/1.1 200 OK\r\nContent-Length: 2, 5\r\n\r\nokabc").StaySilent(),
       "EIdHTTPMalformedResponse: Content-Length values disagree", 0, false},
      {"a length with a sign", After().Send("HTTP/1.1 200 OK\r\nContent-Length: +2\r\n\r\nok"),
       "EIdHTTPMalformedResponse: Content-Length is not a number", 0, false},
      {"a negative length", After().Send("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nok"),
       "EIdHTTPMalformedResponse: Content-Length is not a number", 0, false},
      {"a hexadecimal length", After().Send("HTTP/1.1 200 OK\r\nContent-Length: $2\r\n\r\nok"),
       "EIdHTTPMalformedResponse: Content-Length is not a number", 0, false},
      {"a length in C's hexadecimal",
       After().Send("HTTP/1.1 200 OK\r\nContent-Length: 0x2\r\n\r\nok"),
       "EIdHTTPMalformedResponse: Content-Length is not a number", 0, false},
      {"the same length twice",
       After().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length:  2\r\n\r\nok"),
       "200 ok", 2, true},
      {"chunk size past 64 bits", After().Send(kChunked + "10000000000000000\r\nabc").StaySilent(),
       "EIdHTTPMalformedResponse: Chunk size does not fit in 64 bits", 0, false},
      {"chunk size that is no number",
       After().Send(kChunked + "zz\r\nabc\r\n0\r\n\r\n").StaySilent(),
       "EIdHTTPMalformedResponse: Chunk size is not a number", 0, false},
      {"chunk longer than its size",
       After().Send(kChunked + "3\r\nabcdef\r\n0\r\n\r\n").StaySilent(),
       "EIdHTTPMalformedResponse: Chunk longer than its size [abc]", 3, false},
      {"trailer lines are read to their end",
       After().Send(kChunked + "2\r\nok\r\n0\r\nX-T1: a\r\nX-T2: b\r\n\r\n"), "200 ok", 2, true},
      {"body by length cut short by a close",
       After().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd").Close(),
       "EIdConnClosedGracefully: Connection Closed Gracefully. [abcd]", 4, false},
      {"long body by length cut short by a close",
       After().Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n").SendPattern(50000).Close(),
       "EIdConnClosedGracefully: Connection Closed Gracefully. [50000 bytes]", 50000, false},
      {"chunk cut short by a close", After().Send(kChunked + "5\r\nab").Close(),
       "EIdConnClosedGracefully: Connection Closed Gracefully. [ab]", 2, false},
      {"chunk size line cut short by a close", After().Send(kChunked + "2\r\nok\r\n1").Close(),
       "EIdConnClosedGracefully: Connection Closed Gracefully. [ok]", 2, false},
      {"head cut in the middle of a line is no success",
       After().Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nX-Cut: abcdef").Close(),
       "EIdConnClosedGracefully: Connection Closed Gracefully.", 0, false},
      {"redirect head cut short is not followed",
       After().Send("HTTP/1.1 302 Found\r\nLocation: /final\r\n").Close(),
       "EIdConnClosedGracefully: Connection Closed Gracefully.", 0, false, hmGet, true},
      {"bytes after the reply that nobody asked for",
       After().Send(Reply("200 OK", "ab") + Reply("200 OK", "wrong")).StaySilent(), "200 ab", 2,
       false},
      {"close right after the last chunk", After().Send(kChunked + "2\r\nok\r\n0\r\n").Close(),
       "EIdConnClosedGracefully: Connection Closed Gracefully. [ok]", 2, false},
      {"trailer cut short by a close", After().Send(kChunked + "2\r\nok\r\n0\r\nX-T: 1\r\n").Close(),
       "EIdConnClosedGracefully: Connection Closed Gracefully. [ok]", 2, false},
      {"POST sent on by 307 to another origin",
       After().Send("HTTP/1.1 307 Temporary Redirect\r\nLocation: http://127.0.0.2:9/\r\n"
                    "Content-Length: 0\r\n\r\n"),
       "protocol error 307", 0, true, hmPost, true},
      {"redirect to a file", After().Send(Reply("302 Found", "", "Location: file:///etc/passwd\r\n")),
       "EIdUnknownProtocol: Protocol \"file\" is not supported", 0, true, hmGet, true},
      {"over-long header line",
       After()
           .Send("HTTP/1.1 200 OK\r\nX-Long: " + std::string(20000, 'l') + "\r\n\r\n")
           .StaySilent(),
       "EIdReadLnMaxLineLengthExceeded: Max line length exceeded.", 0, false},
      {"silence in the middle of the body",
       After().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd").StaySilent(),
       "EIdReadTimeout: Read Timeout [abcd]", 4, false, hmGet, false, 2000},
      {"header value that does not parse",
       After()
           .Send("HTTP/1.1 200 OK\r\nContent-Range: bytes */1234\r\nContent-Length: 2\r\n\r\nok")
           .StaySilent(),
       "EConvertError: '*/1234' is not a valid integer value", 0, false},
  };
  for (const Hostile& row : rows) {
    Script first = row.reply;
    if (row.reused) {
      // Another reply on the same connection; a client that wrongly opens a
      // new one gets the next script's silence instead.
      first.ReadUntil("\r\n\r\n").Send(Reply("200 OK", "next")).StaySilent();
    }
    Script later = After().Send(Reply("200 OK", "next"));
    later.ReadUntil("\r\n\r\n").Send(Reply("200 OK", "next")).StaySilent();
    ScriptedServer server({first, row.reused ? Script().StaySilent() : later});
    TIdHTTP http(nullptr);
    http.SetReadTimeout(row.read_timeout);
    http.SetHandleRedirects(row.follow);
    Outcome got = Fetch(http, row.method, Url(server, "/"));
    EXPECT_EQ(got.what, row.outcome) << row.name;
    EXPECT_LE(got.held, row.bound) << row.name;
    EXPECT_EQ(Fetch(http, hmGet, Url(server, "/next")).what, "200 next") << row.name;
    EXPECT_EQ(server.AcceptedCount(), row.reused ? 1 : 2) << row.name;
  }
}

TEST(HostileReply, ATrickleEndsAtTheTransferTimeoutAndTheNextRequestHasItsOwn) {
  // A head line every 50 ms for 5 s: no pause comes near the read time-out.
  Script trickle = After().Send("HTTP/1.1 200 OK\r\n");
  for (int i = 0; i < 100; ++i) trickle.Sleep(50).Send("X-Slow: " + std::to_string(i) + "\r\n");
  trickle.Send("Content-Length: 2\r\n\r\nok");
  ScriptedServer server({trickle, After().Send(Reply("200 OK", "next")).StaySilent()});
  TIdHTTP http(nullptr);
  http.SetReadTimeout(500);
  http.SetTransferTimeout(300);
  EXPECT_EQ(Fetch(http, hmGet, Url(server, "/")).what, "EIdReadTimeout: Read Timeout");
  EXPECT_EQ(Fetch(http, hmGet, Url(server, "/next")).what, "200 next");
  EXPECT_EQ(server.AcceptedCount(), 2);
}

}  // namespace
}  // namespace ah
