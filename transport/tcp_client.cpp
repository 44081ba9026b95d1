#include "transport/tcp_client.h"

#include "transport/exceptions.h"
#include "transport/io_handler_socket.h"

namespace ah {

void TIdTCPClient::NotifyConnected() {
  if (on_connected_) on_connected_(this);
}

void TIdTCPClient::OpenConnection(int32_t timeout) {
  CheckPortNumber(port_);
  if (!IOHandler()) {
    auto* handler = new TIdIOHandlerSocket(this);
    SetIOHandler(handler);
    handler->SetOnStatus(OnStatus());
    SetOwnsIOHandler(true);
  } else if (IOHandler()->IsOpen()) {
    throw EIdAlreadyConnected("Already connected.");
  }
  try {
    IOHandler()->PrepareOpen();
    ResetInputState();
    IOHandler()->ConnectToServer(host_, port_, timeout, bound_port_high_, bound_port_low_,
                                 bound_port_, bound_ip_);
    if (Intercept()) Intercept()->AttachConnection(this);
    ReportStatus(hsConnected, host_);
    NotifyConnected();
  } catch (...) {
    DropSocket();
    throw;
  }
}

std::string TIdTCPClient::FetchAll() {
  OpenConnection(UseReadTimeout);
  std::string result;
  try {
    result = ReceiveAll();
  } catch (...) {
    CloseConnection();
    throw;
  }
  CloseConnection();
  return result;
}

}  // namespace ah
