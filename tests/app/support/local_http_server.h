#pragma once
// A cpp-httplib server on 127.0.0.1 at an ephemeral port, listening on its
// own thread for the life of the object.

#include <httplib.h>

#include <string>
#include <thread>

namespace ah {

class LocalHttpServer {
 public:
  LocalHttpServer() = default;
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;
  ~LocalHttpServer() { Stop(); }

  // Register the routes first, then start.
  httplib::Server& server() { return server_; }

  // Returns false when no port could be bound.
  bool Start();
  void Stop();
  int port() const { return port_; }
  std::string Url(const std::string& path) const;

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
};

// A loopback port that nothing listens on (taken and released at once).
int UnusedLoopbackPort();

}  // namespace ah
