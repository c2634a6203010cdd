// Ordered parallel jobs: runs jobs 0, 1, 2, ... of a sequence on worker
// threads and hands their results back in job order, on the calling thread.
//
// The calling thread obtains each job's input from `produce` (in order, e.g.
// "read the next block"), and gives each result to `consume` strictly in job
// order (e.g. "write member i"); only `work` runs on the workers.  So what the
// consumer sees never depends on the number of threads, and neither producer
// nor consumer needs a lock.
//
// Invariants:
//   - at most `in_flight` jobs exist at once (produced, not yet consumed), so
//     memory stays bounded by in_flight x (input + output of one job);
//   - the outcome is that of a sequential run: jobs before the first failure
//     (in job order) are all consumed, nothing after it is, and that failure
//     is the one reported, whatever the threads' timing.  A failure of job f
//     asks only jobs after f to stop; earlier jobs run on, since one of them
//     may fail first;
//   - when the call returns (or throws), no worker is left running;
//   - one thread runs everything on the calling thread, with no thread at all;
//     workers the system refuses to start leave fewer workers, or none.
// A callback that throws ends the run like a failure at its job; the
// exception is rethrown on the calling thread once the workers are gone.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace tav {

enum class JobStage { produce, work, consume };

// What `produce` says about the next job.
enum class NextJob { ready, end, failed };

template <class E>
struct JobFailure {
  size_t job;      // index of the job whose input, work or output failed
  JobStage stage;
  E error;
};

template <class In, class Out, class E>
struct OrderedJobs {
  // Calling thread, once per index in order: fills `in` with job `index`'s
  // input and returns ready, or returns end, or fills `err` and returns failed.
  std::function<NextJob(size_t index, In& in, E& err)> produce;
  // Any thread: fills `out` and returns true, or fills `err` and returns false.
  // `stop` is requested when the job's result is no longer wanted (a job
  // before it failed); a job may then give up early with any error.
  std::function<bool(In& in, Out& out, E& err, std::stop_token stop)> work;
  // Calling thread, in job order: takes job `index`'s result; false (with
  // `err`) stops the run.
  std::function<bool(size_t index, Out& out, E& err)> consume;
};

struct JobLimits {
  unsigned threads = 1;    // workers; 0 or 1 runs everything on the calling thread
  unsigned in_flight = 0;  // jobs alive at once (0: threads + 1); below threads, workers idle
};

template <class E>
struct JobsOutcome {
  std::optional<JobFailure<E>> failure;  // empty when every job was consumed
  size_t jobs_consumed = 0;
  unsigned threads_used = 0;  // workers actually started (0: calling thread only)
};

namespace ordered_jobs_detail {

template <class In, class Out, class E>
struct Slot {
  size_t index = 0;
  In in{};
  Out out{};
  E error{};
  std::stop_source stop;
  std::exception_ptr thrown;
  bool done = false;
  bool ok = false;
};

// The workers and the window of jobs in flight, shared under one mutex.
template <class In, class Out, class E>
class Runner {
  using SlotT = Slot<In, Out, E>;

 public:
  Runner(const OrderedJobs<In, Out, E>& jobs, JobLimits limits) : jobs_(jobs), limits_(limits) {}

  ~Runner() { shut_down(); }

  JobsOutcome<E> run() {
    start_workers();
    if (workers_.empty()) return run_inline();
    return run_parallel();
  }

 private:
  static bool do_work(const OrderedJobs<In, Out, E>& jobs, SlotT& s) {
    try {
      return jobs.work(s.in, s.out, s.error, s.stop.get_token());
    } catch (...) {
      s.thrown = std::current_exception();
      return false;
    }
  }

  // Starts up to `threads` workers; a refusal by the system keeps those
  // already running.  A single worker would only add a hand-over to the
  // calling thread's work, so it is never started.
  void start_workers() {
    if (limits_.threads <= 1) return;
    workers_.reserve(limits_.threads);
    for (unsigned i = 0; i < limits_.threads; ++i) {
      try {
        workers_.emplace_back([this] { worker_loop(); });
      } catch (const std::system_error&) {
        break;
      }
    }
    if (workers_.size() == 1) shut_down();
  }

  void shut_down() {
    {
      const std::lock_guard lock(mutex_);
      closing_ = true;
    }
    work_ready_.notify_all();
    workers_.clear();  // joins
  }

