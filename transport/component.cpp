#include "transport/component.h"

#include <memory>
#include <mutex>

#include "framework/sysutils.h"
#include "framework/threads.h"
#include "transport/exceptions.h"
#include "transport/stack.h"

namespace ah {

const char* const StatusTexts[9] = {
    "Resolving hostname %s.", "Connecting to %s.", "Connected.", "Disconnecting.",
    "Disconnected.",          "%s",                "%s",         "%s",
    "%s"};

namespace {

std::mutex& StackLock() {
  static std::mutex lock;
  return lock;
}

TIdStack* g_stack = nullptr;
int32_t g_stack_users = 0;
int64_t g_stack_generation = 0;
TIdAntiFreezeBase* g_anti_freeze = nullptr;

}  // namespace

TIdComponent::TIdComponent(TComponent* owner) : TIdBaseComponent(owner) {
  std::lock_guard<std::mutex> guard(StackLock());
  if (g_stack_users == 0) {
    g_stack = NewStack().release();
    ++g_stack_generation;
  }
  ++g_stack_users;
}

TIdComponent::~TIdComponent() {
  std::lock_guard<std::mutex> guard(StackLock());
  if (g_stack_users-- == 1) {
    delete g_stack;
    g_stack = nullptr;
  }
}

TIdStack* TheStack() { return g_stack; }

int32_t StackUserCount() {
  std::lock_guard<std::mutex> guard(StackLock());
  return g_stack_users;
}

int64_t StackGeneration() {
  std::lock_guard<std::mutex> guard(StackLock());
  return g_stack_generation;
}

void TIdComponent::StartWork(TWorkMode mode, int32_t expected) {
  WorkInfo& w = work_[mode];
  if (++w.WorkLevel == 1) {
    w.WorkMax = expected;
    w.WorkTotal = 0;
    if (on_work_begin_) on_work_begin_(this, mode, expected);
  }
}

void TIdComponent::AdvanceWork(TWorkMode mode, int32_t count) {
  WorkInfo& w = work_[mode];
  if (w.WorkLevel < 1) return;
  // Wraps like the 32-bit counter it is instead of overflowing.
  w.WorkTotal = int32_t(uint32_t(w.WorkTotal) + uint32_t(count));
  if (on_work_) on_work_(this, mode, w.WorkTotal);
}

void TIdComponent::FinishWork(TWorkMode mode) {
  WorkInfo& w = work_[mode];
  if (w.WorkLevel == 1 && on_work_end_) on_work_end_(this, mode);
  --w.WorkLevel;
}

void TIdComponent::ReportStatus(TIdStatus status) { ReportStatus(status, std::string()); }

void TIdComponent::ReportStatus(TIdStatus status, const std::string& argument) {
  if (!on_status_) return;
  on_status_(this, status, Format(StatusTexts[status], argument.c_str()));
}

TIdAntiFreezeBase::TIdAntiFreezeBase(TComponent* owner) : TIdBaseComponent(owner) {
  if (IsDesigning() && g_anti_freeze)
    throw EIdException("Only one TIdAntiFreeze can exist per application.");
  g_anti_freeze = this;
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() { g_anti_freeze = nullptr; }

TIdAntiFreezeBase* TheAntiFreeze() { return g_anti_freeze; }

bool AntiFreezeInUse() { return g_anti_freeze && IsMainThread() && g_anti_freeze->Active(); }

void KeepResponsive(bool idle, bool override_idle) {
  if (!AntiFreezeInUse()) return;
  if ((idle || !g_anti_freeze->OnlyWhenIdle() || override_idle) && g_anti_freeze->Active())
    g_anti_freeze->ServiceEvents();
}

}  // namespace ah
