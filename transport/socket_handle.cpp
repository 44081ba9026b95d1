#include "transport/socket_handle.h"

#include "framework/sysutils.h"
#include "transport/component.h"
#include "transport/exceptions.h"

namespace ah {

TIdSocketHandle::~TIdSocketHandle() { ReleaseHandle(); }

void TIdSocketHandle::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TIdSocketHandle*>(&source)) {
    ip_ = other->ip_;
    port_ = other->port_;
    remote_ip_ = other->remote_ip_;
    remote_port_ = other->remote_port_;
    return;
  }
  TCollectionItem::Assign(source);
}

void TIdSocketHandle::AllocateHandle(int type, int protocol, int family) {
  ReleaseHandle();
  if (handle_open_) ResetHandle(true);
  socket_handle_ = TheStack()->NewSocketHandle(type, protocol, family);
  family_ = family;
  handle_open_ = true;
}

void TIdSocketHandle::ReleaseHandle() {
  if (!handle_open_) return;
  handle_open_ = false;
  TIdStack* stack = TheStack();
  stack->StackShutdown(socket_handle_, 1);
  stack->StackCloseSocket(socket_handle_);
}

void TIdSocketHandle::ResetHandle(bool reset_local) {
  handle_open_ = false;
  socket_handle_ = Id_INVALID_SOCKET;
  if (reset_local) {
    ip_.clear();
    port_ = 0;
  }
  remote_ip_.clear();
  remote_port_ = 0;
}

void TIdSocketHandle::SetPeerAddress(const std::string& ip, int port) {
  remote_ip_ = ip;
  remote_port_ = port;
}

void TIdSocketHandle::BindLocal() {
  if (port_ != 0 || client_port_min_ == 0 || client_port_max_ == 0) {
    if (!TryBindLocal())
      throw EIdCouldNotBindSocket("Could not bind socket. Address and port are already in use.");
    return;
  }
  if (client_port_max_ < client_port_min_)
    throw EIdInvalidPortRange(
        Format("Invalid Port Range (%d - %d)", client_port_min_, client_port_max_));
  BindInPortRange();
}

bool TIdSocketHandle::TryBindLocal() {
  TIdStack* stack = TheStack();
  if (stack->CheckSocketResult(stack->StackBind(socket_handle_, family_, port_, ip_),
                               {Id_WSAEADDRINUSE}))
    return false;
  RefreshLocalAddress();
  return true;
}

void TIdSocketHandle::BindInPortRange() {
  for (int32_t port = client_port_max_; port >= client_port_min_; --port) {
    port_ = port;
    if (TryBindLocal()) return;
  }
  throw EIdCanNotBindPortInRange(
      Format("Can not bind in port range (%d - %d)", client_port_min_, client_port_max_));
}

int TIdSocketHandle::ConnectToPeer(int family) {
  int result = TheStack()->StackConnect(socket_handle_, family, remote_port_, remote_ip_);
  if (result != Id_SOCKET_ERROR) {
    RefreshLocalAddress();
    RefreshPeerAddress();
  }
  return result;
}

void TIdSocketHandle::RefreshLocalAddress() {
  int family = 0;
  TheStack()->StackSocketName(socket_handle_, family, ip_, port_);
}

void TIdSocketHandle::RefreshPeerAddress() {
  int family = 0;
  TheStack()->StackPeerName(socket_handle_, family, remote_ip_, remote_port_);
}

bool TIdSocketHandle::SelectReadable(int timeout) {
  TIdSocketListPosix read;
  read.AddSocket(socket_handle_);
  TIdStack* stack = TheStack();
  const int result = stack->StackSelect(&read, nullptr, nullptr, timeout);
  // A wait cut short on purpose ends the read; any other failure reads as
  // nothing having arrived.
  if (result == Id_SOCKET_ERROR && stack->StackLastError() == Id_WSAEINTR)
    stack->CheckSocketResult(result);
  bool readable = result == 1;
  if (!readable) KeepResponsive(true);
  return readable;
}

bool TIdSocketHandle::WaitReadable(int timeout) {
  if (!handle_open_) throw EIdConnClosedGracefully("Connection Closed Gracefully.");
  if (AntiFreezeInUse()) {
    const int idle = TheAntiFreeze()->IdleTimeOut();
    if (timeout == WaitForever) {
      while (!SelectReadable(idle)) {
      }
      return true;
    }
    if (timeout > idle) {
      if (SelectReadable(timeout - idle)) return true;
      timeout = idle;
    }
  }
  return SelectReadable(timeout);
}

int TIdSocketHandle::ReceiveRaw(void* buffer, int length, int flags) {
  return TheStack()->StackReceive(socket_handle_, buffer, length, flags);
}

int TIdSocketHandle::SendRaw(const void* buffer, int length, int flags) {
  return TheStack()->StackSend(socket_handle_, buffer, length, flags);
}

void TIdSocketHandle::SetOption(int level, int option, int value) {
  TIdStack* stack = TheStack();
  stack->CheckSocketResult(stack->StackSetOption(socket_handle_, level, option, &value, 4));
}

bool TIdSocketHandle::AcceptFrom(TIdSocketHandle& listener) {
  ResetHandle(false);
  TIdStack* stack = TheStack();
  std::string ip;
  int port = 0;
  TIdStackSocketHandle accepted = stack->StackAccept(listener.socket_handle_, ip, port);
  // A listener closed or shut down under the accept reads as EBADF or
  // EINVAL here, where Windows says "not a socket".
  if (stack->CheckSocketResult(accepted == Id_INVALID_SOCKET ? Id_SOCKET_ERROR : 0,
                               {Id_WSAEINTR, Id_WSAENOTSOCK, Id_WSAEBADF, Id_WSAEINVAL}))
    return false;
  socket_handle_ = accepted;
  handle_open_ = true;
  family_ = listener.family_;
  RefreshLocalAddress();
  RefreshPeerAddress();
  return true;
}

int TIdSocketHandle::ReceiveDatagram(void* buffer, int length, int flags, std::string& ip,
                                     int& port) {
  return TheStack()->StackReceiveFrom(socket_handle_, buffer, length, flags, ip, port);
}

}  // namespace ah
