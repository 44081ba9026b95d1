#pragma once
// The socket I/O handler: resolves, binds and connects one socket (blocking,
// or from a second thread with a time-out), reports the steps as status
// events, and then carries every raw receive and send of the connection.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "transport/io_handler.h"
#include "transport/socket_handle.h"
#include "transport/socks_info.h"

namespace ah {

// Connects TargetHandle on its own thread so the caller can give up.
class TIdConnectThread {
 public:
  explicit TIdConnectThread(TIdSocketHandle* target) : target_handle_(target) {}
  // Waits for the thread.
  ~TIdConnectThread();
  void Start();
  void Terminate() { stop_requested_ = true; }
  bool Finished() const { return finished_; }
  // Sleeps up to ms, less when the thread finishes first.
  void SleepUnlessFinished(int ms);
  void WaitFor();
  // Set before Finished; read only after it.
  const std::string& FailureText() const { return failure_text_; }

 private:
  void Execute();

  TIdSocketHandle* target_handle_;
  std::string failure_text_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> stop_requested_{false};
  std::mutex mutex_;
  std::condition_variable finished_changed_;
  std::thread thread_;
};

// Raises EIdInvalidPort for a port outside 1 to 65535, which the socket
// calls would otherwise cut to 16 bits.
void CheckPortNumber(int port);
// What is left of timeout ms since start, 0 at the least.
int RemainingMs(int timeout, std::chrono::steady_clock::time_point start);

class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  AH_CLASS_NAME(TIdIOHandlerSocket)
  explicit TIdIOHandlerSocket(TComponent* owner);
  ~TIdIOHandlerSocket() override;

  void CloseHandler() override;
  // Connects to host:port (or to the SOCKS proxy when one is set): looks
  // the name up, tries its addresses (IPv6 and IPv4) in the resolver's
  // order until one connects, then runs the SOCKS handshake. A time-out
  // other than -1 and 0 runs each connect on a second thread; a positive
  // one bounds the look-up, the connects and the handshake together.
  void ConnectToServer(const std::string& host, int port, int timeout, int port_high,
                       int port_low, int bound_port, const std::string& bound_ip) override;
  bool IsOpen() override;
  void PrepareOpen() override;
  bool WaitReadable(int timeout) override;
  int ReceiveRaw(void* buffer, int length) override;
  int SendRaw(const void* buffer, int length) override;
  int ReceiveNow(void* buffer, int length) override;

  // The local end every connect binds.
  struct LocalEnd {
    std::string ip;
    int port = 0;
    int port_low = 0;
    int port_high = 0;
  };
  // Connects to the first of addresses (in text, IPv4 or IPv6) that takes
  // the connection on port; the last one's failure passes on when none
  // does. A positive time-out (ms, counted from start) is shared out among
  // the addresses not tried yet.
  void ConnectToAddresses(const std::vector<std::string>& addresses, int port, int timeout,
                          std::chrono::steady_clock::time_point start, const LocalEnd& local);

  // Owned; created by the first PrepareOpen.
  TIdSocketHandle* SocketBinding() const { return binding_.get(); }

  // Created and owned on first read. An assigned object with an owner
  // component is only referenced (and dropped when it goes away), and may
  // be shared by several handlers: each negotiates over its own socket. One
  // without an owner is copied into the handler's own object.
  TIdSocksInfo* SocksInfo();
  void SetSocksInfo(TIdSocksInfo* info);

  bool UseNagle() const { return use_nagle_; }
  void SetUseNagle(bool value) { use_nagle_ = value; }

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void ConnectToAddress(const std::string& ip, int port, int timeout, const LocalEnd& local);
  void ConnectWithTimeout(int timeout);
  // Lets go of referenced SOCKS settings.
  void LeaveSocksInfo();

  std::unique_ptr<TIdSocketHandle> binding_;
  std::unique_ptr<TIdSocksInfo> own_socks_;
  TIdSocksInfo* socks_ = nullptr;
  bool use_nagle_ = true;
};

}  // namespace ah
