// The memory plan: threads within the limit, the notice, and what one job
// holds.
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
    const char* notice;
  } cases[] = {
      {1, 8, GiB, 6 * GiB, 1, ""},
      {0, 8, 512 * MiB, 6 * GiB, 8, ""},      // all cores fit
      {0, 0, GiB, 6 * GiB, 1, ""},            // cores unknown: one
      {4, 2, GiB, 6 * GiB, 4, ""},            // more than the cores when asked
      {8, 8, 3 * GiB / 4, 6 * GiB, 8, ""},    // exactly at the limit
      {8, 8, 3 * GiB / 4 + 1, 6 * GiB, 7, "tav_e: using 7 threads instead of 8 to stay within 6 GiB of memory (8 x 768.0 MiB)"},
      {0, 8, GiB * 21 / 10 + 1, 6 * GiB, 2, "tav_e: using 2 threads instead of 8 to stay within 6 GiB of memory (8 x 2.1 GiB)"},
      {3, 8, 7 * GiB, 6 * GiB, 1, "tav_e: using 1 thread instead of 3 to stay within 6 GiB of memory (3 x 7 GiB)"},
      {1, 8, 7 * GiB, 6 * GiB, 1, ""},        // one thread is never refused
      {8, 8, 7 * GiB, 0, 8, ""},              // no limit known
      {4000000000u, 8, GiB, UINT64_MAX, 4000000000u, ""},  // no overflow
  };
  for (const auto& c : cases) {
    const ThreadPlan p = plan_threads({c.requested, c.cores, c.job, c.limit, "tav_e"});
    EXPECT_EQ(p.threads, c.threads) << c.requested << " " << c.job;
    EXPECT_EQ(p.reduced, *c.notice != '\0');
    EXPECT_EQ(p.notice, c.notice);
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
