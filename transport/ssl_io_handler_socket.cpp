#include "transport/ssl_io_handler_socket.h"

#include "transport/exceptions.h"

namespace ah {

void TIdSSLIOHandlerSocket::RequirePassThrough() const {
  if (!pass_through_) throw EIdException("TLS is not available");
}

void TIdSSLIOHandlerSocket::ConnectToServer(const std::string& host, int port, int timeout,
                                            int port_high, int port_low, int bound_port,
                                            const std::string& bound_ip) {
  RequirePassThrough();
  TIdIOHandlerSocket::ConnectToServer(host, port, timeout, port_high, port_low, bound_port,
                                      bound_ip);
}

int TIdSSLIOHandlerSocket::ReceiveRaw(void* buffer, int length) {
  RequirePassThrough();
  return TIdIOHandlerSocket::ReceiveRaw(buffer, length);
}

int TIdSSLIOHandlerSocket::SendRaw(const void* buffer, int length) {
  RequirePassThrough();
  return TIdIOHandlerSocket::SendRaw(buffer, length);
}

}  // namespace ah