  void worker_loop() {
    for (;;) {
      SlotT* s = nullptr;
      {
        std::unique_lock lock(mutex_);
        work_ready_.wait(lock, [&] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;
        s = queue_.front();
        queue_.pop_front();
      }
      const bool ok = s->stop.stop_requested() ? false : do_work(jobs_, *s);
      s->in = In{};  // the input is not needed past its job: hold only the output
      {
        const std::lock_guard lock(mutex_);
        s->ok = ok;
        s->done = true;
        if (!ok) note_failure(s->index);
      }
      job_done_.notify_all();
    }
  }

  // Under the mutex: jobs after `index` are no longer wanted.
  void note_failure(size_t index) {
    first_failure_ = std::min(first_failure_, index);
    for (const auto& w : window_)
      if (w->index > first_failure_) w->stop.request_stop();
  }

  JobsOutcome<E> run_inline() {
    JobsOutcome<E> r;
    for (size_t i = 0;; ++i) {
      SlotT s;
      s.index = i;
      const NextJob next = jobs_.produce(i, s.in, s.error);
      if (next == NextJob::end) return r;
      if (next == NextJob::failed) return fail(r, i, JobStage::produce, std::move(s.error));
      if (!do_work(jobs_, s)) {
        if (s.thrown) std::rethrow_exception(s.thrown);
        return fail(r, i, JobStage::work, std::move(s.error));
      }
      if (!jobs_.consume(i, s.out, s.error)) return fail(r, i, JobStage::consume, std::move(s.error));
      ++r.jobs_consumed;
    }
  }

  static JobsOutcome<E> fail(JobsOutcome<E>& r, size_t job, JobStage stage, E&& err) {
    r.failure = JobFailure<E>{job, stage, std::move(err)};
    return std::move(r);
  }

  // Produces until the window is full, the sequence ends (`ended`; a producer
  // failure is kept in `producer_failure`) or a job has failed.
  void fill_window(size_t& next, bool& ended, std::optional<JobFailure<E>>& producer_failure) {
    // The window, not the worker count, bounds memory: with fewer slots than
    // workers the extra workers idle.
    const size_t cap = std::max<size_t>(1, limits_.in_flight == 0 ? limits_.threads + 1 : limits_.in_flight);
    while (!ended && window_size() < cap && !failure_known()) {
      auto s = std::make_unique<SlotT>();
      s->index = next;
      const NextJob n = jobs_.produce(next, s->in, s->error);
      if (n != NextJob::ready) {
        ended = true;
        if (n == NextJob::failed)
          producer_failure = JobFailure<E>{next, JobStage::produce, std::move(s->error)};
        return;
      }
      ++next;
      {
        const std::lock_guard lock(mutex_);
        queue_.push_back(s.get());
        window_.push_back(std::move(s));
      }
      work_ready_.notify_one();
    }
  }

  size_t window_size() {
    const std::lock_guard lock(mutex_);
    return window_.size();
  }
  bool failure_known() {
    const std::lock_guard lock(mutex_);
    return first_failure_ != NONE;
  }

  // Waits for the oldest job, takes it out of the window and returns it.
  std::unique_ptr<SlotT> take_oldest() {
    std::unique_lock lock(mutex_);
    job_done_.wait(lock, [&] { return window_.front()->done; });
    auto s = std::move(window_.front());
    window_.pop_front();
    return s;
  }

  void stop_all() {
    const std::lock_guard lock(mutex_);
    first_failure_ = 0;
    for (const auto& w : window_) w->stop.request_stop();
  }

  JobsOutcome<E> run_parallel() {
    JobsOutcome<E> r;
    r.threads_used = static_cast<unsigned>(workers_.size());
    size_t next = 0;
    bool ended = false;
    std::optional<JobFailure<E>> producer_failure;
    try {
      for (;;) {
        fill_window(next, ended, producer_failure);
        if (window_size() == 0) break;
        auto s = take_oldest();
        if (!s->ok) {
          stop_all();
          shut_down();
          if (s->thrown) std::rethrow_exception(s->thrown);
          return fail(r, s->index, JobStage::work, std::move(s->error));
        }
        if (!jobs_.consume(s->index, s->out, s->error)) {
          stop_all();
          shut_down();
          return fail(r, s->index, JobStage::consume, std::move(s->error));
        }
        ++r.jobs_consumed;
      }
    } catch (...) {
      stop_all();
      shut_down();
      throw;
    }
    r.failure = std::move(producer_failure);
    return r;
  }

  static constexpr size_t NONE = static_cast<size_t>(-1);

  const OrderedJobs<In, Out, E>& jobs_;
  const JobLimits limits_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable job_done_;
  std::deque<std::unique_ptr<SlotT>> window_;  // produced, not yet consumed, in job order
  std::deque<SlotT*> queue_;                   // produced, not yet taken by a worker
  size_t first_failure_ = NONE;                // lowest index of a failed job
  bool closing_ = false;
  std::vector<std::jthread> workers_;  // last member: joined first
};

}  // namespace ordered_jobs_detail

// Runs the sequence described by `jobs` under `limits` and returns how it
// ended.  Callbacks must be set; `work` must be safe to run on several
// threads at once (each call has its own input and output).  Exceptions
// from a callback are rethrown here after every worker has stopped.
template <class In, class Out, class E>
JobsOutcome<E> run_ordered_jobs(const OrderedJobs<In, Out, E>& jobs, JobLimits limits) {
  ordered_jobs_detail::Runner<In, Out, E> runner(jobs, limits);
  return runner.run();
}

}  // namespace tav
