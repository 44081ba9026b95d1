#pragma once
// Owned collections: a collection deletes its items; deleting an item
// removes it from its collection.

#include <cstddef>
#include <deque>

#include "framework/persistent.h"

namespace ah {

class TCollection;

class TCollectionItem : public TPersistent {
 public:
  AH_CLASS_NAME(TCollectionItem)
  // Joins `collection` at its end when one is given.
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;

  TCollection* Collection() const { return collection_; }
  // Leaves the current collection (if any) and joins the new one.
  void SetCollection(TCollection* collection);
  int Index() const;

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
};

class TCollection : public TPersistent {
 public:
  AH_CLASS_NAME(TCollection)
  TCollection() = default;
  ~TCollection() override;

  int Count() const { return int(items_.size()); }
  TCollectionItem* Items(int index) const { return items_[size_t(index)]; }
  // Deletes every item.
  void Clear();

 protected:
  // Told after an item joined or before it leaves. A derived collection
  // that overrides these must Clear() in its own destructor, since the
  // base destructor no longer reaches the overrides.
  virtual void Added(TCollectionItem*) {}
  virtual void Removing(TCollectionItem*) {}

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);
  // Items come and go at both ends most often (the newest and the oldest).
  std::deque<TCollectionItem*> items_;
};

}  // namespace ah
