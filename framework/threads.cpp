#include "framework/threads.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace ah {

namespace {

std::thread::id& MainThreadId() {
  static std::thread::id id = std::this_thread::get_id();
  return id;
}

// Captures the id during static initialisation, on the process's first thread.
const bool kMainThreadCaptured = (MainThreadId(), true);

}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == MainThreadId(); }

void RegisterMainThread() { MainThreadId() = std::this_thread::get_id(); }

void SleepMs(int64_t ms) {
  if (ms <= 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace ah
