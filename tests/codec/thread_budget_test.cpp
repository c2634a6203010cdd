// The memory plan: threads within the limit, and what one job holds.
#include "thread_budget.h"

#include <gtest/gtest.h>

#include "container.h"
#include "decoder_types.h"

namespace tav {
namespace {

constexpr uint64_t MiB = uint64_t{1} << 20, GiB = MiB << 10;

TEST(ThreadBudget, ThreadsStayWithinTheLimit) {
  const struct {
    unsigned requested, cores;
    uint64_t job, limit;
    unsigned threads;
    bool reduced;
  } cases[] = {
      {1, 8, GiB, 6 * GiB, 1, false},
      {0, 8, 512 * MiB, 6 * GiB, 8, false},      // all cores fit
      {0, 0, GiB, 6 * GiB, 1, false},            // cores unknown: one
      {4, 2, GiB, 6 * GiB, 4, false},            // more than the cores when asked
      {8, 8, 3 * GiB / 4, 6 * GiB, 8, false},    // exactly at the limit
      {8, 8, 3 * GiB / 4 + 1, 6 * GiB, 7, true},
      {0, 8, GiB * 21 / 10 + 1, 6 * GiB, 2, true},
      {3, 8, 7 * GiB, 6 * GiB, 1, true},
      {1, 8, 7 * GiB, 6 * GiB, 1, false},        // one thread is never refused
      {8, 8, 7 * GiB, 0, 8, false},              // no limit known
      {4000000000u, 8, GiB, UINT64_MAX, 4000000000u, false},  // no overflow
  };
  for (const auto& c : cases) {
    const ThreadPlan p = plan_threads({c.requested, c.cores, c.job, c.limit});
    EXPECT_EQ(p.threads, c.threads) << c.requested << " " << c.job;
    EXPECT_EQ(p.reduced, c.reduced) << c.requested << " " << c.job;
    if (p.reduced) EXPECT_EQ(p.job_bytes, c.job);
  }
  EXPECT_EQ(default_memory_limit(24 * GiB), 6 * GiB);
  EXPECT_EQ(default_memory_limit(0), 0u);
}

TEST(ThreadBudget, JobMemoryTakesTheSmallerOfBudgetAndBound) {
  // A large block: the budget binds; block and output add up.
  const uint64_t big = job_memory_bytes({1024, 8, 64 * MiB, 70 * MiB});
  EXPECT_GE(big, GiB + 134 * MiB);
  EXPECT_LE(big, GiB + 134 * MiB + 5 * MiB);
  // A tiny block cannot fill a large budget.
  const uint64_t tiny = job_memory_bytes({32767, 2, 1000, 2000});
  EXPECT_LT(tiny, 32 * MiB);
  EXPECT_GE(tiny, model_node_bytes_bound(1000, 2));
  // The bound grows with the text and the order.
  EXPECT_LT(model_node_bytes_bound(1000, 2), model_node_bytes_bound(2000, 2));
  EXPECT_LT(model_node_bytes_bound(1000, 2), model_node_bytes_bound(1000, 3));
  EXPECT_EQ(model_node_bytes_bound(UINT64_MAX, 5000),
            model_node_bytes_bound(MAX_TEXT_LENGTH, MAX_LEVEL_LIMIT - 1));
}

}  // namespace
}  // namespace tav
