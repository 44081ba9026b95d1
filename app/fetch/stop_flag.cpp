#include "app/fetch/stop_flag.h"

#include <algorithm>
#include <thread>

namespace ah {

bool StopFlag::SleepFor(std::chrono::milliseconds duration) const {
  // Short slices keep an interrupted run from waiting out a long delay.
  constexpr std::chrono::milliseconds kSlice{20};
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (!Requested()) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kSlice));
  }
  return false;
}

bool SleepUnlessStopped(const StopFlag* stop, std::chrono::milliseconds duration) {
  if (stop) return stop->SleepFor(duration);
  std::this_thread::sleep_for(duration);
  return true;
}

}  // namespace ah
