#include "framework/collection.h"

#include <algorithm>

namespace ah {

TCollectionItem::TCollectionItem(TCollection* collection) { SetCollection(collection); }

TCollectionItem::~TCollectionItem() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* collection) {
  if (collection_ == collection) return;
  if (collection_) collection_->RemoveItem(this);
  if (collection) collection->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!collection_) return -1;
  auto& items = collection_->items_;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : int(it - items.begin());
}

TCollection::~TCollection() { Clear(); }

void TCollection::Clear() {
  while (!items_.empty()) delete items_.back();
}

void TCollection::InsertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  Added(item);
}

void TCollection::RemoveItem(TCollectionItem* item) {
  Removing(item);
  if (!items_.empty() && items_.back() == item) {
    // The newest item, such as a record that its namesake took over.
    items_.pop_back();
  } else {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it != items_.end()) items_.erase(it);
  }
  item->collection_ = nullptr;
}

}  // namespace ah
