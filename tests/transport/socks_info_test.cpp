#include "transport/socks_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/scripted_server.h"
#include "tests/support/socks_proxy.h"
#include "tests/transport/byte_string.h"
#include "transport/exceptions.h"
#include "transport/io_handler_socket.h"
#include "transport/tcp_client.h"

namespace ah {
namespace {

using test::Bytes;
using test::Script;
using test::ScriptedServer;

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

const std::string kGranted4 = Bytes({0, 90, 0, 0, 0, 0, 0, 0});
const std::string kMethodNone = Bytes({5, 0});
const std::string kMethodLogin = Bytes({5, 2});
const std::string kLoginOk = Bytes({1, 0});
const std::string kConnected5 = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x1f, 0x90});

// A socket handler whose SOCKS settings point at a scripted proxy.
struct ProxiedHandler {
  TIdIOHandlerSocket handler{nullptr};
  ProxiedHandler(int proxy_port, TSocksVersion version) {
    TIdSocksInfo* socks = handler.SocksInfo();
    socks->SetHost("127.0.0.1");
    socks->SetPort(proxy_port);
    socks->SetVersion(version);
    handler.PrepareOpen();
  }
  TIdSocksInfo& Socks() { return *handler.SocksInfo(); }
  void Connect(const std::string& host, int port, int timeout = 0) {
    handler.ConnectToServer(host, port, timeout, 0, 0, 0, "");
  }
  std::string Receive(int count) {
    std::string out(size_t(count), '\0');
    int got = 0;
    while (got < count) {
      int n = handler.ReceiveRaw(out.data() + got, count - got);
      if (n <= 0) break;
      got += n;
    }
    out.resize(size_t(got));
    return out;
  }
  void Send(const std::string& bytes) { handler.SendRaw(bytes.data(), int(bytes.size())); }
};

// Hands the proxy's answer over in pieces of at most `piece` bytes and
// takes at most `send_piece` bytes per send, as a slow link may.
class PiecewiseHandler : public TIdIOHandler {
 public:
  PiecewiseHandler(std::string answer, int piece, int send_piece)
      : TIdIOHandler(nullptr), answer_(std::move(answer)), piece_(piece), send_piece_(send_piece) {}
  bool IsOpen() override { return true; }
  bool WaitReadable(int) override { return true; }
  int ReceiveRaw(void* buffer, int length) override {
    int n = std::min({length, piece_, int(answer_.size() - offset_)});
    std::memcpy(buffer, answer_.data() + offset_, size_t(n));
    offset_ += size_t(n);
    ++receives;
    return n;
  }
  int SendRaw(const void* buffer, int length) override {
    int n = std::min(length, send_piece_);
    sent.append(static_cast<const char*>(buffer), size_t(n));
    return n;
  }
  std::string Unread() const { return answer_.substr(offset_); }

  std::string sent;
  int receives = 0;

 private:
  std::string answer_;
  size_t offset_ = 0;
  int piece_;
  int send_piece_;
};

struct RequestCase {
  const char* name;
  TSocksVersion version;
  TSocksAuthentication auth;
  std::string user, password, host;
  int port;
  std::string answer;
  std::string request;
};

