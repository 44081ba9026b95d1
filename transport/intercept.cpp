#include "transport/intercept.h"

namespace ah {

void TIdConnectionIntercept::PassAttach(TComponent* connection) {
  if (next_) next_->AttachConnection(connection);
}

void TIdConnectionIntercept::PassDetach() {
  if (next_) next_->DetachConnection();
}

void TIdConnectionIntercept::PassReceived(TStream& stream) {
  if (next_) next_->FilterReceived(stream);
}

void TIdConnectionIntercept::PassOutgoing(TStream& stream) {
  if (next_) next_->FilterOutgoing(stream);
}

void TIdConnectionIntercept::AttachConnection(TComponent* connection) {
  attached_ = connection;
  if (on_connect_) on_connect_(this);
  PassAttach(connection);
}

void TIdConnectionIntercept::DetachConnection() {
  PassDetach();
  if (on_disconnect_) on_disconnect_(this);
  attached_ = nullptr;
}

void TIdConnectionIntercept::FilterReceived(TStream& stream) {
  PassReceived(stream);
  if (on_receive_) {
    on_receive_(this, stream);
    stream.SetPosition(0);
  }
}

void TIdConnectionIntercept::FilterOutgoing(TStream& stream) {
  if (on_send_) {
    on_send_(this, stream);
    stream.SetPosition(0);
  }
  PassOutgoing(stream);
}

void TIdConnectionIntercept::SetNextIntercept(TIdConnectionIntercept* next) {
  if (next_) RemoveFreeNotification(next_);
  next_ = next;
  if (next_) FreeNotification(next_);
}

void TIdConnectionIntercept::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component == next_) next_ = nullptr;
  TIdBaseComponent::Notification(component, operation);
}

}  // namespace ah
