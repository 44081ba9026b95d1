#include "app/harvest/job_pool.h"

#include <signal.h>

#include <system_error>
#include <utility>

namespace ah {

JobPool::JobPool(JobTools tools) : inline_tools_(std::move(tools)) {}

JobPool::JobPool(std::vector<JobTools> jobs, std::function<int()> in_use)
    : jobs_(std::move(jobs)), in_use_(std::move(in_use)) {
  // The threads inherit this mask: a stop signal then reaches the thread
  // that runs the harvest, never one blocked in a transfer.
  sigset_t stop, previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, &previous);
  threads_.reserve(jobs_.size());
  for (JobTools& tools : jobs_) {
    try {
      threads_.emplace_back([this, &tools, index = int(threads_.size())] { Serve(tools, index); });
    } catch (const std::system_error&) {
      // Out of threads: the jobs that started share the work, or the
      // caller does it itself when none did.
      break;
    }
  }
  if (threads_.empty() && !jobs_.empty()) inline_tools_ = jobs_.front();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

JobPool::~JobPool() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    queue_.clear();
  }
  work_ready_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void JobPool::RunTask(Task& task, JobTools& tools) {
  try {
    task.work_(tools);
  } catch (...) {
    task.error_ = std::current_exception();
  }
  // What the work holds (its captures) goes with it, on this thread.
  task.work_ = nullptr;
}

JobPool::TaskRef JobPool::Submit(Work work) {
  auto task = std::make_shared<Task>(std::move(work));
  if (threads_.empty()) {
    RunTask(*task, inline_tools_);
    std::lock_guard lock(mutex_);
    task->done_ = true;
    ++finished_;
    return task;
  }
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(task);
  }
  work_ready_.notify_one();
  return task;
}

bool JobPool::Done(const TaskRef& task) const {
  std::exception_ptr error;
  {
    std::lock_guard lock(mutex_);
    if (!task->done_) return false;
    error = std::exchange(task->error_, nullptr);
  }
  if (error) std::rethrow_exception(error);
  return true;
}

uint64_t JobPool::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void JobPool::WaitPast(uint64_t finished, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  work_done_.wait_for(lock, limit, [&] { return finished_ > finished; });
}

void JobPool::Serve(JobTools& tools, int index) {
  for (;;) {
    TaskRef task;
    {
      std::unique_lock lock(mutex_);
      work_ready_.wait(lock, [&] { return closing_ || !queue_.empty(); });
      if (!InUse(index)) {
        // The work it was woken for goes to a job still in use.
        lock.unlock();
        work_ready_.notify_one();
        return;
      }
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    RunTask(*task, tools);
    {
      std::lock_guard lock(mutex_);
      task->done_ = true;
      ++finished_;
    }
    work_done_.notify_all();
  }
}

}  // namespace ah
