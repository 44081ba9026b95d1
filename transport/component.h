#pragma once
// The root of every network component: status and work events, the shared
// socket stack kept alive while any component exists, and the anti-freeze
// hook through which blocking waits can keep a user interface responsive.

#include <cstdint>
#include <functional>
#include <string>

#include "framework/component.h"

namespace ah {

class TIdStack;

// Time-out arguments in milliseconds, besides 0 (poll) and positive limits.
constexpr int UseReadTimeout = -1;  // the connection's ReadTimeout; 0 there means no limit
constexpr int WaitForever = -2;

enum TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

enum TWorkMode { wmRead, wmWrite };

// Formats with one string argument, indexed by TIdStatus.
extern const char* const StatusTexts[9];

using TIdStatusEvent =
    std::function<void(TComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent =
    std::function<void(TComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEvent = std::function<void(TComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TComponent* Sender, TWorkMode AWorkMode)>;
using TNotifyEvent = std::function<void(TComponent* Sender)>;

class TIdBaseComponent : public TComponent {
 public:
  AH_CLASS_NAME(TIdBaseComponent)
  explicit TIdBaseComponent(TComponent* owner) : TComponent(owner) {}
};

class TIdComponent : public TIdBaseComponent {
 public:
  AH_CLASS_NAME(TIdComponent)
  // Joins the stack's users; the first user creates the stack.
  explicit TIdComponent(TComponent* owner);
  // Leaves the stack's users; the last one frees the stack.
  ~TIdComponent() override;

  // A read or write phase: nested phases of one direction fire one begin and
  // one end; progress outside any phase of its direction is dropped.
  virtual void StartWork(TWorkMode mode, int32_t expected);
  virtual void AdvanceWork(TWorkMode mode, int32_t count);
  virtual void FinishWork(TWorkMode mode);

  // Fires OnStatus with the status's text filled with an empty argument;
  // formats nothing when OnStatus is unassigned.
  void ReportStatus(TIdStatus status);
  void ReportStatus(TIdStatus status, const std::string& argument);

  const TIdStatusEvent& OnStatus() const { return on_status_; }
  void SetOnStatus(TIdStatusEvent handler) { on_status_ = std::move(handler); }
  const TWorkBeginEvent& OnWorkBegin() const { return on_work_begin_; }
  void SetOnWorkBegin(TWorkBeginEvent handler) { on_work_begin_ = std::move(handler); }
  const TWorkEvent& OnWork() const { return on_work_; }
  void SetOnWork(TWorkEvent handler) { on_work_ = std::move(handler); }
  const TWorkEndEvent& OnWorkEnd() const { return on_work_end_; }
  void SetOnWorkEnd(TWorkEndEvent handler) { on_work_end_ = std::move(handler); }

  struct WorkInfo {
    int32_t WorkTotal = 0;
    int32_t WorkMax = 0;
    int32_t WorkLevel = 0;
  };
  const WorkInfo& WorkState(TWorkMode mode) const { return work_[mode]; }

 private:
  TIdStatusEvent on_status_;
  TWorkBeginEvent on_work_begin_;
  TWorkEvent on_work_;
  TWorkEndEvent on_work_end_;
  WorkInfo work_[2];
};

// The process-wide stack; exists while at least one TIdComponent lives.
TIdStack* TheStack();
// Live TIdComponent objects, read under the stack lock.
int32_t StackUserCount();
// How many stacks this process has created so far; tells a fresh stack from a kept one.
int64_t StackGeneration();

class TIdAntiFreezeBase : public TIdBaseComponent {
 public:
  AH_CLASS_NAME(TIdAntiFreezeBase)
  // Registers itself as the process's anti-freeze, replacing any earlier one.
  // In a design environment a second one raises EIdException.
  explicit TIdAntiFreezeBase(TComponent* owner);
  ~TIdAntiFreezeBase() override;

  // Lets the user interface handle its pending events.
  virtual void ServiceEvents() = 0;

  bool Active() const { return active_; }
  void SetActive(bool value) { active_ = value; }
  bool ApplicationHasPriority() const { return application_has_priority_; }
  void SetApplicationHasPriority(bool value) { application_has_priority_ = value; }
  int32_t IdleTimeOut() const { return idle_time_out_; }
  void SetIdleTimeOut(int32_t value) { idle_time_out_ = value; }
  bool OnlyWhenIdle() const { return only_when_idle_; }
  void SetOnlyWhenIdle(bool value) { only_when_idle_ = value; }

 private:
  bool active_ = true;
  bool application_has_priority_ = true;
  int32_t idle_time_out_ = 250;
  bool only_when_idle_ = true;
};

// The registered anti-freeze, or null.
TIdAntiFreezeBase* TheAntiFreeze();
// A registered, active anti-freeze and a caller on the main thread.
bool AntiFreezeInUse();
// Runs the anti-freeze's ServiceEvents when it is in use and either the
// caller is idle, the anti-freeze does not insist on idle points, or the
// caller overrides.
void KeepResponsive(bool idle, bool override_idle = false);

}  // namespace ah
