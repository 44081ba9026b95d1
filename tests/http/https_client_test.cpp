// The client over TLS against an independent https server (cpp-httplib with
// OpenSSL) that uses a certificate from the test's own authority.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "framework/strings.h"
#include "http/http_client.h"
#include "tests/support/tls_test_server.h"
#include "transport/exceptions.h"
#include "transport/ssl_io_handler_socket.h"

namespace ah {
namespace {

using test::CertificateFiles;
using test::TestCertificates;

TestCertificates& Pki() {
  static TestCertificates pki;
  return pki;
}

// Runs an httplib server (plain or TLS) on 127.0.0.1 for its lifetime and
// counts the client connections that carried requests.
template <class Server>
class Running {
 public:
  template <class... Args>
  explicit Running(Args&&... args) : server_(std::forward<Args>(args)...) {
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex_);
      ports_.insert(req.remote_port);
      return httplib::Server::HandlerResponse::Unhandled;
    });
  }
  ~Running() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  Server& server() { return server_; }
  void Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int port() const { return port_; }
  int Connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(ports_.size());
  }

 private:
  Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::set<int> ports_;
};

class HttpsClient : public ::testing::Test {
 protected:
  HttpsClient()
      : cert_(Pki().Issue("https-site", {"localhost", "127.0.0.1"})),
        tls_server_(cert_.cert_file.c_str(), cert_.key_file.c_str()) {}

  void SetUp() override {
    auto& s = tls_server_.server();
    s.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("hello over tls", "text/plain");
    });
    s.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.body + "|" + req.get_header_value("Content-Type"), "text/plain");
    });
    s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset >= 300000) {
          sink.done();
          return true;
        }
        std::string piece(10000, char('a' + offset / 10000 % 26));
        sink.write(piece.data(), piece.size());
        return true;
      });
    });
    s.Get("/proxy-auth", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("[" + req.get_header_value("Proxy-Authorization") + "]", "text/plain");
    });
    s.Get("/cookies", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "secret=s1; path=/; secure");
      res.set_content("set", "text/plain");
    });
    s.Get("/show", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    // Relative redirects, as sites send them after a sign-in.
    s.Get("/hop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/hello"); });
    s.Post("/sign-in", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "session=t1; path=/");
      res.set_redirect("/landing");
    });
    s.Get("/landing", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("landed with " + req.get_header_value("Cookie"), "text/plain");
    });
    s.Get("/back", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("http://127.0.0.1:" + std::to_string(plain_.port()) + "/end");
    });
    auto& p = plain_.server();
    p.Get("/to-tls", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("https://localhost:" + std::to_string(tls_server_.port()) + "/back");
    });
    p.Get("/end", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("back in plain text", "text/plain");
    });
    p.Get("/show", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    p.Get("/plaincookie", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "open=o1; path=/");
      res.set_content("set", "text/plain");
    });
    tls_server_.Start();
    plain_.Start();
    tls_.SetCAFile(Pki().CAFile());
    http_.SetIOHandler(&tls_);
    http_.SetHandleRedirects(true);
  }
  void TearDown() override {
    http_.CloseConnection();
    http_.SetIOHandler(nullptr);
  }

  std::string Https(const std::string& path) {
    return "https://localhost:" + std::to_string(tls_server_.port()) + path;
  }
  std::string Http(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(plain_.port()) + path;
  }

  CertificateFiles cert_;
  Running<httplib::SSLServer> tls_server_;
  Running<httplib::Server> plain_;
  TIdSSLIOHandlerSocket tls_{nullptr};
  TIdHTTP http_{nullptr};
};

TEST_F(HttpsClient, GetsTwiceOverOneKeptAliveSession) {
  std::string text;
  http_.GetText(Https("/hello"), text);
  EXPECT_EQ(text, "hello over tls");
  EXPECT_EQ(http_.Request().Route(), hrDirectTLS);
  EXPECT_TRUE(tls_.TLSActive());
  http_.GetText(Https("/hello"), text);
  EXPECT_EQ(text, "hello over tls");
  EXPECT_EQ(tls_server_.Connections(), 1);
}

TEST_F(HttpsClient, PostsAForm) {
  TStringList lines;
  lines.Add("name=a b");
  lines.Add("x=1");
  std::string text;
  http_.PostFormText(Https("/echo"), &lines, text);
  EXPECT_EQ(text.rfind("name=a+b&x=1", 0), 0u) << text;
  EXPECT_NE(text.find("|application/x-www-form-urlencoded"), std::string::npos) << text;
}

