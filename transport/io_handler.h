#pragma once
// The seam between a buffered connection and whatever carries its bytes:
// the connection reads and writes only through these operations, so a test
// may hand it a scripted handler instead of a socket.

#include <cstdint>
#include <string>

#include "transport/component.h"

namespace ah {

class TIdIOHandler : public TIdComponent {
 public:
  AH_CLASS_NAME(TIdIOHandler)
  explicit TIdIOHandler(TComponent* owner) : TIdComponent(owner) {}
  // A derived handler that holds resources must close them in its own
  // destructor (CloseHandler), since the base can no longer reach it.
  ~TIdIOHandler() override = default;

  virtual void AfterAccepted() {}
  virtual void CloseHandler() {}
  virtual void ConnectToServer(const std::string& host, int port, int timeout, int port_high,
                               int port_low, int bound_port, const std::string& bound_ip) {
    (void)host, (void)port, (void)timeout, (void)port_high, (void)port_low, (void)bound_port,
        (void)bound_ip;
  }
  virtual bool IsOpen() = 0;
  virtual void PrepareOpen() {}
  // Time-out in ms (WaitForever, 0 = poll); true when bytes (or the peer's
  // close) can be received.
  virtual bool WaitReadable(int timeout) = 0;
  // One receive or send: the byte count, 0 when the peer closed, -1 on an
  // error whose code the stack holds.
  virtual int ReceiveRaw(void* buffer, int length) = 0;
  virtual int SendRaw(const void* buffer, int length) = 0;

  // What ReceiveNow gives when nothing has arrived yet.
  static constexpr int kNothingYet = -2;
  // A receive of what has already arrived, without waiting: as ReceiveRaw,
  // or kNothingYet, after which the caller waits (WaitReadable) and uses
  // ReceiveRaw. A handler that cannot tell without waiting always says
  // kNothingYet.
  virtual int ReceiveNow(void* buffer, int length) {
    (void)buffer, (void)length;
    return kNothingYet;
  }
};

}  // namespace ah
