#pragma once
// SOCKS proxy settings of a socket I/O handler. With Version svNoSocks (the
// default) the handler connects straight to its server and NegotiateSocks
// does nothing.

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

  // Runs the handshake for the version over OwnerHandler, asking the proxy
  // for host:port. The SOCKS handshakes themselves are not built yet: only
  // svNoSocks is honoured.
  virtual void NegotiateSocks(const std::string& host, int port);

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

  // The handler whose raw receive and send carry the handshake; not owned.
  TIdIOHandler* OwnerHandler() const { return owner_handler_; }
  void SetOwnerHandler(TIdIOHandler* handler) { owner_handler_ = handler; }

 private:
  TSocksAuthentication authentication_ = saNoAuthentication;
  std::string host_;
  std::string password_;
  int32_t port_ = 1080;
  std::string username_;
  TSocksVersion version_ = svNoSocks;
  TIdIOHandler* owner_handler_ = nullptr;
};

}  // namespace ah
