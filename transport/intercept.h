#pragma once
// A chain of filters on a connection: each sees, and may rewrite, every
// block received or sent, and is told when the connection opens and closes.
// Outgoing data passes the outer filter first; received data the inner one
// first, so the chain nests like layers.

#include <functional>

#include "framework/streams.h"
#include "transport/component.h"

namespace ah {

using TIdInterceptNotifyEvent = std::function<void(TComponent* ASender)>;
// The handler may replace the stream's content and size.
using TIdInterceptStreamEvent = std::function<void(TComponent* ASender, TStream& AStream)>;

class TIdConnectionIntercept : public TIdBaseComponent {
 public:
  AH_CLASS_NAME(TIdConnectionIntercept)
  explicit TIdConnectionIntercept(TComponent* owner) : TIdBaseComponent(owner) {}

  virtual void PassAttach(TComponent* connection);
  virtual void PassDetach();
  virtual void PassReceived(TStream& stream);
  virtual void PassOutgoing(TStream& stream);
  virtual void AttachConnection(TComponent* connection);
  virtual void DetachConnection();
  // The stream is positioned at 0 and is rewound after each handler.
  virtual void FilterReceived(TStream& stream);
  virtual void FilterOutgoing(TStream& stream);

  void SetOnConnect(TIdInterceptNotifyEvent handler) { on_connect_ = std::move(handler); }
  void SetOnDisconnect(TIdInterceptNotifyEvent handler) { on_disconnect_ = std::move(handler); }
  void SetOnReceive(TIdInterceptStreamEvent handler) { on_receive_ = std::move(handler); }
  void SetOnSend(TIdInterceptStreamEvent handler) { on_send_ = std::move(handler); }

  // Referenced, cleared when it goes away.
  TIdConnectionIntercept* NextIntercept() const { return next_; }
  void SetNextIntercept(TIdConnectionIntercept* next);
  TComponent* AttachedConnection() const { return attached_; }
  bool ClientSide() const { return client_side_; }

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TIdInterceptNotifyEvent on_connect_;
  TIdInterceptNotifyEvent on_disconnect_;
  TIdInterceptStreamEvent on_receive_;
  TIdInterceptStreamEvent on_send_;
  TIdConnectionIntercept* next_ = nullptr;
  TComponent* attached_ = nullptr;
  bool client_side_ = true;
};

}  // namespace ah
