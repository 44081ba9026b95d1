#pragma once
// The TLS I/O handler. The HTTP client asks two things of it: whether the
// connection's handler is of this class, and to switch between plain
// pass-through (bytes travel unencrypted) and TLS.

#include "transport/io_handler_socket.h"

namespace ah {

class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
 public:
  AH_CLASS_NAME(TIdSSLIOHandlerSocket)
  using TIdIOHandlerSocket::TIdIOHandlerSocket;

  bool PassThrough() const { return pass_through_; }
  // Switching to TLS on an open connection starts the handshake there.
  virtual void SetPassThrough(bool value) { pass_through_ = value; }

 private:
  bool pass_through_ = true;
};

}  // namespace ah
