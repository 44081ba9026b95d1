#include "app/fetch/site_pace.h"

#include <algorithm>

#include "app/fetch/stop_flag.h"

namespace ah {

SitePace::SitePace(const PaceSettings& settings)
    : wait_(std::max(settings.wait, std::chrono::milliseconds::zero())),
      jobs_asked_(std::max(settings.jobs, 1)),
      in_use_(jobs_asked_) {
  if (settings.limit_rate <= 0) return;
  // Each job and the run's own thread may each be a read ahead.
  const int64_t readers = jobs_asked_ + 1;
  piece_ = std::clamp<int64_t>(settings.limit_rate * kRateWindow.count() / (8 * readers), 1024, 32 * 1024);
  limit_ = std::make_unique<RateLimit>(settings.limit_rate, readers * piece_);
}

void SitePace::Overloaded(uint64_t halvings) {
  // Only the first of the answers to requests that went out before a
  // halving halves: they all told of the same pressure.
  if (!halvings_.compare_exchange_strong(halvings, halvings + 1, std::memory_order_relaxed)) return;
  int jobs = in_use_.load(std::memory_order_relaxed);
  while (jobs > 1 && !in_use_.compare_exchange_weak(jobs, jobs / 2, std::memory_order_relaxed)) {
  }
}

bool SaysOverloaded(const TransferFailure& failure) {
  return failure.error == TransferError::kStatus && (failure.status == 429 || failure.status == 503);
}

bool JobPace::BeforeRequest(const StopFlag* stop) {
  if (!site_) return true;
  halvings_ = site_->Halvings();
  const bool pause = !first_ && site_->Wait().count() > 0;
  first_ = false;
  return !pause || SleepUnlessStopped(stop, site_->Wait());
}

void JobPace::AfterFailure(const TransferFailure& failure) {
  if (site_ && SaysOverloaded(failure)) site_->Overloaded(halvings_);
}

}  // namespace ah