TEST_F(HttpsClient, ReadsAChunkedBody) {
  std::string text;
  http_.GetText(Https("/chunked"), text);
  ASSERT_EQ(text.size(), 300000u);
  EXPECT_EQ(text.substr(0, 3), "aaa");
  EXPECT_EQ(text.substr(290000, 3), std::string(3, char('a' + 29 % 26)));
}

TEST_F(HttpsClient, FollowsRedirectsFromPlainToTlsAndBack) {
  std::string text;
  http_.GetText(Http("/to-tls"), text);
  EXPECT_EQ(text, "back in plain text");
  EXPECT_EQ(tls_server_.Connections(), 1);
  EXPECT_EQ(plain_.Connections(), 2);
  EXPECT_FALSE(tls_.TLSActive());
}

TEST_F(HttpsClient, ARelativeRedirectStaysOnTls) {
  std::string text;
  http_.GetText(Https("/hop"), text);
  EXPECT_EQ(text, "hello over tls");
  EXPECT_EQ(http_.Request().Route(), hrDirectTLS);
  // A post goes out as HTTP/1.0 and its connection closes: the redirect
  // opens a new one, which must be TLS too.
  TStringList lines;
  lines.Add("password=secret");
  http_.PostFormText(Https("/sign-in"), &lines, text);
  EXPECT_EQ(text, "landed with session=t1");
  EXPECT_EQ(http_.Request().Route(), hrDirectTLS);
}

TEST_F(HttpsClient, SecureCookiesTravelOnlyOverTls) {
  // Both servers on one host name, so the jar offers every cookie to both.
  auto https = [&](const std::string& path) {
    return "https://127.0.0.1:" + std::to_string(tls_server_.port()) + path;
  };
  std::string text;
  http_.GetText(https("/cookies"), text);
  http_.GetText(Http("/plaincookie"), text);
  http_.GetText(Http("/show"), text);
  EXPECT_EQ(text, "open=o1");
  http_.GetText(https("/show"), text);
  EXPECT_NE(text.find("secret=s1"), std::string::npos) << text;
  EXPECT_NE(text.find("open=o1"), std::string::npos) << text;
}

TEST_F(HttpsClient, RefusedCertificateSendsNothing) {
  CertificateFiles stranger = Pki().IssueByStranger("https-stranger", {"localhost"});
  Running<httplib::SSLServer> other(stranger.cert_file.c_str(), stranger.key_file.c_str());
  other.Start();
  std::string text = "kept";
  try {
    http_.GetText("https://localhost:" + std::to_string(other.port()) + "/", text);
    ADD_FAILURE() << "sent";
  } catch (const EIdSSLProtocolReplyError& e) {
    EXPECT_NE(std::string(e.what()).find("certificate verify failed"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(text, "kept");
  EXPECT_FALSE(http_.IsConnected());
  EXPECT_EQ(other.Connections(), 0);
  // The same client goes on with a good server.
  http_.GetText(Https("/hello"), text);
  EXPECT_EQ(text, "hello over tls");
}

// A proxy that knows only CONNECT: it dials the named port on 127.0.0.1,
// answers 200 (with the extra header lines given) and relays bytes both ways.
class ConnectProxy {
 public:
  explicit ConnectProxy(std::string extra_headers = "") : extra_(std::move(extra_headers)) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listen_, 8);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ConnectProxy() {
    stop_ = true;
    shutdown(listen_, SHUT_RDWR);
    thread_.join();
    close(listen_);
  }
  int port() const { return port_; }
  int Tunnels() const { return tunnels_; }
  std::string LastRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }

 private:
  void Run() {
    while (!stop_) {
      int client = accept(listen_, nullptr, nullptr);
      if (client < 0) return;
      Relay(client);
      close(client);
    }
  }
  void Relay(int client) {
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && recv(client, &c, 1, 0) == 1) head += c;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last_ = head;
    }
    size_t colon = head.find(':');
    size_t space = head.find(' ', colon);
    if (head.rfind("CONNECT ", 0) != 0 || colon == std::string::npos) return;
    int port = std::stoi(head.substr(colon + 1, space - colon - 1));
    int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(server);
      return;
    }
    ++tunnels_;
    const std::string ok = "HTTP/1.1 200 Connection established\r\n" + extra_ + "\r\n";
    send(client, ok.data(), ok.size(), MSG_NOSIGNAL);
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    char buffer[16384];
    while (!stop_ && poll(p, 2, 200) >= 0) {
      bool done = false;
      for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = recv(p[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0 || send(p[1 - i].fd, buffer, size_t(n), MSG_NOSIGNAL) != n) done = true;
      }
      if (done) break;
    }
    close(server);
  }

  std::string extra_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> tunnels_{0};
  std::mutex mutex_;
  std::string last_;
  std::thread thread_;
};

