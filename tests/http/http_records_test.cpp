#include "http/http_records.h"

#include <gtest/gtest.h>

namespace ah {
namespace {

TEST(HTTPResponse, StatusCodeIsTheNumberAfterTheVersion) {
  struct Case {
    std::string line;
    int32_t code;
  } cases[] = {
      {"HTTP/1.1 404 Not Found", 404},
      {"HTTP/1.1 204", 204},
      {"", -1},
      {"HTTP/1.1", -1},
      {"HTTP/1.0   200   OK", 200},
      {"HTTP/1.1 abc", -1},
      {"HTTP/1.1 2OO OK", -1},
      {" 301 Moved", 301},
      {"HTTP/1.1 99999999999 Big", -1},
  };
  for (const auto& c : cases) {
    TIdHTTPResponse response(nullptr);
    response.SetStatusLine(c.line);
    EXPECT_EQ(response.StatusCode(), c.code) << "input: " << c.line;
    EXPECT_EQ(ParseStatusCode(c.line), c.code) << "input: " << c.line;
  }
}

TEST(HTTPResponse, StatusCodeFollowsTheStatusLine) {
  TIdHTTPResponse response(nullptr);
  EXPECT_EQ(response.StatusCode(), -1);
  response.SetStatusLine("HTTP/1.1 100 Continue");
  EXPECT_EQ(response.StatusCode(), 100);
  response.SetStatusLine("HTTP/1.1 200 OK");
  EXPECT_EQ(response.StatusCode(), 200);
}

TEST(HTTPResponse, ConnectionReusableAsksTheHookOnEveryRead) {
  TIdHTTPResponse response(nullptr);
  EXPECT_FALSE(response.ConnectionReusable());
  int calls = 0;
  response.SetReusableHook([&](TIdHTTPResponse& r) {
    ++calls;
    return r.Connection() != "close";
  });
  EXPECT_TRUE(response.ConnectionReusable());
  response.SetConnection("close");
  EXPECT_FALSE(response.ConnectionReusable());
  EXPECT_EQ(calls, 2);
}

TEST(HTTPProtocol, OwnsOneRequestAndOneResponseOfTheSameOwner) {
  auto* owner = reinterpret_cast<TIdCustomHTTP*>(0x1000);
  TIdHTTPProtocol exchange(owner);
  EXPECT_EQ(exchange.Owner(), owner);
  EXPECT_EQ(exchange.Request().Owner(), owner);
  EXPECT_EQ(exchange.Response().Owner(), owner);
  EXPECT_EQ(exchange.Request().Route(), hrDirect);
  EXPECT_EQ(exchange.Request().BodySource(), nullptr);
  EXPECT_EQ(exchange.Response().BodyStream(), nullptr);
  // The records start with their kind's defaults.
  EXPECT_EQ(exchange.Request().UserAgent(), "Mozilla/3.0 (compatible; Orvane Library)");
  EXPECT_EQ(exchange.Response().ContentType(), "text/html");
  EXPECT_EQ(exchange.Response().ContentLength(), -1);
}

}  // namespace
}  // namespace ah
