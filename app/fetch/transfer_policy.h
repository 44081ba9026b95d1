#pragma once
// Retries and time-outs: one policy for the sign-in, album pages, photo
// pages and image downloads alike.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "app/fetch/transfer_failure.h"

namespace ah {

class StopFlag;

struct TransferPolicy {
  // Attempts in all, the first included; 1 turns retrying off.
  int attempts = 3;
  // The waits before the second, third, ... attempt; the last one repeats.
  std::vector<int> waits_ms = {500, 1000};
  // A Retry-After is honoured up to this long; a longer one is cut to it.
  int retry_after_limit_ms = 10000;
  int connect_timeout_ms = 30000;
  // The longest wait for the peer's next bytes.
  int read_timeout_ms = 60000;
  // The longest a whole page, the sign-in or an image may take to arrive,
  // however steadily it trickles; never shorter than one wait for the next
  // bytes.
  int page_timeout_ms = 600000;
  int PageDeadlineMs() const { return std::max(page_timeout_ms, read_timeout_ms); }
  // The most a page may hold; a site's pages are far smaller, so a body
  // without end is a hostile or broken one.
  int64_t max_page_bytes = int64_t(64) << 20;

  // Refused or reset connections, time-outs, 5xx and 429 are worth another
  // attempt; other statuses, refused certificates, unusable addresses,
  // replies that are not what was asked for and local file errors are not.
  static bool IsTransient(const TransferFailure& failure);
  // The wait before attempt `next` (2, 3, ...) after `failure`: the longer
  // of the planned wait and the reply's Retry-After, within the limit.
  int WaitBeforeMs(int next, const TransferFailure& failure) const;
};

// A Retry-After value (delta seconds, or an HTTP date taken against the
// local clock) in milliseconds; nullopt when it is neither.
std::optional<int> ParseRetryAfterMs(std::string_view value);

struct AttemptsResult {
  // Empty when an attempt succeeded; else the last attempt's failure, or a
  // kCancelled one when a stop cut a wait short.
  std::optional<TransferFailure> failure;
  int attempts = 0;
};

// One attempt: empty on success, else why it failed. `number` counts from 1.
using TransferAttempt = std::function<std::optional<TransferFailure>(int number)>;

// Makes attempts until one succeeds, a failure is not transient, a stop is
// requested (`stop` may be null) or the policy's attempts are used up,
// waiting between them as the policy says.
AttemptsResult RunAttempts(const TransferPolicy& policy, const StopFlag* stop,
                           const TransferAttempt& attempt);

}  // namespace ah
