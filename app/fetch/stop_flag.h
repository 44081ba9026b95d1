#pragma once
// A request to end a run early, set from a signal handler or another
// thread and read by the run at its steps, in its waits and during image
// transfers.

#include <atomic>
#include <chrono>

namespace ah {

class StopFlag {
 public:
  // Safe in a signal handler.
  void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  void Clear() noexcept { requested_.store(false, std::memory_order_relaxed); }
  bool Requested() const noexcept { return requested_.load(std::memory_order_relaxed); }

  // Sleeps for `duration`, waking early when a stop is requested; false
  // when it was.
  bool SleepFor(std::chrono::milliseconds duration) const;

 private:
  std::atomic<bool> requested_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
};

// Whether `stop` (may be null) asks the run to end.
inline bool StopRequested(const StopFlag* stop) { return stop && stop->Requested(); }

// Sleeps for `duration`, waking early when `stop` (may be null) asks the run
// to end; false when it did.
bool SleepUnlessStopped(const StopFlag* stop, std::chrono::milliseconds duration);

}  // namespace ah
