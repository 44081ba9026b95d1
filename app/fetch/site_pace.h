#pragma once
// How hard a run presses the site: the pause of each job between its
// requests, the byte rate of the whole run, and the jobs in use, which a
// site that says it is overloaded (429, 503) halves for the rest of the run.
// One SitePace serves a whole run, one JobPace each of its jobs (the run's
// own thread is one).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "app/fetch/rate_limit.h"
#include "app/fetch/transfer_failure.h"

namespace ah {

class StopFlag;

struct PaceSettings {
  int jobs = 1;
  // Before each request of a job but its first (zero: none).
  std::chrono::milliseconds wait{0};
  // Bytes per second of all transfers together (0: no limit).
  int64_t limit_rate = 0;
};

class SitePace {
 public:
  explicit SitePace(const PaceSettings& settings);

  std::chrono::milliseconds Wait() const { return wait_; }
  // Null when there is no limit.
  RateLimit* Limit() const { return limit_.get(); }
  // Under a limit, the most one read of a page or an image takes in, and so
  // may be ahead of what was counted: the pieces of all readers together
  // are an eighth of a window's bytes, within the 1 KiB libcurl reads at
  // least and the 32 KiB the client reads at most.
  int64_t ReadPiece() const { return piece_; }

  int JobsAsked() const { return jobs_asked_; }
  int JobsInUse() const { return in_use_.load(std::memory_order_relaxed); }
  // Counts the halvings, so that a request can tell whether one came since
  // it went out.
  uint64_t Halvings() const { return halvings_.load(std::memory_order_relaxed); }
  // An overloaded site answered a request made after `halvings` halvings:
  // the jobs in use are halved (never below 1), once for all the requests
  // that were out together.
  void Overloaded(uint64_t halvings);

 private:
  const std::chrono::milliseconds wait_;
  const int jobs_asked_;
  int64_t piece_ = 0;
  std::unique_ptr<RateLimit> limit_;
  std::atomic<int> in_use_;
  std::atomic<uint64_t> halvings_{0};
};

// A 429 or 503 reply.
bool SaysOverloaded(const TransferFailure& failure);

class JobPace {
 public:
  explicit JobPace(SitePace* site = nullptr) : site_(site) {}

  SitePace* Site() const { return site_; }
  RateLimit* Limit() const { return site_ ? site_->Limit() : nullptr; }
  int64_t ReadPiece() const { return site_ ? site_->ReadPiece() : 0; }
  // Before each request (each attempt): the pause after the job's first; a
  // stop ends it at once (false).
  bool BeforeRequest(const StopFlag* stop);
  // After each request that failed.
  void AfterFailure(const TransferFailure& failure);

 private:
  SitePace* site_;
  bool first_ = true;
  uint64_t halvings_ = 0;  // when the request went out
};

}  // namespace ah
