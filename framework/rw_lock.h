#pragma once
// A readers-writer lock: many readers or one writer. The thread that holds
// the write lock may take it again, and may also take the read lock, each
// time releasing what it took; the lock is freed when the outermost write
// is released. A reader must not ask for the write lock while it reads
// (that would wait for itself).

#include <atomic>
#include <shared_mutex>
#include <thread>

namespace ah {

class TReadWriteLock {
 public:
  TReadWriteLock() = default;
  TReadWriteLock(const TReadWriteLock&) = delete;
  TReadWriteLock& operator=(const TReadWriteLock&) = delete;

  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();
  // True when the calling thread holds the write lock.
  bool IsWriter() const;

 private:
  std::shared_mutex mutex_;
  // Set only by the thread that holds the write lock, so a thread finds
  // its own id here exactly while it is the writer.
  std::atomic<std::thread::id> writer_{};
  // Nesting depth of the writer; touched only by the writer.
  int depth_ = 0;
};

class TReadLockGuard {
 public:
  explicit TReadLockGuard(TReadWriteLock& lock) : lock_(lock) { lock_.BeginRead(); }
  ~TReadLockGuard() { lock_.EndRead(); }
  TReadLockGuard(const TReadLockGuard&) = delete;
  TReadLockGuard& operator=(const TReadLockGuard&) = delete;

 private:
  TReadWriteLock& lock_;
};

class TWriteLockGuard {
 public:
  explicit TWriteLockGuard(TReadWriteLock& lock) : lock_(lock) { lock_.BeginWrite(); }
  ~TWriteLockGuard() { lock_.EndWrite(); }
  TWriteLockGuard(const TWriteLockGuard&) = delete;
  TWriteLockGuard& operator=(const TWriteLockGuard&) = delete;

 private:
  TReadWriteLock& lock_;
};

}  // namespace ah
