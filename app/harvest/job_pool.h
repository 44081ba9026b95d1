#pragma once
// The jobs of a parallel harvest: N threads, each fetching with
// connections of its own, that take work in the order it was handed over.
// With no threads the pool runs each piece of work at once on the caller's
// thread, so a one-job run makes its requests exactly in the order the run
// asks for them.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ah {

class IHTTPClient;
class ScratchLines;
class ImageFetcher;
class JobPace;

// What one job fetches with. Its client is asked for at every use: the
// caller's own job follows the client slot, which a renewal refills.
struct JobTools {
  std::function<IHTTPClient*()> client;
  ImageFetcher* images = nullptr;
  ScratchLines* scratch = nullptr;
  JobPace* pace = nullptr;
};

class JobPool {
 public:
  using Work = std::function<void(JobTools&)>;

  class Task {
   public:
    explicit Task(Work work) : work_(std::move(work)) {}

   private:
    friend class JobPool;
    Work work_;
    bool done_ = false;  // guarded by the pool's mutex
    std::exception_ptr error_;
  };
  using TaskRef = std::shared_ptr<Task>;

  // Runs every task at once with `tools`, on the caller's thread.
  explicit JobPool(JobTools tools);
  // One thread for each job's tools; stop signals go to other threads.
  // Only the first `in_use()` jobs take more work (all when not given);
  // the number may only fall, and the jobs past it end once their task is
  // done.
  explicit JobPool(std::vector<JobTools> jobs, std::function<int()> in_use = {});
  // Waits for the tasks that are running; those not yet started are
  // dropped.
  ~JobPool();
  JobPool(const JobPool&) = delete;
  JobPool& operator=(const JobPool&) = delete;

  // The jobs the pool was made with (those whose threads could start).
  int Jobs() const { return threads_.empty() ? 1 : int(threads_.size()); }

  TaskRef Submit(Work work);
  // Whether the task has finished; once it has, what its work wrote is
  // the caller's to read, and what it threw comes out of here.
  bool Done(const TaskRef& task) const;

  // How many tasks have finished so far.
  uint64_t Finished() const;
  // Waits until more than `finished` tasks have finished, or `limit`.
  void WaitPast(uint64_t finished, std::chrono::milliseconds limit) const;

 private:
  void Serve(JobTools& tools, int index);
  bool InUse(int index) const { return !in_use_ || index < in_use_(); }
  static void RunTask(Task& task, JobTools& tools);

  JobTools inline_tools_;
  std::vector<JobTools> jobs_;
  std::function<int()> in_use_;
  mutable std::mutex mutex_;
  mutable std::condition_variable work_ready_;
  mutable std::condition_variable work_done_;
  std::deque<TaskRef> queue_;
  uint64_t finished_ = 0;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace ah
