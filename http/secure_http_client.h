#pragma once
// The client the front ends hand to the harvest: the HTTP client with a TLS
// handler of its own, so an https site root or a redirect to https works.
// Plain http goes through the same handler in pass-through.

#include <memory>

#include "http/http_client.h"
#include "transport/ssl_io_handler_socket.h"

namespace ah {

class TSecureHTTP : public TIdHTTP {
 public:
  explicit TSecureHTTP(TComponent* owner);
  // Closes the connection and lets go of the handler before it goes.
  ~TSecureHTTP() override;

  TIdSSLIOHandlerSocket& TLS() { return *tls_; }

 private:
  std::unique_ptr<TIdSSLIOHandlerSocket> tls_;
};

}  // namespace ah
