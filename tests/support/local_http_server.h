#pragma once
// An independent HTTP server (cpp-httplib) on 127.0.0.1 and an ephemeral
// port, running on its own thread for the lifetime of the object. Tests add
// their routes through server() before calling Start().
//
// Header-only, so only the suites that use it link cpp-httplib.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace ah::test {

class LocalHttpServer {
 public:
  LocalHttpServer() {
    // Room for every request a test makes on one kept-alive connection, and
    // no Nagle pause between a reply's head and its body.
    server_.set_keep_alive_max_count(100000);
    server_.set_tcp_nodelay(true);
    // Connections are told apart by the client's port: one port, one
    // accepted connection.
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex_);
      client_ports_.insert(req.remote_port);
      ++requests_;
      return httplib::Server::HandlerResponse::Unhandled;
    });
  }
  ~LocalHttpServer() { Stop(); }
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  httplib::Server& server() { return server_; }

  // False when no port could be bound.
  bool Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  }

  void Stop() {
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }

  int port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // Connections that carried at least one request.
  int Connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(client_ports_.size());
  }
  int Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::set<int> client_ports_;
  int requests_ = 0;
};

// A loopback port that nothing listens on (taken and released at once).
inline int UnusedLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace ah::test
