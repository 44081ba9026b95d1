#include "transport/component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "transport/exceptions.h"
#include "transport/stack.h"

namespace ah {
namespace {

struct Recorded {
  std::vector<std::string> events;
};

void Record(TIdComponent& c, Recorded& r) {
  c.SetOnWorkBegin([&r](TComponent*, TWorkMode m, int32_t max) {
    r.events.push_back("begin " + std::to_string(int(m)) + " " + std::to_string(max));
  });
  c.SetOnWork([&r](TComponent*, TWorkMode m, int32_t n) {
    r.events.push_back("work " + std::to_string(int(m)) + " " + std::to_string(n));
  });
  c.SetOnWorkEnd(
      [&r](TComponent*, TWorkMode m) { r.events.push_back("end " + std::to_string(int(m))); });
}

TEST(IdComponent, NestedWorkPhasesFireOneBeginAndOneEnd) {
  TIdComponent c(nullptr);
  Recorded r;
  Record(c, r);
  c.StartWork(wmRead, 100);
  c.StartWork(wmRead, 50);
  c.AdvanceWork(wmRead, 10);
  c.FinishWork(wmRead);
  EXPECT_EQ(r.events.size(), 2u);
  c.FinishWork(wmRead);
  EXPECT_EQ(r.events, (std::vector<std::string>{"begin 0 100", "work 0 10", "end 0"}));
  EXPECT_EQ(c.WorkState(wmRead).WorkMax, 100);
  EXPECT_EQ(c.WorkState(wmRead).WorkLevel, 0);
}

TEST(IdComponent, ProgressOutsideAPhaseIsDropped) {
  TIdComponent c(nullptr);
  Recorded r;
  Record(c, r);
  c.AdvanceWork(wmWrite, 5);
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(c.WorkState(wmWrite).WorkTotal, 0);
  // Directions are independent: an open read phase does not admit writes.
  c.StartWork(wmRead, 0);
  c.AdvanceWork(wmWrite, 5);
  c.AdvanceWork(wmRead, 3);
  c.AdvanceWork(wmRead, 4);
  c.FinishWork(wmRead);
  EXPECT_EQ(r.events, (std::vector<std::string>{"begin 0 0", "work 0 3", "work 0 7", "end 0"}));
}

TEST(IdComponent, ReportStatusFillsTheFormat) {
  TIdComponent c(nullptr);
  std::vector<std::pair<TIdStatus, std::string>> seen;
  c.SetOnStatus([&](TComponent* sender, TIdStatus s, const std::string& text) {
    EXPECT_EQ(sender, &c);
    seen.emplace_back(s, text);
  });
  c.ReportStatus(hsConnected);
  c.ReportStatus(hsResolving);
  c.ReportStatus(hsResolving, "example.org");
  c.ReportStatus(hsConnecting, "127.0.0.1");
  c.ReportStatus(hsStatusText, "Chunk Started");
  c.ReportStatus(hsDisconnecting);
  c.ReportStatus(hsDisconnected);
  std::vector<std::pair<TIdStatus, std::string>> expected = {
      {hsConnected, "Connected."},
      {hsResolving, "Resolving hostname ."},
      {hsResolving, "Resolving hostname example.org."},
      {hsConnecting, "Connecting to 127.0.0.1."},
      {hsStatusText, "Chunk Started"},
      {hsDisconnecting, "Disconnecting."},
      {hsDisconnected, "Disconnected."}};
  EXPECT_EQ(seen, expected);
}

TEST(IdComponent, StackLivesWhileAnyComponentLives) {
  ASSERT_EQ(StackUserCount(), 0) << "another test leaked a component";
  EXPECT_EQ(TheStack(), nullptr);
  auto a = std::make_unique<TIdComponent>(nullptr);
  int64_t first = StackGeneration();
  TIdStack* stack = TheStack();
  ASSERT_NE(stack, nullptr);
  auto b = std::make_unique<TIdComponent>(nullptr);
  EXPECT_EQ(StackUserCount(), 2);
  a.reset();
  EXPECT_EQ(TheStack(), stack);
  EXPECT_EQ(StackGeneration(), first);
  b.reset();
  EXPECT_EQ(TheStack(), nullptr);
  EXPECT_EQ(StackUserCount(), 0);
  TIdComponent c(nullptr);
  EXPECT_NE(TheStack(), nullptr);
  EXPECT_EQ(StackGeneration(), first + 1);
}

TEST(IdComponent, StackCountHoldsUnderThreads) {
  TIdComponent keep(nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) TIdComponent c(nullptr);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(StackUserCount(), 1);
  EXPECT_NE(TheStack(), nullptr);
}

TEST(IdComponent, OwnerFreesComponentsAndTheStack) {
  {
    TComponent owner(nullptr);
    new TIdComponent(&owner);
    new TIdComponent(&owner);
    EXPECT_EQ(StackUserCount(), 2);
  }
  EXPECT_EQ(StackUserCount(), 0);
}

class CountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  using TIdAntiFreezeBase::TIdAntiFreezeBase;
  void ServiceEvents() override { ++calls; }
  int calls = 0;
};

TEST(AntiFreeze, KeepResponsiveFollowsTheIdleRules) {
  KeepResponsive(true, true);  // nothing registered: nothing to call
  EXPECT_FALSE(AntiFreezeInUse());
  CountingAntiFreeze af(nullptr);
  EXPECT_EQ(TheAntiFreeze(), &af);
  EXPECT_TRUE(AntiFreezeInUse());
  EXPECT_EQ(af.IdleTimeOut(), 250);
  KeepResponsive(false);
  EXPECT_EQ(af.calls, 0);
  KeepResponsive(true);
  EXPECT_EQ(af.calls, 1);
  KeepResponsive(false, true);
  EXPECT_EQ(af.calls, 2);
  af.SetOnlyWhenIdle(false);
  KeepResponsive(false);
  EXPECT_EQ(af.calls, 3);
  af.SetActive(false);
  EXPECT_FALSE(AntiFreezeInUse());
  KeepResponsive(true, true);
  EXPECT_EQ(af.calls, 3);
}

TEST(AntiFreeze, OnlyTheMainThreadUsesIt) {
  CountingAntiFreeze af(nullptr);
  bool in_use_elsewhere = true;
  std::thread([&] {
    in_use_elsewhere = AntiFreezeInUse();
    KeepResponsive(true, true);
  }).join();
  EXPECT_FALSE(in_use_elsewhere);
  EXPECT_EQ(af.calls, 0);
}

TEST(AntiFreeze, DestroyingUnregisters) {
  auto first = std::make_unique<CountingAntiFreeze>(nullptr);
  auto second = std::make_unique<CountingAntiFreeze>(nullptr);
  EXPECT_EQ(TheAntiFreeze(), second.get());
  second.reset();
  EXPECT_EQ(TheAntiFreeze(), nullptr);
}

}  // namespace
}  // namespace ah
