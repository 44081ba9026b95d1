#include "framework/rw_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace ah {
namespace {

TEST(ReadWriteLock, TheWriterMayEnterAgainAndRead) {
  TReadWriteLock lock;
  lock.BeginWrite();
  lock.BeginWrite();
  lock.BeginRead();
  EXPECT_TRUE(lock.IsWriter());
  lock.EndRead();
  lock.EndWrite();
  EXPECT_TRUE(lock.IsWriter());
  lock.EndWrite();
  EXPECT_FALSE(lock.IsWriter());

  // Released for good: another thread can write now.
  bool wrote = false;
  std::thread other([&] {
    TWriteLockGuard guard(lock);
    wrote = lock.IsWriter();
  });
  other.join();
  EXPECT_TRUE(wrote);
}

TEST(ReadWriteLock, ReadersShareTheLock) {
  TReadWriteLock lock;
  TReadLockGuard mine(lock);
  std::atomic<bool> read{false};
  std::thread other([&] {
    TReadLockGuard guard(lock);
    read = true;
  });
  other.join();  // would never return if readers excluded each other
  EXPECT_TRUE(read);
}

// Writers keep two counters equal, readers check them; bounded counts.
TEST(ReadWriteLock, ReadersNeverSeeAHalfDoneWrite) {
  TReadWriteLock lock;
  long first = 0, second = 0;
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        TWriteLockGuard outer(lock);
        ++first;
        TWriteLockGuard inner(lock);
        ++second;
      }
    });
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        TReadLockGuard guard(lock);
        if (first != second) ++torn;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(first, 40000);
  EXPECT_EQ(second, 40000);
}

}  // namespace
}  // namespace ah
