#pragma once
// One allowance of bytes per second for all the transfers of a run, shared
// by its jobs: a reader counts what it has just received and then waits
// until the allowance has caught up with it.
//
// A reader learns the size of a piece only once it is in, so each reader may
// be one piece ahead of what was counted. The rate the allowance grows at is
// lowered by those pieces (`ahead`, for all readers together), so that no
// window of `window` seconds holds more than rate x window bytes. Time not
// used is not saved up: after an idle spell the next piece waits as long as
// it would have after a busy one.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace ah {

class StopFlag;

// The span no stretch of which may hold more than its share of bytes.
inline constexpr std::chrono::seconds kRateWindow{5};

class RateLimit {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  RateLimit(int64_t bytes_per_second, int64_t ahead, std::chrono::seconds window = kRateWindow,
            Clock clock = std::chrono::steady_clock::now);

  // Counts `bytes` received now; how long the reader waits before it reads
  // on (zero: not at all). Safe from any thread.
  std::chrono::nanoseconds Take(int64_t bytes);
  // Takes and waits; a stop ends the wait at once (false).
  bool Pass(int64_t bytes, const StopFlag* stop);

  // The bytes per second the allowance grows by.
  double Sustained() const { return sustained_; }

 private:
  Clock clock_;
  double sustained_;
  std::mutex mutex_;
  // When everything counted so far has been paid for at the sustained rate.
  std::chrono::steady_clock::time_point paid_until_;
};

}  // namespace ah
