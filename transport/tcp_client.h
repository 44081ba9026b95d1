#pragma once
// A buffered connection that opens itself: host and port of the server, an
// optional local address and port range, and the connect step.

#include <cstdint>
#include <string>

#include "transport/tcp_connection.h"

namespace ah {

class TIdTCPClient : public TIdTCPConnection {
 public:
  AH_CLASS_NAME(TIdTCPClient)
  explicit TIdTCPClient(TComponent* owner) : TIdTCPConnection(owner) {}

  const std::string& Host() const { return host_; }
  virtual void SetHost(const std::string& value) { host_ = value; }
  int32_t Port() const { return port_; }
  virtual void SetPort(int32_t value) { port_ = value; }
  virtual void NotifyConnected();
  // Connects to Host:Port. Without an I/O handler it creates a socket
  // handler of its own (freed by the next disconnect); with an open one it
  // raises EIdAlreadyConnected. Time-out -1 and 0 connect without the
  // time-out thread; -2 uses it without a deadline. On any failure the
  // socket is dropped and the exception passes on.
  virtual void OpenConnection(int32_t timeout = UseReadTimeout);
  // Connects, reads until the server closes, disconnects.
  virtual std::string FetchAll();

  const std::string& BoundIP() const { return bound_ip_; }
  void SetBoundIP(std::string value) { bound_ip_ = std::move(value); }
  int32_t BoundPort() const { return bound_port_; }
  void SetBoundPort(int32_t value) { bound_port_ = value; }
  int32_t BoundPortLow() const { return bound_port_low_; }
  void SetBoundPortLow(int32_t value) { bound_port_low_ = value; }
  int32_t BoundPortHigh() const { return bound_port_high_; }
  void SetBoundPortHigh(int32_t value) { bound_port_high_ = value; }
  void SetOnConnected(TNotifyEvent handler) { on_connected_ = std::move(handler); }

 private:
  std::string host_;
  int32_t port_ = 0;
  std::string bound_ip_;
  int32_t bound_port_ = 0;
  int32_t bound_port_low_ = 0;
  int32_t bound_port_high_ = 0;
  TNotifyEvent on_connected_;
};

}  // namespace ah
