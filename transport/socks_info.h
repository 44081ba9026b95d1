#pragma once
// SOCKS proxy settings of a socket I/O handler and the handshakes that ask
// the proxy to connect onward. With Version svNoSocks (the default) the
// handler connects straight to its server and NegotiateSocks does nothing.
//
// Every answer of the proxy is read to its full stated size, however it is
// split on the wire. Names and passwords that do not fit their one-byte
// length fields are refused with EIdSocksError before anything is sent.

#include <chrono>
#include <cstdint>
#include <string>

#include "transport/component.h"

namespace ah {

class TIdIOHandler;

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum TSocksAuthentication { saNoAuthentication, saUsernamePassword };

class TIdSocksInfo : public TIdComponent {
 public:
  AH_CLASS_NAME(TIdSocksInfo)
  explicit TIdSocksInfo(TComponent* owner) : TIdComponent(owner) {}

  // Copies the six settings from another TIdSocksInfo.
  void Assign(const TPersistent& source) override;

  // Asks the proxy, over handler's already connected socket, for a
  // connection to host:port; on return the socket carries the server's
  // protocol. Raises one of the EIdSocksError classes on refusal. A handler
  // passes itself: settings shared by several handlers must negotiate over
  // the one that is connecting. A time-out other than WaitForever bounds
  // the whole handshake (ms): a proxy that has not answered by then raises
  // EIdConnectTimeout "Connect timed out.".
  virtual void NegotiateSocks(TIdIOHandler& handler, const std::string& host, int port,
                              int timeout = WaitForever);
  // SOCKS 4 (address resolved here) or 4A (name resolved by the proxy).
  virtual void NegotiateSocks4(TIdIOHandler& handler, const std::string& host, int port,
                               int timeout = WaitForever);
  // SOCKS 5 with no authentication or with user name and password.
  virtual void NegotiateSocks5(TIdIOHandler& handler, const std::string& host, int port,
                               int timeout = WaitForever);
  // The same over OwnerHandler.
  void NegotiateSocks(const std::string& host, int port) { NegotiateSocks(Handler(), host, port); }
  void NegotiateSocks4(const std::string& host, int port) {
    NegotiateSocks4(Handler(), host, port);
  }
  void NegotiateSocks5(const std::string& host, int port) {
    NegotiateSocks5(Handler(), host, port);
  }

  TSocksAuthentication Authentication() const { return authentication_; }
  void SetAuthentication(TSocksAuthentication value) { authentication_ = value; }
  const std::string& Host() const { return host_; }
  void SetHost(std::string value) { host_ = std::move(value); }
  const std::string& Password() const { return password_; }
  void SetPassword(std::string value) { password_ = std::move(value); }
  int32_t Port() const { return port_; }
  void SetPort(int32_t value) { port_ = value; }
  const std::string& Username() const { return username_; }
  void SetUsername(std::string value) { username_ = std::move(value); }
  TSocksVersion Version() const { return version_; }
  void SetVersion(TSocksVersion value) { version_ = value; }

  // The handler these settings were last given to; not owned. A handler
  // that goes away clears it.
  TIdIOHandler* OwnerHandler() const { return owner_handler_; }
  void SetOwnerHandler(TIdIOHandler* handler) { owner_handler_ = handler; }

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  // The end of a handshake; max() for none.
  using Deadline = std::chrono::steady_clock::time_point;

  TIdIOHandler& Handler() const;
  // SOCKS 5: the method choice (and login), then the connect request.
  void Socks5Authenticate(TIdIOHandler& handler, Deadline deadline);
  void Socks5Connect(TIdIOHandler& handler, const std::string& host, int port, Deadline deadline);
  static void SendAll(TIdIOHandler& handler, const std::string& bytes);
  // Reads until count bytes arrived or the proxy closed; returns the count
  // read. A socket error raises EIdSocketError, the deadline's passing
  // EIdConnectTimeout.
  static int ReceiveUpTo(TIdIOHandler& handler, uint8_t* buffer, int count, Deadline deadline);
  // Exactly count bytes, else EIdSocksServerRespondError.
  static void ReceiveExactly(TIdIOHandler& handler, uint8_t* buffer, int count,
                             Deadline deadline);

  TSocksAuthentication authentication_ = saNoAuthentication;
  std::string host_;
  std::string password_;
  int32_t port_ = 1080;
  std::string username_;
  TSocksVersion version_ = svNoSocks;
  TIdIOHandler* owner_handler_ = nullptr;
};

}  // namespace ah
