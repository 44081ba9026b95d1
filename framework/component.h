#pragma once
// Components: objects with an owner that frees them, a name and a tag, and
// notification when a component they refer to goes away.
//
// Ownership: a component created with an owner is deleted by that owner
// (children in reverse order of insertion). Deleting a component yourself
// is fine: it leaves its owner's list first. A component without an owner
// belongs to whoever created it.

#include <cstdint>
#include <string>
#include <cstddef>
#include <vector>

#include "framework/persistent.h"

namespace ah {

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  AH_CLASS_NAME(TComponent)
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t tag) { tag_ = tag; }

  int ComponentCount() const { return int(components_.size()); }
  TComponent* Components(int index) const { return components_[size_t(index)]; }

  // Asks that `other` be told (Notification with opRemove) when this
  // component is destroyed. The link is mutual, so neither side is ever
  // left holding a dangling entry.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  // True while the component runs inside a design environment; this
  // system never sets it, but the behaviours that depend on it keep it.
  bool IsDesigning() const { return designing_; }
  bool IsDestroying() const { return destroying_; }

 protected:
  // Told about components inserted into or removed from this owner and
  // about the removal of components that asked for free notification.
  // Overrides must call the base, which passes the news on to the
  // components this one owns.
  virtual void Notification(TComponent* component, TOperation operation);
  void SetDesigning(bool designing) { designing_ = designing; }

 private:
  void InsertComponent(TComponent* child);
  void RemoveComponent(TComponent* child);
  void DropFreeNotify(TComponent* other);

  TComponent* owner_ = nullptr;
  std::string name_;
  intptr_t tag_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
  bool designing_ = false;
  bool destroying_ = false;
};

}  // namespace ah
