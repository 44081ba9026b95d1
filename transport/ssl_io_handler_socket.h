#pragma once
// The TLS I/O handler. The HTTP client asks two things of it: whether the
// connection's handler is of this class, and to switch between plain
// pass-through (bytes travel unencrypted) and TLS.
//
// The TLS layer itself is not built yet: switched to TLS, the handler
// refuses to connect, send or receive rather than carry in clear what the
// caller meant to protect.

#include <string>

#include "transport/io_handler_socket.h"

namespace ah {

class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
 public:
  AH_CLASS_NAME(TIdSSLIOHandlerSocket)
  using TIdIOHandlerSocket::TIdIOHandlerSocket;

  bool PassThrough() const { return pass_through_; }
  // Switching to TLS on an open connection starts the handshake there.
  virtual void SetPassThrough(bool value) { pass_through_ = value; }

  // With pass-through off these raise EIdException "TLS is not available".
  void ConnectToServer(const std::string& host, int port, int timeout, int port_high,
                       int port_low, int bound_port, const std::string& bound_ip) override;
  int ReceiveRaw(void* buffer, int length) override;
  int SendRaw(const void* buffer, int length) override;

 private:
  void RequirePassThrough() const;

  bool pass_through_ = true;
};

}  // namespace ah
