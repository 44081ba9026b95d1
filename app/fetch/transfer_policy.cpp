#include "app/fetch/transfer_policy.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>

#include "app/fetch/stop_flag.h"
#include "framework/date_time.h"
#include "http/protocol_utils.h"

namespace ah {
namespace {

// Longer waits than this all read as this.
constexpr int kDayMs = 86400 * 1000;

AttemptsResult& Interrupted(AttemptsResult& result) {
  result.failure = TransferFailure{TransferError::kCancelled, 0, {}, "Interrupted."};
  return result;
}

}  // namespace

bool TransferPolicy::IsTransient(const TransferFailure& failure) {
  switch (failure.error) {
    case TransferError::kConnection:
    case TransferError::kTimeout:
    case TransferError::kOther:
      return true;
    case TransferError::kStatus:
      return failure.status >= 500 || failure.status == 429;
    case TransferError::kCertificate:
    case TransferError::kAddress:
    case TransferError::kTooLarge:
    case TransferError::kLocalFile:
    case TransferError::kContent:
    case TransferError::kCancelled:
      return false;
  }
  return false;
}

int TransferPolicy::WaitBeforeMs(int next, const TransferFailure& failure) const {
  int wait = 0;
  if (!waits_ms.empty()) wait = waits_ms[size_t(std::clamp<int>(next - 2, 0, int(waits_ms.size()) - 1))];
  if (failure.error == TransferError::kStatus && !failure.retry_after.empty()) {
    if (auto asked = ParseRetryAfterMs(failure.retry_after))
      wait = std::max(wait, std::min(*asked, retry_after_limit_ms));
  }
  return std::max(wait, 0);
}

std::optional<int> ParseRetryAfterMs(std::string_view value) {
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  if (value.empty()) return std::nullopt;
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    long long seconds = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec == std::errc::result_out_of_range || seconds > kDayMs / 1000) return kDayMs;
    if (ec != std::errc() || end != value.data() + value.size()) return std::nullopt;
    return int(seconds * 1000);
  }
  try {
    std::string text(value);
    std::string probe = text;
    if (ParseInternetDate(probe) == 0) return std::nullopt;
    const double days = InternetDateToLocal(text) - Now();
    return int(std::clamp(days * kDayMs, 0.0, double(kDayMs)));
  } catch (...) {
    return std::nullopt;
  }
}

AttemptsResult RunAttempts(const TransferPolicy& policy, const StopFlag* stop,
                           const TransferAttempt& attempt) {
  AttemptsResult result;
  for (int number = 1;; ++number) {
    if (StopRequested(stop)) return Interrupted(result);
    result.attempts = number;
    result.failure = attempt(number);
    // A stop cuts the transfer under way short; that is no failure of it.
    if (result.failure && StopRequested(stop)) return Interrupted(result);
    if (!result.failure || number >= policy.attempts || !TransferPolicy::IsTransient(*result.failure))
      return result;
    const std::chrono::milliseconds wait(policy.WaitBeforeMs(number + 1, *result.failure));
    if (!SleepUnlessStopped(stop, wait)) return Interrupted(result);
  }
}

}  // namespace ah
