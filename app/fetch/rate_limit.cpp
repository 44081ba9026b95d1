#include "app/fetch/rate_limit.h"

#include <algorithm>

#include "app/fetch/stop_flag.h"

namespace ah {

RateLimit::RateLimit(int64_t bytes_per_second, int64_t ahead, std::chrono::seconds window, Clock clock)
    : clock_(std::move(clock)), paid_until_(clock_()) {
  const double rate = double(std::max<int64_t>(bytes_per_second, 1));
  // A rate so low that the pieces alone would fill a window keeps a quarter
  // of it: the run must still move.
  sustained_ = std::max(rate - double(ahead) / double(window.count()), rate / 4);
}

std::chrono::nanoseconds RateLimit::Take(int64_t bytes) {
  const auto now = clock_();
  std::lock_guard lock(mutex_);
  const auto cost = std::chrono::duration<double>(double(std::max<int64_t>(bytes, 0)) / sustained_);
  paid_until_ = std::max(paid_until_, now) + std::chrono::duration_cast<std::chrono::nanoseconds>(cost);
  return std::max(std::chrono::nanoseconds::zero(),
                  std::chrono::duration_cast<std::chrono::nanoseconds>(paid_until_ - now));
}

bool RateLimit::Pass(int64_t bytes, const StopFlag* stop) {
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(Take(bytes));
  if (wait.count() == 0) return !StopRequested(stop);
  return SleepUnlessStopped(stop, wait);
}

}  // namespace ah