TEST(SocksInfo, SendsTheRequestBytesOfEachHandshake) {
  const std::vector<RequestCase> cases = {
      {"4A, no user id", svSocks4A, saNoAuthentication, "", "", "example.org", 80, kGranted4,
       Bytes({4, 1, 0, 80, 0, 0, 0, 1, 0}) + "example.org" + Bytes({0})},
      {"4A with user id", svSocks4A, saNoAuthentication, "fred", "", "a.b", 443, kGranted4,
       Bytes({4, 1, 1, 187, 0, 0, 0, 1}) + "fred" + Bytes({0}) + "a.b" + Bytes({0})},
      {"4 with a dotted address", svSocks4, saNoAuthentication, "fred", "", "10.1.2.3", 8080,
       kGranted4, Bytes({4, 1, 0x1f, 0x90, 10, 1, 2, 3}) + "fred" + Bytes({0})},
      {"4 resolves localhost here", svSocks4, saNoAuthentication, "", "", "localhost", 21,
       kGranted4, Bytes({4, 1, 0, 21, 127, 0, 0, 1, 0})},
      {"5 without authentication", svSocks5, saNoAuthentication, "", "", "example.org", 80,
       kMethodNone + kConnected5,
       Bytes({5, 1, 0}) + Bytes({5, 1, 0, 3, 11}) + "example.org" + Bytes({0, 80})},
      {"5 sends a dotted host as a name", svSocks5, saNoAuthentication, "", "", "10.0.0.1",
       65535, kMethodNone + kConnected5,
       Bytes({5, 1, 0}) + Bytes({5, 1, 0, 3, 8}) + "10.0.0.1" + Bytes({0xff, 0xff})},
      {"5 with user name and password", svSocks5, saUsernamePassword, "fred", "secret",
       "example.org", 80, kMethodLogin + kLoginOk + kConnected5,
       Bytes({5, 1, 2}) + Bytes({1, 4}) + "fred" + Bytes({6}) + "secret" +
           Bytes({5, 1, 0, 3, 11}) + "example.org" + Bytes({0, 80})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer proxy({Script().Send(c.answer).ReadAll()});
    // The proxy answers at once; it reads what arrives until the client
    // closes, so the whole request is recorded however it was split.
    ProxiedHandler p(proxy.Port(), c.version);
    p.Socks().SetAuthentication(c.auth);
    p.Socks().SetUsername(c.user);
    p.Socks().SetPassword(c.password);
    p.Connect(c.host, c.port);
    p.handler.CloseHandler();
    EXPECT_EQ(Hex(proxy.Received(0)), Hex(c.request));
  }
}

TEST(SocksInfo, HandlerConnectsToTheProxyAndLeavesTheNameToIt) {
  ScriptedServer proxy({Script().ReadBytes(3).Send(kMethodNone).ReadBytes(18).Send(kConnected5)
                            .ReadBytes(4).Send("pong").Close()});
  ProxiedHandler p(proxy.Port(), svSocks5);
  std::vector<std::string> status;
  p.handler.SetOnStatus([&](TComponent*, TIdStatus, const std::string& text) {
    status.push_back(text);
  });
  p.Connect("example.org", 80);
  // No lookup of example.org: the only target ever resolved is the proxy.
  EXPECT_EQ(status, std::vector<std::string>{"Connecting to 127.0.0.1."});
  EXPECT_EQ(p.handler.SocketBinding()->RemotePort(), proxy.Port());
  p.Send("ping");
  EXPECT_EQ(p.Receive(4), "pong");
  EXPECT_EQ(proxy.Received(0).substr(21), "ping");
}

TEST(SocksInfo, NoSocksConnectsStraightToTheServer) {
  ScriptedServer server({Script().Send("hi").Close()});
  TIdIOHandlerSocket handler(nullptr);
  handler.SocksInfo()->SetHost("192.0.2.1");  // ignored without a version
  handler.PrepareOpen();
  handler.ConnectToServer("127.0.0.1", server.Port(), 0, 0, 0, 0, "");
  char buf[2];
  ASSERT_EQ(handler.ReceiveRaw(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "hi");
}

struct BoundAddressCase {
  const char* name;
  std::string reply;
};

TEST(SocksInfo, Socks5BoundAddressIsConsumedWhole) {
  const std::vector<BoundAddressCase> cases = {
      {"IPv4", Bytes({5, 0, 0, 1, 10, 0, 0, 1, 0x12, 0x34})},
      {"domain name", Bytes({5, 0, 0, 3, 9}) + "proxy.lan" + Bytes({0x12, 0x34})},
      {"IPv6", Bytes({5, 0, 0, 4}) + std::string(16, '\x01') + Bytes({0x12, 0x34})},
      {"empty domain name", Bytes({5, 0, 0, 3, 0, 0x12, 0x34})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer proxy({Script().ReadBytes(3).Send(kMethodNone).ReadBytes(10)
                              .Send(c.reply + "HELLO").Close()});
    ProxiedHandler p(proxy.Port(), svSocks5);
    p.Connect("a.b", 25);
    // The server's first bytes arrive untouched behind the proxy's answer.
    EXPECT_EQ(p.Receive(5), "HELLO");
  }
}

struct ReplyCodeCase {
  int code;
  const char* class_name;
  const char* message;
};

void ExpectSocksError(const std::function<void()>& run, const char* class_name,
                      const char* message) {
  try {
    run();
    ADD_FAILURE() << "no exception, expected " << class_name;
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.ClassName(), class_name);
    EXPECT_EQ(e.Message(), message);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "not a socks error: " << e.what();
  }
}

TEST(SocksInfo, Socks4ResultCodesRaiseTheirClasses) {
  const std::vector<ReplyCodeCase> cases = {
      {91, "EIdSocksRequestFailed", "Request rejected or failed."},
      {92, "EIdSocksRequestServerFailed", "Request rejected because SOCKS server cannot connect."},
      {93, "EIdSocksRequestIdentFailed",
       "Request rejected because the client program and identd report different user-ids."},
      {0, "EIdSocksUnknownError", "Unknown socks error."},
      {94, "EIdSocksUnknownError", "Unknown socks error."},
      {255, "EIdSocksUnknownError", "Unknown socks error."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    ScriptedServer proxy({Script().ReadBytes(9).Send(Bytes({0, c.code, 0, 0, 0, 0, 0, 0}))
                              .Close()});
    ProxiedHandler p(proxy.Port(), svSocks4);
    ExpectSocksError([&] { p.Connect("127.0.0.1", 80); }, c.class_name, c.message);
  }
}

TEST(SocksInfo, Socks5ReplyCodesRaiseTheirClasses) {
  const std::vector<ReplyCodeCase> cases = {
      {1, "EIdSocksServerGeneralError", "General SOCKS server failure."},
      {2, "EIdSocksServerPermissionError", "Connection not allowed by ruleset."},
      {3, "EIdSocksServerNetUnreachableError", "Network unreachable."},
      {4, "EIdSocksServerHostUnreachableError", "Host unreachable."},
      {5, "EIdSocksServerConnectionRefusedError", "Connection refused."},
      {6, "EIdSocksServerTTLExpiredError", "TTL expired."},
      {7, "EIdSocksServerCommandError", "Command not supported."},
      {8, "EIdSocksServerAddressError", "Address type not supported."},
      {9, "EIdSocksUnknownError", "Unknown socks error."},
      {255, "EIdSocksUnknownError", "Unknown socks error."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    ScriptedServer proxy({Script().ReadBytes(3).Send(kMethodNone).ReadBytes(10)
                              .Send(Bytes({5, c.code, 0, 1, 0, 0, 0, 0, 0, 0})).Close()});
    ProxiedHandler p(proxy.Port(), svSocks5);
    ExpectSocksError([&] { p.Connect("a.b", 80); }, c.class_name, c.message);
  }
}

struct RefusalCase {
  const char* name;
  TSocksAuthentication auth;
  Script script;
  const char* class_name;
  const char* message;
};

TEST(SocksInfo, Socks5RefusalsAndSilentProxies) {
  const char* kNoAnswer = "Socks server did not respond.";
  const std::vector<RefusalCase> cases = {
      {"no acceptable method", saNoAuthentication,
       Script().ReadBytes(3).Send(Bytes({5, 255})).Close(), "EIdSocksAuthMethodError",
       "Invalid socks authentication method."},
      {"login chosen though none was offered", saNoAuthentication,
       Script().ReadBytes(3).Send(kMethodLogin).Close(), "EIdSocksAuthMethodError",
       "Invalid socks authentication method."},
      {"no login chosen though it was offered", saUsernamePassword,
       Script().ReadBytes(3).Send(kMethodNone).Close(), "EIdSocksAuthMethodError",
       "Invalid socks authentication method."},
      {"login refused", saUsernamePassword,
       Script().ReadBytes(3).Send(kMethodLogin).ReadBytes(5).Send(Bytes({1, 1})).Close(),
       "EIdSocksAuthError", "Authentication error to socks server."},
      {"closes before the method answer", saNoAuthentication, Script().ReadBytes(3).Close(),
       "EIdSocksServerRespondError", kNoAnswer},
      {"closes inside the method answer", saNoAuthentication,
       Script().ReadBytes(3).Send(Bytes({5})).Close(), "EIdSocksServerRespondError", kNoAnswer},
      {"resets before the method answer", saNoAuthentication, Script().ReadBytes(3).Reset(),
       "EIdSocksServerRespondError", kNoAnswer},
      {"closes before the login answer", saUsernamePassword,
       Script().ReadBytes(3).Send(kMethodLogin).ReadBytes(5).Close(),
       "EIdSocksServerRespondError", kNoAnswer},
      {"closes before the connect answer", saNoAuthentication,
       Script().ReadBytes(3).Send(kMethodNone).ReadBytes(10).Close(),
       "EIdSocksServerRespondError", kNoAnswer},
      {"closes inside the bound address", saNoAuthentication,
       Script().ReadBytes(3).Send(kMethodNone).ReadBytes(10)
           .Send(Bytes({5, 0, 0, 3, 20}) + "short").Close(),
       "EIdSocksServerRespondError", kNoAnswer},
      // The connect time-out bounds the handshake.
      {"stays silent", saNoAuthentication, Script().StaySilent(), "EIdConnectTimeout",
       "Connect timed out."},
      {"stays silent after the login", saUsernamePassword,
       Script().ReadBytes(3).Send(kMethodLogin).ReadBytes(5).Send(kLoginOk).StaySilent(),
       "EIdConnectTimeout", "Connect timed out."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer proxy({c.script});
    ProxiedHandler p(proxy.Port(), svSocks5);
    p.Socks().SetAuthentication(c.auth);
    p.Socks().SetUsername("u");
    p.Socks().SetPassword("p");
    ExpectSocksError([&] { p.Connect("a.b", 80, 500); }, c.class_name, c.message);
  }
}

TEST(SocksInfo, Socks4ProxyThatClosesEarlyDidNotRespond) {
  const std::vector<Script> scripts = {
      Script().ReadBytes(9).Close(),
      Script().ReadBytes(9).Send(Bytes({0})).Close(),
      Script().ReadBytes(9).Send(Bytes({0, 90, 0, 0})).Close(),
  };
  for (size_t i = 0; i < scripts.size(); ++i) {
    SCOPED_TRACE("script " + std::to_string(i));
    ScriptedServer proxy({scripts[i]});
    ProxiedHandler p(proxy.Port(), svSocks4);
    ExpectSocksError([&] { p.Connect("127.0.0.1", 80); }, "EIdSocksServerRespondError",
                     "Socks server did not respond.");
  }
  // A refusal is reported as such even when the proxy hangs up right after
  // the code.
  ScriptedServer proxy({Script().ReadBytes(9).Send(Bytes({0, 91})).Close()});
  ProxiedHandler p(proxy.Port(), svSocks4);
  ExpectSocksError([&] { p.Connect("127.0.0.1", 80); }, "EIdSocksRequestFailed",
                   "Request rejected or failed.");
}

TEST(SocksInfo, AnswersSplitIntoSingleBytesAreReassembled) {
  struct Case {
    const char* name;
    TSocksVersion version;
    TSocksAuthentication auth;
    std::string answer;
    std::string request;
  };
  const std::vector<Case> cases = {
      {"4A", svSocks4A, saNoAuthentication, kGranted4,
       Bytes({4, 1, 0, 80, 0, 0, 0, 1}) + "u" + Bytes({0}) + "a.b" + Bytes({0})},
      {"5 with login", svSocks5, saUsernamePassword, kMethodLogin + kLoginOk + kConnected5,
       Bytes({5, 1, 2, 1, 1}) + "u" + Bytes({1}) + "p" + Bytes({5, 1, 0, 3, 3}) + "a.b" +
           Bytes({0, 80})},
      {"5 with a named bound address", svSocks5, saNoAuthentication,
       kMethodNone + Bytes({5, 0, 0, 3, 4}) + "host" + Bytes({0, 1}),
       Bytes({5, 1, 0, 5, 1, 0, 3, 3}) + "a.b" + Bytes({0, 80})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PiecewiseHandler handler(c.answer + "greeting", 1, 2);
    TIdSocksInfo socks(nullptr);
    socks.SetOwnerHandler(&handler);
    socks.SetVersion(c.version);
    socks.SetAuthentication(c.auth);
    socks.SetUsername("u");
    socks.SetPassword("p");
    socks.NegotiateSocks("a.b", 80);
    EXPECT_EQ(Hex(handler.sent), Hex(c.request));
    // Nothing of what follows the handshake was taken by it.
    EXPECT_EQ(handler.Unread(), "greeting");
  }
}

TEST(SocksInfo, FieldsTooLongForTheirLengthByteAreRefusedBeforeSending) {
  const std::string k255(255, 'x');
  const std::string k256(256, 'x');
  struct Case {
    const char* name;
    TSocksVersion version;
    std::string user, password, host;
    const char* message;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"5 user name of 256", svSocks5, k256, "p", "a.b", "Socks user name is longer than 255 bytes."},
      {"5 password of 256", svSocks5, "u", k256, "a.b", "Socks password is longer than 255 bytes."},
      {"5 host name of 256", svSocks5, "u", "p", k256, "Socks host name is longer than 255 bytes."},
      {"4A host name of 256", svSocks4A, "u", "", k256, "Socks host name is longer than 255 bytes."},
      {"4 user id of 256", svSocks4, k256, "", "127.0.0.1", "Socks user id is longer than 255 bytes."},
      {"4A user id with a NUL", svSocks4A, std::string("a\0b", 3), "", "a.b",
       "Socks user id must not contain a NUL byte."},
      {"4A host with a NUL", svSocks4A, "", "", std::string("a\0b", 3),
       "Socks host name must not contain a NUL byte."},
      {"5 fields of 255", svSocks5, k255, k255, k255, ""},
      {"4A fields of 255", svSocks4A, k255, "", k255, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PiecewiseHandler handler(c.version == svSocks5 ? kMethodLogin + kLoginOk + kConnected5
                                                   : kGranted4,
                             64, 1024);
    TIdSocksInfo socks(nullptr);
    socks.SetOwnerHandler(&handler);
    socks.SetVersion(c.version);
    socks.SetAuthentication(saUsernamePassword);
    socks.SetUsername(c.user);
    socks.SetPassword(c.password);
    if (*c.message) {
      try {
        socks.NegotiateSocks(c.host, 80);
        ADD_FAILURE() << "accepted";
      } catch (const EIdSocksError& e) {
        EXPECT_STREQ(e.ClassName(), "EIdSocksError");
        EXPECT_EQ(e.Message(), c.message);
      }
      EXPECT_EQ(handler.sent, "");
    } else {
      EXPECT_NO_THROW(socks.NegotiateSocks(c.host, 80));
      EXPECT_NE(handler.sent.find(k255), std::string::npos);
    }
  }
}

TEST(SocksInfo, CopyTakesAllSixSettingsButNotTheHandler) {
  PiecewiseHandler handler("", 1, 1);
  TIdSocksInfo from(nullptr), to(nullptr);
  from.SetAuthentication(saUsernamePassword);
  from.SetHost("proxy");
  from.SetPassword("pw");
  from.SetPort(1081);
  from.SetUsername("me");
  from.SetVersion(svSocks4A);
  from.SetOwnerHandler(&handler);
  to.Assign(from);
  EXPECT_EQ(to.Authentication(), saUsernamePassword);
  EXPECT_EQ(to.Host(), "proxy");
  EXPECT_EQ(to.Password(), "pw");
  EXPECT_EQ(to.Port(), 1081);
  EXPECT_EQ(to.Username(), "me");
  EXPECT_EQ(to.Version(), svSocks4A);
  EXPECT_EQ(to.OwnerHandler(), nullptr);
}

// Against a real proxy: microsocks forwards to a scripted server.
TEST(SocksInfo, MicrosocksCarriesAnExchangeWithoutAuthentication) {
  test::SocksProxy proxy;
  if (!proxy.Running()) GTEST_SKIP() << proxy.Failure();
  ScriptedServer server({Script().ReadBytes(4).Send("pong").ReadAll()});
  ProxiedHandler p(proxy.Port(), svSocks5);
  p.Connect("127.0.0.1", server.Port());
  p.Send("ping");
  EXPECT_EQ(p.Receive(4), "pong");
  p.handler.CloseHandler();
  EXPECT_EQ(server.Received(0), "ping");
}

TEST(SocksInfo, MicrosocksWithLogin) {
  test::SocksProxy proxy("harvest", "s3cret");
  if (!proxy.Running()) GTEST_SKIP() << proxy.Failure();
  ScriptedServer server({Script().ReadBytes(4).Send("pong").ReadAll()});
  {
    ProxiedHandler p(proxy.Port(), svSocks5);
    p.Socks().SetAuthentication(saUsernamePassword);
    p.Socks().SetUsername("harvest");
    p.Socks().SetPassword("s3cret");
    p.Connect("127.0.0.1", server.Port());
    p.Send("ping");
    EXPECT_EQ(p.Receive(4), "pong");
  }
  {
    SCOPED_TRACE("wrong password");
    ProxiedHandler p(proxy.Port(), svSocks5);
    p.Socks().SetAuthentication(saUsernamePassword);
    p.Socks().SetUsername("harvest");
    p.Socks().SetPassword("wrong");
    ExpectSocksError([&] { p.Connect("127.0.0.1", server.Port()); }, "EIdSocksAuthError",
                     "Authentication error to socks server.");
  }
  {
    SCOPED_TRACE("no login offered");
    ProxiedHandler p(proxy.Port(), svSocks5);
    ExpectSocksError([&] { p.Connect("127.0.0.1", server.Port()); }, "EIdSocksAuthMethodError",
                     "Invalid socks authentication method.");
  }
  EXPECT_EQ(server.AcceptedCount(), 1);
}

// The client's connect step: a refusal by the proxy leaves no socket open.
TEST(SocksInfo, ClientDropsTheSocketWhenTheProxyRefuses) {
  ScriptedServer proxy({Script().ReadBytes(3).Send(kMethodNone).ReadBytes(10)
                            .Send(Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})).ReadAll()});
  TIdTCPClient client(nullptr);
  TIdIOHandlerSocket handler(nullptr);
  handler.SocksInfo()->SetVersion(svSocks5);
  handler.SocksInfo()->SetHost("127.0.0.1");
  handler.SocksInfo()->SetPort(proxy.Port());
  client.SetIOHandler(&handler);
  client.SetHost("a.b");
  client.SetPort(25);
  EXPECT_THROW(client.OpenConnection(), EIdSocksServerConnectionRefusedError);
  EXPECT_FALSE(handler.IsOpen());
  EXPECT_FALSE(client.IsConnected());
}

TEST(SocksInfo, ClientSpeaksItsProtocolThroughMicrosocks) {
  test::SocksProxy proxy("harvest", "s3cret");
  if (!proxy.Running()) GTEST_SKIP() << proxy.Failure();
  ScriptedServer server({Script().Send("220 ready\r\n").ReadUntil("\r\n")
                             .Send("250-one\r\n250 two\r\n").ReadAll()});
  TIdTCPClient client(nullptr);
  TIdIOHandlerSocket handler(nullptr);
  TIdSocksInfo* socks = handler.SocksInfo();
  socks->SetVersion(svSocks5);
  socks->SetHost("127.0.0.1");
  socks->SetPort(proxy.Port());
  socks->SetAuthentication(saUsernamePassword);
  socks->SetUsername("harvest");
  socks->SetPassword("s3cret");
  client.SetIOHandler(&handler);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.OpenConnection();
  EXPECT_EQ(client.ReadReply({220}), 220);
  EXPECT_EQ(client.SendCommand("NOOP", {250}), 250);
  EXPECT_EQ(client.LastReply().Text().Text(), "one\r\ntwo\r\n");
  client.CloseConnection();
  EXPECT_EQ(server.Received(0), "NOOP\r\n");
}

}  // namespace
}  // namespace ah