TEST_F(HttpsClient, TunnelsThroughAProxyAndChecksTheOrigin) {
  ConnectProxy proxy;
  http_.ProxyParams().SetProxyServer("127.0.0.1");
  http_.ProxyParams().SetProxyPort(proxy.port());
  std::string text;
  http_.GetText(Https("/hello"), text);
  EXPECT_EQ(text, "hello over tls");
  EXPECT_EQ(http_.Request().Route(), hrProxyTunnel);
  // The tunnel stays for the next request to the same origin.
  http_.GetText(Https("/hello"), text);
  EXPECT_EQ(text, "hello over tls");
  EXPECT_EQ(proxy.Tunnels(), 1);
  EXPECT_EQ(proxy.LastRequest().rfind("CONNECT localhost:" + std::to_string(tls_server_.port()) +
                                          " HTTP/1.1\r\n",
                                      0),
            0u)
      << proxy.LastRequest();
  EXPECT_EQ(tls_.ServerName(), "localhost");
  http_.CloseConnection();
}

// The proxy's answer to CONNECT is not the origin's: a cookie in it would
// let the proxy fix the session of an https site it cannot read.
TEST_F(HttpsClient, TheProxyCannotSetCookiesForTheOrigin) {
  ConnectProxy proxy("Set-Cookie: planted=by-proxy; path=/\r\n");
  http_.ProxyParams().SetProxyServer("127.0.0.1");
  http_.ProxyParams().SetProxyPort(proxy.port());
  std::string text;
  http_.GetText(Https("/hello"), text);
  EXPECT_EQ(text, "hello over tls");
  TIdCookieManager* jar = http_.CookieManager();
  EXPECT_EQ(jar ? jar->BuildCookieHeader(TIdURI(Https("/")), true) : "", "");
  http_.CloseConnection();
}

TEST_F(HttpsClient, ProxyCredentialsGoInTheConnectOnly) {
  ConnectProxy proxy;
  http_.ProxyParams().SetProxyServer("127.0.0.1");
  http_.ProxyParams().SetProxyPort(proxy.port());
  http_.ProxyParams().SetProxyUsername("pu");
  http_.ProxyParams().SetProxyPassword("pp");
  http_.ProxyParams().SetBasicAuthentication(true);
  std::string text;
  http_.GetText(Https("/proxy-auth"), text);
  EXPECT_EQ(text, "[]");
  EXPECT_NE(proxy.LastRequest().find("Proxy-Authorization: Basic cHU6cHA=\r\n"),
            std::string::npos)
      << proxy.LastRequest();
  http_.CloseConnection();
}

// A TLS peer that just closes its socket may have cut the stream: only a
// body whose end the framing shows, or a close_notify, makes it whole.
TEST(HttpsBodyEnd, ABodyReadUntilCloseNeedsCloseNotify) {
  const CertificateFiles cert = Pki().Issue("close-site", {"localhost"});
  struct Row {
    std::string name;
    std::string reply;
    bool notify;
    std::string outcome;
  } rows[] = {
      {"until close, with close_notify", "HTTP/1.1 200 OK\r\n\r\nall of it", true,
       "200 all of it"},
      {"until close, without", "HTTP/1.1 200 OK\r\n\r\nall of it", false,
       "EIdSSLProtocolReplyError: TLS failure: the server closed without close_notify; the body "
       "may be cut short [all of it]"},
      {"by length, whole, without", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false,
       "200 hello"},
      {"by length, short, without", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", false,
       "EIdConnClosedGracefully: Connection Closed Gracefully. [hello]"},
      {"chunked, whole, without",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", false,
       "200 hello"},
  };
  for (const Row& row : rows) {
    test::TlsScript script = test::TlsScript().ReadUntil("\r\n\r\n").Send(row.reply);
    if (row.notify) {
      script.Close();
    } else {
      script.CloseWithoutNotify();
    }
    test::TlsServer server(cert, {script});
    TIdSSLIOHandlerSocket tls(nullptr);
    tls.SetCAFile(Pki().CAFile());
    TIdHTTP http(nullptr);
    http.SetIOHandler(&tls);
    TStringStream body;
    std::string outcome;
    try {
      http.GetToStream("https://localhost:" + std::to_string(server.Port()) + "/", &body);
      outcome = std::to_string(http.ResponseCode()) + " " + body.DataString();
    } catch (const Exception& e) {
      outcome = std::string(e.ClassName()) + ": " + e.Message() + " [" + body.DataString() + "]";
    }
    EXPECT_EQ(outcome, row.outcome) << row.name;
    http.SetIOHandler(nullptr);
  }
}

}  // namespace
}  // namespace ah
