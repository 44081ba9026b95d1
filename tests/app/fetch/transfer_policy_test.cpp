#include "app/fetch/transfer_policy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/fetch/stop_flag.h"
#include "framework/date_time.h"
#include "http/protocol_utils.h"

namespace ah {
namespace {

TransferFailure Status(int code, std::string retry_after = "") {
  return TransferFailure{TransferError::kStatus, code, std::move(retry_after), "HTTP/1.1"};
}
TransferFailure Of(TransferError error) { return TransferFailure{error, 0, {}, "x"}; }

TEST(TransferPolicy, TellsTransientFailuresFromPermanentOnes) {
  struct Case {
    TransferFailure failure;
    bool transient;
  } cases[] = {
      {Of(TransferError::kConnection), true}, {Of(TransferError::kTimeout), true},
      {Of(TransferError::kOther), true},      {Status(500), true},
      {Status(503), true},                    {Status(429), true},
      {Status(404), false},                   {Status(403), false},
      {Status(400), false},                   {Of(TransferError::kCertificate), false},
      {Of(TransferError::kAddress), false},   {Of(TransferError::kLocalFile), false},
      {Of(TransferError::kCancelled), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TransferPolicy::IsTransient(c.failure), c.transient)
        << int(c.failure.error) << " " << c.failure.status;
}

TEST(TransferPolicy, WaitsHalfASecondThenASecondAndHonoursRetryAfterUpToTenSeconds) {
  TransferPolicy policy;
  struct Case {
    int next;
    TransferFailure failure;
    int wait_ms;
  } cases[] = {
      {2, Of(TransferError::kConnection), 500},
      {3, Of(TransferError::kConnection), 1000},
      {4, Of(TransferError::kConnection), 1000},
      {2, Status(503, "3"), 3000},
      {2, Status(503, "0"), 500},
      {3, Status(429, "30"), 10000},
      {2, Status(503, "soon"), 500},
      {2, Status(503, "99999999999999999999"), 10000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(policy.WaitBeforeMs(c.next, c.failure), c.wait_ms) << c.next << " " << c.failure.retry_after;
  policy.waits_ms = {};
  EXPECT_EQ(policy.WaitBeforeMs(2, Of(TransferError::kTimeout)), 0);
}

TEST(TransferPolicy, ReadsRetryAfterAsSecondsOrAsADate) {
  EXPECT_EQ(ParseRetryAfterMs("7"), 7000);
  EXPECT_EQ(ParseRetryAfterMs(" 2 "), 2000);
  EXPECT_EQ(ParseRetryAfterMs(""), std::nullopt);
  EXPECT_EQ(ParseRetryAfterMs("-1"), std::nullopt);
  EXPECT_EQ(ParseRetryAfterMs("1.5"), std::nullopt);
  EXPECT_EQ(ParseRetryAfterMs("Wed, 21 Oct 2015 07:28:00 GMT"), 0) << "a date gone by";
  // Five minutes from now, written as servers write it.
  const std::string later = FormatInternetDate(Now() + 300.0 / 86400, false);
  auto wait = ParseRetryAfterMs(later);
  ASSERT_TRUE(wait) << later;
  EXPECT_GT(*wait, 290000) << later;
  EXPECT_LE(*wait, 300000) << later;
}

TEST(TransferPolicy, AttemptsStopAtSuccessAtAPermanentFailureOrAtTheLimit) {
  TransferPolicy policy;
  policy.waits_ms = {};
  struct Case {
    const char* name;
    std::vector<std::optional<TransferFailure>> script;
    int attempts;
    bool failed;
  } cases[] = {
      {"first time", {std::nullopt}, 1, false},
      {"third time", {Of(TransferError::kConnection), Status(502), std::nullopt}, 3, false},
      {"never", {Of(TransferError::kTimeout), Of(TransferError::kTimeout), Of(TransferError::kTimeout), std::nullopt}, 3, true},
      {"permanent", {Status(404), std::nullopt}, 1, true},
  };
  for (const auto& c : cases) {
    size_t next = 0;
    AttemptsResult result = RunAttempts(policy, nullptr, [&](int number) {
      EXPECT_EQ(number, int(next) + 1) << c.name;
      return c.script[next++];
    });
    EXPECT_EQ(result.attempts, c.attempts) << c.name;
    EXPECT_EQ(result.failure.has_value(), c.failed) << c.name;
  }
  policy.attempts = 1;
  int calls = 0;
  RunAttempts(policy, nullptr, [&](int) {
    ++calls;
    return std::optional<TransferFailure>(Of(TransferError::kConnection));
  });
  EXPECT_EQ(calls, 1);
}

TEST(TransferPolicy, AStopCutsTheWaitBetweenAttemptsShort) {
  TransferPolicy policy;
  policy.waits_ms = {60000};
  StopFlag stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.Request();
  });
  int calls = 0;
  AttemptsResult result = RunAttempts(policy, &stop, [&](int) {
    ++calls;
    return std::optional<TransferFailure>(Of(TransferError::kConnection));
  });
  stopper.join();
  EXPECT_EQ(calls, 1);
  ASSERT_TRUE(result.failure);
  EXPECT_EQ(result.failure->error, TransferError::kCancelled);
  // Asked to stop before the first attempt: none is made.
  calls = 0;
  RunAttempts(policy, &stop, [&](int) {
    ++calls;
    return std::optional<TransferFailure>();
  });
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace ah
