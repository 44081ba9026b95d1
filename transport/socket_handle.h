#pragma once
// One IPv4 or IPv6 socket with its local and peer addresses: allocation, local bind
// (fixed port or a port range), connect and the readable wait.

#include <cstdint>
#include <string>

#include "framework/collection.h"
#include "transport/stack.h"

namespace ah {

class TIdSocketHandle : public TCollectionItem {
 public:
  AH_CLASS_NAME(TIdSocketHandle)
  // May live without a collection.
  explicit TIdSocketHandle(TCollection* collection = nullptr) : TCollectionItem(collection) {}
  // Closes the socket.
  ~TIdSocketHandle() override;

  // Copies IP, Port, RemoteIP and RemotePort from another handle.
  void Assign(const TPersistent& source) override;

  // Releases any socket, then creates a new one of the family (Id_PF_INET,
  // Id_PF_INET6); EIdInvalidSocket on failure.
  void AllocateHandle(int type, int protocol, int family = Id_PF_INET);
  // Stops sending, then closes; a released handle is left alone.
  virtual void ReleaseHandle();
  void ResetHandle(bool reset_local);
  void SetPeerAddress(const std::string& ip, int port);

  // Binds to IP:Port, or to the highest free port of ClientPortMin..Max when
  // Port is 0 and both ends are set.
  void BindLocal();
  bool TryBindLocal();
  void BindInPortRange();

  // Returns the stack's result (0 or -1); the caller checks it.
  virtual int ConnectToPeer(int family);
  // EIdConnClosedGracefully when the socket was released.
  bool WaitReadable(int timeout);
  int ReceiveRaw(void* buffer, int length, int flags);
  int SendRaw(const void* buffer, int length, int flags);
  void SetOption(int level, int option, int value);
  // False when the listener was closed under the accept.
  bool AcceptFrom(TIdSocketHandle& listener);
  virtual int ReceiveDatagram(void* buffer, int length, int flags, std::string& ip, int& port);

  void RefreshLocalAddress();
  void RefreshPeerAddress();

  const std::string& IP() const { return ip_; }
  void SetIP(std::string value) { ip_ = std::move(value); }
  int32_t Port() const { return port_; }
  void SetPort(int32_t value) { port_ = value; }
  int32_t ClientPortMin() const { return client_port_min_; }
  void SetClientPortMin(int32_t value) { client_port_min_ = value; }
  int32_t ClientPortMax() const { return client_port_max_; }
  void SetClientPortMax(int32_t value) { client_port_max_ = value; }
  const std::string& RemoteIP() const { return remote_ip_; }
  int32_t RemotePort() const { return remote_port_; }
  TIdStackSocketHandle SocketHandle() const { return socket_handle_; }
  bool HandleOpen() const { return handle_open_; }
  // The family of the socket allocated last.
  int Family() const { return family_; }

 private:
  bool SelectReadable(int timeout);

  std::string ip_;
  int32_t port_ = 0;
  int32_t client_port_min_ = 0;
  int32_t client_port_max_ = 0;
  std::string remote_ip_;
  int32_t remote_port_ = 0;
  TIdStackSocketHandle socket_handle_ = Id_INVALID_SOCKET;
  bool handle_open_ = false;
  int family_ = Id_PF_INET;
};

}  // namespace ah
