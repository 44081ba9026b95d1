#include "app/fetch/site_pace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

namespace ah {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SitePace, TheLimitsArithmetic) {
  Clock::time_point now{};
  RateLimit limit(1000, 0, 5s, [&] { return now; });
  EXPECT_EQ(limit.Take(500), 500ms);
  EXPECT_EQ(limit.Take(500), 1000ms) << "a second reader waits behind the first";
  now += 1s;
  EXPECT_EQ(limit.Take(0), 0ms);
  now += 10s;
  EXPECT_EQ(limit.Take(100), 100ms) << "idle time is not saved up";
  // The pieces read before they are counted come off the rate.
  EXPECT_EQ(RateLimit(1000, 1000, 5s, [&] { return now; }).Take(800), 1000ms);
  EXPECT_EQ(RateLimit(1000, 100000).Sustained(), 250) << "a quarter stays";
  // The pieces of four jobs and the run's thread: an eighth of a window.
  SitePace slow({4, 0ms, 20480}), fast({4, 0ms, 2 << 20});
  EXPECT_EQ(slow.ReadPiece(), 2560);
  EXPECT_EQ(slow.Limit()->Sustained(), 20480 * 7 / 8);
  EXPECT_EQ(fast.ReadPiece(), 32768) << "as the client reads anyway";
  EXPECT_EQ(SitePace({4, 0ms, 0}).Limit(), nullptr);
}

TEST(SitePace, FourReadersStayWithinTheRateOverAnyFiveSeconds) {
  const int64_t rate = 100000, piece = 16384;
  Clock::time_point now{};
  RateLimit limit(rate, 5 * piece, 5s, [&] { return now; });
  std::vector<Clock::time_point> next(4, now);
  std::deque<std::pair<Clock::time_point, int64_t>> window;
  int64_t in_window = 0, most = 0;
  for (int i = 0; i < 2000; ++i) {
    // The reader whose wait ends first reads the next piece.
    auto reader = std::min_element(next.begin(), next.end());
    now = *reader;
    *reader = now + limit.Take(piece);
    window.emplace_back(now, piece);
    in_window += piece;
    while (window.front().first < now - 5s) in_window -= window.front().second, window.pop_front();
    most = std::max(most, in_window);
  }
  EXPECT_LE(most, rate * 5);
  EXPECT_GE(most, rate * 5 * 9 / 10) << "and use most of it";
}

TEST(SitePace, AnOverloadedSiteHalvesTheJobsOnceForTheRequestsOutTogether) {
  SitePace pace({5, 0ms, 0});
  const uint64_t out_together = pace.Halvings();
  pace.Overloaded(out_together);
  pace.Overloaded(out_together);
  EXPECT_EQ(pace.JobsInUse(), 2);
  for (int i = 0; i < 3; ++i) pace.Overloaded(pace.Halvings());
  EXPECT_EQ(pace.JobsInUse(), 1);
  EXPECT_EQ(pace.JobsAsked(), 5);
  EXPECT_TRUE(SaysOverloaded({TransferError::kStatus, 503, {}, ""}));
  EXPECT_FALSE(SaysOverloaded({TransferError::kStatus, 500, {}, ""}));
}

}  // namespace
}  // namespace ah
