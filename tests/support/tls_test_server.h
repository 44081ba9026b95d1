#pragma once
// TLS peers for tests: a throw-away certificate authority with the server
// certificates it signs, and a loopback TLS server that plays a script on
// every connection and records what the client sent.
//
//   TestCertificates pki;                                  // CA in a temp folder
//   auto cert = pki.Issue("site", {"localhost", "127.0.0.1"});
//   TlsServer server(cert, {TlsScript().ReadUntil("\n").Send("hi\n").Close()});
//   handler.SetCAFile(pki.CAFile());
//   ... connect to 127.0.0.1:server.Port() ...
//   EXPECT_EQ(server.Received(0), "hello\n");

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ah::test {

struct CertificateFiles {
  std::string cert_file;  // PEM: the certificate, then its issuer's
  std::string key_file;   // PEM: the private key
};

// A certificate authority made on the spot (EC P-256 keys), written with
// everything it issues into a fresh temporary folder removed with the object.
class TestCertificates {
 public:
  enum Validity { kValid, kExpired, kNotYetValid };

  TestCertificates();
  ~TestCertificates();
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  const std::string& Folder() const { return folder_; }
  // The authority's certificate, to be trusted by the client.
  std::string CAFile() const { return folder_ + "/ca.pem"; }

  // A server certificate for the names (host names, or dotted addresses
  // that become IP entries), signed by this authority.
  CertificateFiles Issue(const std::string& stem, const std::vector<std::string>& names,
                         Validity validity = kValid);
  // The same, signed by another authority that nobody trusts.
  CertificateFiles IssueByStranger(const std::string& stem,
                                   const std::vector<std::string>& names);

  struct Authority;

 private:
  CertificateFiles IssueWith(Authority& issuer, const std::string& stem,
                             const std::vector<std::string>& names, Validity validity);

  std::string folder_;
  std::unique_ptr<Authority> ca_;
  std::unique_ptr<Authority> stranger_;
  int serial_ = 1;
};

// Steps of one connection. Steps before StartTls go over the plain socket
// (a proxy's CONNECT exchange); a script without StartTls starts with the
// handshake.
class TlsScript {
 public:
  TlsScript& StartTls();
  TlsScript& Send(std::string bytes);
  // count bytes of 'a'..'z' in one write call
  TlsScript& SendPattern(int64_t count);
  TlsScript& ReadUntil(std::string marker);
  TlsScript& ReadBytes(int64_t count);
  // Sends back whatever arrives, until the client closes.
  TlsScript& Echo();
  TlsScript& Sleep(int milliseconds);
  // close_notify, then the socket is closed.
  TlsScript& Close();
  // The socket is closed without close_notify (a truncating peer).
  TlsScript& CloseWithoutNotify();
  // Reads and records until the client closes or the server goes away.
  TlsScript& StaySilent();

  struct Step {
    enum Kind { kStartTls, kSend, kReadUntil, kReadBytes, kEcho, kSleep, kClose,
                kCloseWithoutNotify, kStaySilent };
    Kind kind;
    std::string bytes;
    int64_t count = 0;
  };
  const std::vector<Step>& Steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

struct TlsServerOptions {
  // Highest protocol the server offers (OpenSSL's TLS1_x_VERSION); 0 = any.
  int max_version = 0;
};

class TlsServer {
 public:
  // Listens on 127.0.0.1 at an ephemeral port at once; connection i plays
  // scripts[i], or the last one once they run out.
  TlsServer(const CertificateFiles& certificate, std::vector<TlsScript> scripts,
            TlsServerOptions options = {});
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  int Port() const { return port_; }
  int AcceptedCount() const;
  bool WaitForAccepted(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5));

  // Each waits until connection index has ended its script (up to timeout).
  // Application bytes received over TLS.
  std::string Received(int index, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Bytes received before the handshake.
  std::string ReceivedPlain(int index);
  bool HandshakeSucceeded(int index);
  // The client ended with close_notify rather than just closing.
  bool ClientSentCloseNotify(int index);

 private:
  struct Connection;
  void AcceptLoop();
  void Play(Connection& connection, const TlsScript& script);
  Connection& WaitDone(int index, std::chrono::milliseconds timeout);

  std::vector<TlsScript> scripts_;
  void* ctx_ = nullptr;  // SSL_CTX
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::thread acceptor_;
};

}  // namespace ah::test
