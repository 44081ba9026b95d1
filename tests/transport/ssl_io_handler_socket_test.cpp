#include "transport/ssl_io_handler_socket.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "tests/support/scripted_server.h"
#include "tests/support/tls_test_server.h"
#include "tests/transport/handler_reads.h"
#include "transport/exceptions.h"

namespace ah {
namespace {

using test::CertificateFiles;
using test::TestCertificates;
using test::TlsScript;
using test::TlsServer;

// One authority for the whole suite: key generation is the slow part.
TestCertificates& Pki() {
  static TestCertificates pki;
  return pki;
}

const CertificateFiles& SiteCertificate() {
  static CertificateFiles files = Pki().Issue("site", {"localhost", "127.0.0.1"});
  return files;
}

std::unique_ptr<TIdSSLIOHandlerSocket> TlsHandler() {
  auto handler = std::make_unique<TIdSSLIOHandlerSocket>(nullptr);
  handler->SetCAFile(Pki().CAFile());
  handler->SetPassThrough(false);
  return handler;
}

void Connect(TIdSSLIOHandlerSocket& handler, const std::string& host, int port,
             int timeout = 0) {
  handler.PrepareOpen();
  handler.ConnectToServer(host, port, timeout, 0, 0, 0, "");
}

void SendAll(TIdIOHandler& handler, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int n = handler.SendRaw(bytes.data() + sent, int(bytes.size() - sent));
    ASSERT_GT(n, 0);
    sent += size_t(n);
  }
}

using test::Receive;

std::string ReceiveUntil(TIdIOHandler& handler, const std::string& marker) {
  std::string result;
  char c;
  while (result.find(marker) == std::string::npos && handler.ReceiveRaw(&c, 1) == 1) result += c;
  return result;
}

TEST(SSLIOHandlerSocket, StartsInPassThroughAndCarriesPlainBytesThen) {
  test::ScriptedServer server({test::Script().ReadUntil("\n").Send("plain\n").Close()});
  TIdSSLIOHandlerSocket handler(nullptr);
  EXPECT_TRUE(handler.PassThrough());
  Connect(handler, "127.0.0.1", server.Port());
  EXPECT_FALSE(handler.TLSActive());
  SendAll(handler, "ping\n");
  EXPECT_EQ(Receive(handler, 6), "plain\n");
  EXPECT_EQ(server.Received(0), "ping\n");
}

TEST(SSLIOHandlerSocket, HandshakeOnConnectThenEcho) {
  TlsServer server(SiteCertificate(), {TlsScript().Echo()});
  auto handler = TlsHandler();
  Connect(*handler, "localhost", server.Port());
  ASSERT_TRUE(handler->TLSActive());
  EXPECT_EQ(handler->SessionDescription().rfind("TLSv1.3 ", 0), 0u)
      << handler->SessionDescription();
  std::string big(100000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7);
  SendAll(*handler, "hello\n" + big);
  EXPECT_EQ(Receive(*handler, 6 + big.size()), "hello\n" + big);
  handler->CloseHandler();
  EXPECT_FALSE(handler->IsOpen());
  EXPECT_FALSE(handler->TLSActive());
  EXPECT_EQ(server.Received(0), "hello\n" + big);
  EXPECT_TRUE(server.ClientSentCloseNotify(0));
}

TEST(SSLIOHandlerSocket, DottedAddressIsCheckedAgainstTheAddressEntry) {
  TlsServer server(SiteCertificate(), {TlsScript().Echo()});
  auto handler = TlsHandler();
  Connect(*handler, "127.0.0.1", server.Port(), 5000);
  ASSERT_TRUE(handler->TLSActive());
  SendAll(*handler, "a");
  EXPECT_EQ(Receive(*handler, 1), "a");
}

TEST(SSLIOHandlerSocket, RefusesBadCertificatesBeforeSendingAnything) {
  TestCertificates& pki = Pki();
  struct Case {
    const char* what;
    CertificateFiles cert;
    const char* host;
    std::string reason;
    long code;
  } cases[] = {
      {"expired", pki.Issue("expired", {"localhost"}, TestCertificates::kExpired), "localhost",
       "certificate verify failed (certificate has expired)", 10},
      {"not yet valid", pki.Issue("future", {"localhost"}, TestCertificates::kNotYetValid),
       "localhost", "certificate verify failed (certificate is not yet valid)", 9},
      {"wrong host name", pki.Issue("other", {"other.example"}), "localhost",
       "certificate verify failed (hostname mismatch)", 62},
      {"wrong address", pki.Issue("other-ip", {"localhost", "127.0.0.2"}), "127.0.0.1",
       "certificate verify failed (IP address mismatch)", 64},
      {"unknown authority", pki.IssueByStranger("stranger", {"localhost"}), "localhost",
       "certificate verify failed (self-signed certificate in certificate chain)", 19},
  };
  for (const Case& c : cases) {
    for (int timeout : {0, 5000}) {
      SCOPED_TRACE(std::string(c.what) + ", time-out " + std::to_string(timeout));
      TlsServer server(c.cert, {TlsScript().StaySilent()});
      auto handler = TlsHandler();
      try {
        Connect(*handler, c.host, server.Port(), timeout);
        ADD_FAILURE() << "connected";
      } catch (const EIdSSLProtocolReplyError& e) {
        EXPECT_EQ(std::string(e.what()), std::string("TLS handshake with ") + c.host + ":" +
                                             std::to_string(server.Port()) + " failed: " +
                                             c.reason);
        EXPECT_EQ(e.ReplyCode(), c.code);
      }
      EXPECT_FALSE(handler->IsOpen());
      EXPECT_FALSE(server.HandshakeSucceeded(0));
      EXPECT_EQ(server.Received(0), "");
    }
  }
}

TEST(SSLIOHandlerSocket, InsecureSkipsEveryCheck) {
  TlsServer server(Pki().IssueByStranger("stranger-insecure", {"other.example"}),
                   {TlsScript().Echo()});
  TIdSSLIOHandlerSocket handler(nullptr);
  handler.SetInsecure(true);
  handler.SetPassThrough(false);
  Connect(handler, "localhost", server.Port());
  ASSERT_TRUE(handler.TLSActive());
  SendAll(handler, "ok");
  EXPECT_EQ(Receive(handler, 2), "ok");
}

TEST(SSLIOHandlerSocket, VerifyHostNameReplacesTheConnectedName) {
  TlsServer server(Pki().Issue("named", {"test.example"}), {TlsScript().Echo()});
  auto handler = TlsHandler();
  handler->SetVerifyHostName("test.example");
  Connect(*handler, "127.0.0.1", server.Port());
  EXPECT_TRUE(handler->TLSActive());
}

TEST(SSLIOHandlerSocket, UnreadableCAFileIsReportedAtTheHandshake) {
  TlsServer server(SiteCertificate(), {TlsScript().StaySilent()});
  auto handler = TlsHandler();
  handler->SetCAFile(Pki().Folder() + "/missing.pem");
  try {
    Connect(*handler, "localhost", server.Port());
    ADD_FAILURE() << "connected";
  } catch (const EIdSSLProtocolReplyError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot load trusted certificates from \"" +
                                         Pki().Folder() + "/missing.pem\""),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(handler->IsOpen());
}

TEST(SSLIOHandlerSocket, RefusesServersOfferingOnlyOldProtocols) {
  TlsServer server(SiteCertificate(), {TlsScript().StaySilent()}, {TLS1_1_VERSION});
  auto handler = TlsHandler();
  try {
    Connect(*handler, "localhost", server.Port());
    ADD_FAILURE() << "connected";
  } catch (const EIdSSLProtocolReplyError& e) {
    EXPECT_NE(std::string(e.what()).find("failed: "), std::string::npos) << e.what();
    EXPECT_EQ(e.ReplyCode(), 0);
  }
  EXPECT_FALSE(handler->IsOpen());
}

TEST(SSLIOHandlerSocket, PlainServerFailsTheHandshake) {
  test::ScriptedServer server({test::Script().ReadBytes(5).Send("HTTP/1.0 400 Bad\r\n\r\n")});
  auto handler = TlsHandler();
  EXPECT_THROW(Connect(*handler, "localhost", server.Port()), EIdSSLProtocolReplyError);
  EXPECT_FALSE(handler->IsOpen());
  // A ClientHello record, not request bytes.
  EXPECT_EQ(server.Received(0).substr(0, 1), "\x16");
}

TEST(SSLIOHandlerSocket, SilentServerTimesTheHandshakeOut) {
  test::ScriptedServer server({test::Script().StaySilent()});
  auto handler = TlsHandler();
  try {
    Connect(*handler, "localhost", server.Port(), 300);
    ADD_FAILURE() << "connected";
  } catch (const EIdSSLProtocolReplyError& e) {
    EXPECT_EQ(std::string(e.what()), "TLS handshake with localhost:" +
                                         std::to_string(server.Port()) + " failed: timed out");
  }
  EXPECT_FALSE(handler->IsOpen());
}

TEST(SSLIOHandlerSocket, HandshakeWithoutATimeOutEndsAtTheHandshakeTimeout) {
  EXPECT_EQ(TIdSSLIOHandlerSocket(nullptr).HandshakeTimeout(), 60000);
  // No time-out, the connection's (which the handler cannot see), none at all.
  for (int timeout : {0, UseReadTimeout, WaitForever}) {
    SCOPED_TRACE(timeout);
    test::ScriptedServer server({test::Script().StaySilent()});
    auto handler = TlsHandler();
    handler->SetHandshakeTimeout(300);
    try {
      Connect(*handler, "localhost", server.Port(), timeout);
      ADD_FAILURE() << "connected";
    } catch (const EIdSSLProtocolReplyError& e) {
      EXPECT_EQ(std::string(e.what()), "TLS handshake with localhost:" +
                                           std::to_string(server.Port()) + " failed: timed out");
    }
    EXPECT_FALSE(handler->IsOpen());
  }
}

TEST(SSLIOHandlerSocket, EmptyServerNameIsRefusedBeforeTheHandshake) {
  struct Case {
    const char* name;
    bool insecure;
    std::string verify_host_name;
    bool refused;
  };
  const Case cases[] = {
      {"checked", false, "", true},
      {"checked against VerifyHostName", false, "localhost", false},
      {"insecure: nothing to check", true, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TlsServer server(SiteCertificate(), {TlsScript()
                                             .ReadUntil("\r\n\r\n")
                                             .Send("HTTP/1.0 200 OK\r\n\r\n")
                                             .StartTls()
                                             .Echo()});
    TIdSSLIOHandlerSocket handler(nullptr);
    handler.SetCAFile(Pki().CAFile());
    handler.SetInsecure(c.insecure);
    handler.SetVerifyHostName(c.verify_host_name);
    Connect(handler, "127.0.0.1", server.Port());
    SendAll(handler, "CONNECT :443 HTTP/1.0\r\n\r\n");
    ReceiveUntil(handler, "\r\n\r\n");
    handler.SetServerName("");
    if (c.refused) {
      try {
        handler.SetPassThrough(false);
        ADD_FAILURE() << "handshake ran";
      } catch (const EIdSSLProtocolReplyError& e) {
        EXPECT_EQ(std::string(e.what()), "TLS handshake with :" + std::to_string(server.Port()) +
                                             " failed: no server name to check the certificate "
                                             "against");
      }
      EXPECT_FALSE(handler.IsOpen());
      EXPECT_EQ(server.Received(0), "");
    } else {
      handler.SetPassThrough(false);
      ASSERT_TRUE(handler.TLSActive());
      SendAll(handler, "ok");
      EXPECT_EQ(Receive(handler, 2), "ok");
    }
  }
}

TEST(SSLIOHandlerSocket, DecryptedBytesHeldByOpenSSLCountAsReadable) {
  TlsServer server(SiteCertificate(), {TlsScript().SendPattern(1000).StaySilent()});
  auto handler = TlsHandler();
  Connect(*handler, "localhost", server.Port());
  ASSERT_TRUE(handler->WaitReadable(5000));
  char buffer[2000];
  ASSERT_EQ(handler->ReceiveRaw(buffer, 10), 10);
  // The socket is drained; the other 990 bytes sit decrypted in OpenSSL.
  EXPECT_TRUE(handler->WaitReadable(0));
  EXPECT_EQ(handler->ReceiveRaw(buffer, sizeof buffer), 990);
  EXPECT_FALSE(handler->WaitReadable(0));
}

TEST(SSLIOHandlerSocket, RecordsWithoutDataDoNotCountAsReadable) {
  // A TLS 1.3 server sends session tickets after the handshake: the socket
  // turns readable, yet there is nothing for the caller.
  TlsServer server(SiteCertificate(), {TlsScript().StaySilent()});
  auto handler = TlsHandler();
  Connect(*handler, "localhost", server.Port());
  EXPECT_FALSE(handler->WaitReadable(100));
  EXPECT_TRUE(handler->IsOpen());
}

TEST(SSLIOHandlerSocket, PeerClosingWithOrWithoutCloseNotifyReadsAsClosed) {
  for (bool notify : {true, false}) {
    SCOPED_TRACE(notify ? "close_notify" : "no close_notify");
    TlsScript script = TlsScript().Send("12345");
    if (notify)
      script.Close();
    else
      script.CloseWithoutNotify();
    TlsServer server(SiteCertificate(), {script});
    auto handler = TlsHandler();
    Connect(*handler, "localhost", server.Port());
    EXPECT_EQ(Receive(*handler, 100), "12345");
    EXPECT_TRUE(handler->WaitReadable(0));
    char c;
    EXPECT_EQ(handler->ReceiveRaw(&c, 1), 0);
    handler->CloseHandler();
    EXPECT_FALSE(handler->IsOpen());
    // Only the truncating peer's end is marked, and the mark outlives the close.
    EXPECT_EQ(handler->ClosedWithoutNotify(), !notify);
  }
}

TEST(SSLIOHandlerSocket, SwitchingPassThroughOffOnAnOpenConnectionRunsTheHandshake) {
  // A proxy's CONNECT exchange in plain text, then TLS to the origin.
  TlsServer server(SiteCertificate(),
                   {TlsScript()
                        .ReadUntil("\r\n\r\n")
                        .Send("HTTP/1.0 200 Connection established\r\n\r\n")
                        .StartTls()
                        .Echo()});
  TIdSSLIOHandlerSocket handler(nullptr);
  handler.SetCAFile(Pki().CAFile());
  Connect(handler, "127.0.0.1", server.Port());
  EXPECT_EQ(handler.ServerName(), "127.0.0.1");
  SendAll(handler, "CONNECT localhost:443 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(ReceiveUntil(handler, "\r\n\r\n"), "HTTP/1.0 200 Connection established\r\n\r\n");
  handler.SetServerName("localhost");
  handler.SetPassThrough(false);
  ASSERT_TRUE(handler.TLSActive());
  SendAll(handler, "inside");
  EXPECT_EQ(Receive(handler, 6), "inside");
  handler.CloseHandler();
  EXPECT_EQ(server.ReceivedPlain(0), "CONNECT localhost:443 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(server.Received(0), "inside");
}

TEST(SSLIOHandlerSocket, TunnelHandshakeFailureClosesTheConnection) {
  TlsServer server(Pki().Issue("tunnel-expired", {"localhost"}, TestCertificates::kExpired),
                   {TlsScript()
                        .ReadUntil("\r\n\r\n")
                        .Send("HTTP/1.0 200 OK\r\n\r\n")
                        .StartTls()
                        .StaySilent()});
  TIdSSLIOHandlerSocket handler(nullptr);
  handler.SetCAFile(Pki().CAFile());
  Connect(handler, "127.0.0.1", server.Port());
  SendAll(handler, "CONNECT localhost:443 HTTP/1.0\r\n\r\n");
  ReceiveUntil(handler, "\r\n\r\n");
  handler.SetServerName("localhost");
  EXPECT_THROW(handler.SetPassThrough(false), EIdSSLProtocolReplyError);
  EXPECT_FALSE(handler.IsOpen());
  EXPECT_EQ(server.ReceivedPlain(0), "CONNECT localhost:443 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(server.Received(0), "");
}

TEST(SSLIOHandlerSocket, SwitchingBackToPassThroughEndsTheSession) {
  TlsServer server(SiteCertificate(), {TlsScript().StaySilent()});
  auto handler = TlsHandler();
  Connect(*handler, "localhost", server.Port());
  ASSERT_TRUE(handler->TLSActive());
  handler->SetPassThrough(true);
  EXPECT_FALSE(handler->IsOpen());
  EXPECT_TRUE(server.ClientSentCloseNotify(0));
}

TEST(SSLIOHandlerSocket, NextConnectionToTheSamePeerResumesTheSession) {
  TlsServer server(SiteCertificate(), {TlsScript().Echo()});
  auto handler = TlsHandler();
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    Connect(*handler, "localhost", server.Port());
    EXPECT_EQ(handler->SessionReused(), i == 1);
    SendAll(*handler, "x");
    EXPECT_EQ(Receive(*handler, 1), "x");
    handler->CloseHandler();
  }
  // Another name for the same server is another peer.
  Connect(*handler, "127.0.0.1", server.Port());
  EXPECT_FALSE(handler->SessionReused());
}

}  // namespace
}  // namespace ah
