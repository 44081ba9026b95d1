#pragma once
// A real SOCKS 5 proxy (Debian's microsocks) on 127.0.0.1 for end-to-end
// tests, started on a free port and stopped by its pid:
//
//   test::SocksProxy proxy;                    // or SocksProxy("user", "pass")
//   if (!proxy.Running()) GTEST_SKIP() << proxy.Failure();
//   socks->SetPort(proxy.Port());

#include <string>
#include <sys/types.h>

namespace ah::test {

class SocksProxy {
 public:
  // Empty user: the proxy accepts clients without authentication only.
  explicit SocksProxy(const std::string& user = "", const std::string& password = "");
  // Terminates the proxy and reaps it.
  ~SocksProxy();
  SocksProxy(const SocksProxy&) = delete;
  SocksProxy& operator=(const SocksProxy&) = delete;

  bool Running() const { return pid_ > 0; }
  // Why the proxy is not running (the program missing, no port found).
  const std::string& Failure() const { return failure_; }
  int Port() const { return port_; }

  // The program the proxy runs; found on PATH.
  static const char* Program() { return "microsocks"; }

 private:
  bool StartOn(int port, const std::string& user, const std::string& password);
  void Stop();

  pid_t pid_ = -1;
  int port_ = 0;
  std::string failure_;
};

}  // namespace ah::test
