#include "thread_budget.h"

#include <algorithm>

#include "container.h"
#include "decoder_types.h"
#include "node_store.h"

namespace tav {

namespace {

// Sum over classes 1..256 of the page bytes one record takes, rounded up.
// Records of higher classes take more, so no mix of classes in which fewer
// nodes reach each higher class averages more than classes 1..256 alike.
uint64_t page_share_sum() {
  uint64_t sum = 0;
  for (uint32_t n = 1; n < CLASS_COUNT; ++n) {
    const uint32_t slots = slots_per_page(n);
    sum += (PAGE_BYTES + slots - 1) / slots;
  }
  return sum;
}

// The store takes node memory in 2 MB chunks and obtains the next chunk
// ahead of need; its page-class table holds 2 bytes per page of budget and
// its block and chunk lists 8 bytes per block and per chunk.
constexpr uint64_t STORE_CHUNKS_BYTES = 4u << 20;
constexpr uint64_t STORE_BYTES_PER_MB = 2 * PAGES_PER_BLOCK + 8 + 4;

}  // namespace

uint64_t model_node_bytes_bound(uint64_t text_bytes, uint32_t order) {
  // Both factors are capped by the format, so the product stays below 2^62.
  const uint64_t text = std::min<uint64_t>(text_bytes, MAX_TEXT_LENGTH);
  const uint64_t levels = std::min<uint64_t>(order, MAX_LEVEL_LIMIT - 1) + 1;
  const uint64_t records = levels * text;
  const uint64_t classes = CLASS_COUNT - 1;
  return (records * page_share_sum() + classes - 1) / classes + uint64_t{CLASS_COUNT} * PAGE_BYTES;
}

uint64_t job_memory_bytes(const JobMemory& job) {
  const uint64_t block = uint64_t{1} << 20;
  const uint64_t bound = model_node_bytes_bound(job.block_bytes, job.order);
  const uint64_t nodes = std::min<uint64_t>(uint64_t{job.memory_mb} << 20, (bound + block - 1) / block * block);
  return nodes + STORE_CHUNKS_BYTES + STORE_BYTES_PER_MB * job.memory_mb + job.block_bytes + job.output_bytes;
}

uint64_t default_memory_limit(uint64_t machine_bytes) { return machine_bytes / 4; }

ThreadPlan plan_threads(const ThreadRequest& r) {
  const unsigned wanted = std::max(1u, r.requested != 0 ? r.requested : r.cores);
  ThreadPlan plan;
  plan.threads = wanted;
  plan.wanted = wanted;
  plan.limit_bytes = r.limit_bytes;
  plan.job_bytes = r.job_bytes;
  // job x wanted > limit, without the product overflowing.
  const bool over = r.limit_bytes != 0 && r.job_bytes > r.limit_bytes / wanted;
  if (!over) return plan;
  plan.threads = static_cast<unsigned>(std::max<uint64_t>(1, r.limit_bytes / r.job_bytes));
  // One thread over the limit is the run without threads: not reduced.
  plan.reduced = plan.threads < wanted;
  return plan;
}

}  // namespace tav
