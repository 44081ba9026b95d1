#include "framework/component.h"

#include <algorithm>

namespace ah {

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  // Listeners first, while our owner still knows us.
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    free_notifies_.pop_back();
    other->DropFreeNotify(this);
    other->Notification(this, opRemove);
  }
  while (!components_.empty()) delete components_.back();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* child) {
  child->owner_ = this;
  components_.push_back(child);
  Notification(child, opInsert);
}

void TComponent::RemoveComponent(TComponent* child) {
  Notification(child, opRemove);
  auto it = std::find(components_.begin(), components_.end(), child);
  if (it != components_.end()) components_.erase(it);
  child->owner_ = nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), other) == free_notifies_.end())
    free_notifies_.push_back(other);
  if (std::find(other->free_notifies_.begin(), other->free_notifies_.end(), this) ==
      other->free_notifies_.end())
    other->free_notifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other) return;
  DropFreeNotify(other);
  other->DropFreeNotify(this);
}

void TComponent::DropFreeNotify(TComponent* other) {
  auto it = std::find(free_notifies_.begin(), free_notifies_.end(), other);
  if (it != free_notifies_.end()) free_notifies_.erase(it);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component) RemoveFreeNotification(component);
  // Copy: a child's reaction may delete components of ours.
  auto children = components_;
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (*it != component &&
        std::find(components_.begin(), components_.end(), *it) != components_.end())
      (*it)->Notification(component, operation);
  }
}

}  // namespace ah
