// Ordered jobs: results reach the consumer in job order, on the calling
// thread, and the first failure in job order is the one reported, whatever the
// threads and job durations.
#include "ordered_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tav {
namespace {

using namespace std::chrono_literals;

constexpr size_t JOBS = 24;
constexpr size_t NO_FAULT = static_cast<size_t>(-1);

enum class Fault { none, produce, work, consume, work_throws };

struct Case {
  unsigned threads;
  unsigned in_flight;
  Fault fault;
  size_t at;  // index of the failing job
};

struct Record {
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<size_t> consumed;
  std::atomic<int> working{0};
  std::atomic<int> worked_on_caller{0};
  int ends_off_caller = 0;  // producer or consumer calls off the calling thread
  size_t produced = 0;
  size_t max_alive = 0;
};

OrderedJobs<size_t, size_t, std::string> make_jobs(const Case& c, Record& rec) {
  OrderedJobs<size_t, size_t, std::string> jobs;
  jobs.produce = [&c, &rec](size_t i, size_t& in, std::string& err) {
    if (c.fault == Fault::produce && i == c.at) return err = "no input " + std::to_string(i), NextJob::failed;
    rec.ends_off_caller += std::this_thread::get_id() != rec.caller;
    if (i == JOBS) return NextJob::end;
    in = i;
    ++rec.produced;
    rec.max_alive = std::max(rec.max_alive, rec.produced - rec.consumed.size());
    return NextJob::ready;
  };
  jobs.work = [&c, &rec](size_t& in, size_t& out, std::string& err, std::stop_token) {
    ++rec.working;
    rec.worked_on_caller += std::this_thread::get_id() == rec.caller;
    std::mt19937 rng(static_cast<uint32_t>(in * 7919 + c.threads));
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    --rec.working;
    if (c.fault == Fault::work_throws && in == c.at) throw std::runtime_error("thrown");
    if (c.fault == Fault::work && in == c.at) return err = "bad job " + std::to_string(in), false;
    out = in * in;
    return true;
  };
  jobs.consume = [&c, &rec](size_t i, size_t& out, std::string& err) {
    EXPECT_EQ(out, i * i);
    rec.ends_off_caller += std::this_thread::get_id() != rec.caller;
    if (c.fault == Fault::consume && i == c.at) return err = "full disk", false;
    rec.consumed.push_back(i);
    return true;
  };
  return jobs;
}

TEST(OrderedJobs, OrderAndFirstFailureDoNotDependOnThreads) {
  std::vector<Case> cases;
  for (const unsigned n : {1u, 2u, 3u, 8u})
    for (const unsigned k : {0u, 1u, n, n + 2})
      for (const Fault f : {Fault::none, Fault::produce, Fault::work, Fault::consume, Fault::work_throws})
        for (const size_t at : {size_t{0}, size_t{5}, JOBS - 1}) {
          if (f == Fault::none && at != 0) continue;
          cases.push_back({n, k, f, f == Fault::none ? NO_FAULT : at});
        }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "threads " << c.threads << " in_flight " << c.in_flight
                                    << " fault " << static_cast<int>(c.fault) << " at " << c.at);
    Record rec;
    const auto jobs = make_jobs(c, rec);
    if (c.fault == Fault::work_throws) {
      EXPECT_THROW(run_ordered_jobs(jobs, {c.threads, c.in_flight}), std::runtime_error);
    } else {
      const auto r = run_ordered_jobs(jobs, {c.threads, c.in_flight});
      ASSERT_EQ(r.failure.has_value(), c.fault != Fault::none);
      if (r.failure) {
        EXPECT_EQ(r.failure->job, c.at);
        const JobStage stage = c.fault == Fault::produce ? JobStage::produce
                               : c.fault == Fault::work  ? JobStage::work
                                                         : JobStage::consume;
        EXPECT_EQ(r.failure->stage, stage);
      }
      EXPECT_EQ(r.jobs_consumed, rec.consumed.size());
      EXPECT_EQ(r.threads_used, c.threads == 1 ? 0u : c.threads);
    }
    EXPECT_EQ(rec.working.load(), 0);  // no worker outlives the call
    EXPECT_EQ(rec.ends_off_caller, 0);
    if (c.threads > 1) {
      EXPECT_EQ(rec.worked_on_caller, 0);
    } else if (rec.produced > 0) {
      EXPECT_GT(rec.worked_on_caller, 0);  // one thread: no worker at all
    }
    const size_t expect_consumed = c.fault == Fault::none ? JOBS : c.at;
    if (c.fault != Fault::work_throws) {
      ASSERT_EQ(rec.consumed.size(), expect_consumed);
      for (size_t i = 0; i < expect_consumed; ++i) EXPECT_EQ(rec.consumed[i], i);
    }
    const size_t window = c.in_flight == 0 ? c.threads + 1 : c.in_flight;
    if (c.threads > 1) {
      EXPECT_LE(rec.max_alive, window);
    }
  }
}

// A slow earlier failure wins over a quick later one, and the later failure
// asks the jobs after it to stop: job 1 fails only once job 3, started before
// job 2 failed, has seen its stop request (each waits at most 5 s).
TEST(OrderedJobs, EarlierFailureWinsAndLaterJobsStop) {
  OrderedJobs<int, int, std::string> jobs;
  jobs.produce = [](size_t i, int& in, std::string&) {
    in = static_cast<int>(i);
    return i < 6 ? NextJob::ready : NextJob::end;
  };
  std::atomic<bool> started{false}, stopped{false};
  const auto wait_for = [](const std::atomic<bool>& flag, std::stop_token stop = {}) {
    const auto give_up = std::chrono::steady_clock::now() + 5s;
    while (!flag && !stop.stop_requested() && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(1ms);
  };
  jobs.work = [&](int& in, int& out, std::string& err, std::stop_token stop) {
    out = in;
    if (in == 1) wait_for(stopped);
    if (in < 2 && stop.stop_requested()) return err = "job before the failure stopped", false;
    if (in == 2) wait_for(started);
    if (in == 3) {
      started = true;
      wait_for(std::atomic<bool>{false}, stop);
      stopped = stop.stop_requested();
      return err = "stopped", false;
    }
    if (in == 1 || in == 2) return err = "job " + std::to_string(in), false;
    return true;
  };
  std::vector<size_t> consumed;
  jobs.consume = [&](size_t i, int&, std::string&) { return consumed.push_back(i), true; };
  const auto start = std::chrono::steady_clock::now();
  const auto r = run_ordered_jobs(jobs, {4, 5});
  ASSERT_TRUE(r.failure);
  EXPECT_EQ(r.failure->job, 1u);
  EXPECT_EQ(r.failure->error, "job 1");
  EXPECT_EQ(consumed, std::vector<size_t>{0});
  EXPECT_TRUE(stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

}  // namespace
}  // namespace tav
