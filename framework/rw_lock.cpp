#include "framework/rw_lock.h"

namespace ah {

bool TReadWriteLock::IsWriter() const {
  return writer_.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void TReadWriteLock::BeginRead() {
  // The writer already excludes everyone else; count its read as a write.
  if (IsWriter()) {
    ++depth_;
    return;
  }
  mutex_.lock_shared();
}

void TReadWriteLock::EndRead() {
  if (IsWriter()) {
    EndWrite();
    return;
  }
  mutex_.unlock_shared();
}

void TReadWriteLock::BeginWrite() {
  if (IsWriter()) {
    ++depth_;
    return;
  }
  mutex_.lock();
  writer_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  depth_ = 1;
}

void TReadWriteLock::EndWrite() {
  if (--depth_ > 0) return;
  writer_.store(std::thread::id(), std::memory_order_relaxed);
  mutex_.unlock();
}

}  // namespace ah
