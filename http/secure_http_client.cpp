#include "http/secure_http_client.h"

namespace ah {

TSecureHTTP::TSecureHTTP(TComponent* owner)
    : TIdHTTP(owner), tls_(std::make_unique<TIdSSLIOHandlerSocket>(nullptr)) {
  SetIOHandler(tls_.get());
  // The connect steps report through the client's own status event.
  tls_->SetOnStatus([this](TComponent* sender, TIdStatus status, const std::string& text) {
    if (OnStatus()) OnStatus()(sender, status, text);
  });
}

TSecureHTTP::~TSecureHTTP() {
  if (IsConnected()) CloseConnection();
  SetIOHandler(nullptr);
}

}  // namespace ah
