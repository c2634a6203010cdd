// The memory plan of a run in blocks: how many blocks may be compressed (or
// decoded) side by side so that threads x (memory of one job) stays within a
// limit.  Pure functions of their arguments; the caller reads the machine.
//
// One job holds its block, its output, and a model whose node memory is the
// smaller of its budget and what a model can take for a block of that size
// at all.  The plan never goes below one thread: a single job is the run
// without threads, which the limit does not refuse (the node store's own
// machine limit covers it).
#pragma once

#include <cstdint>

namespace tav {

// Node memory, in bytes, that a model of order `order` can take for a text of
// `text_bytes` bytes, whatever its budget.  Each level of each byte allocates
// at most one node record (a grown node or an expanded successor) and a node's
// records rise one class at a time, so the records of class n are at most the
// nodes that reach class n; with the store's pages that gives at most
// (order + 1) x text_bytes records at the average page share of classes 1..256,
// plus one partly used page per class.
uint64_t model_node_bytes_bound(uint64_t text_bytes, uint32_t order);

struct JobMemory {
  uint32_t memory_mb = 0;     // node budget
  uint32_t order = 0;
  uint64_t block_bytes = 0;   // input of one job
  uint64_t output_bytes = 0;  // the most one job's output can hold
};

// Bytes one job may hold at once: node memory (budget capped by
// model_node_bytes_bound, in whole 1 MB blocks), the node store's own
// bookkeeping and its chunk ahead, the block and the output.
uint64_t job_memory_bytes(const JobMemory& job);

// The default limit: a quarter of the machine's memory (RAM and swap), 0 when
// the machine does not say.  A quarter leaves the rest to whatever else runs,
// as xz does for its threads; a run on one thread is not limited by it.
uint64_t default_memory_limit(uint64_t machine_bytes);

struct ThreadRequest {
  unsigned requested = 1;    // 0: one per core
  unsigned cores = 1;        // std::thread::hardware_concurrency(); 0 when unknown
  uint64_t job_bytes = 0;    // job_memory_bytes()
  uint64_t limit_bytes = 0;  // 0: no limit
};

struct ThreadPlan {
  unsigned threads = 1;      // >= 1
  bool reduced = false;      // fewer than wanted, for the limit
  unsigned wanted = 1;       // the threads asked for (one per core for 0)
  uint64_t limit_bytes = 0;  // the limit that reduced them
  uint64_t job_bytes = 0;    // the memory of one job
};

ThreadPlan plan_threads(const ThreadRequest& r);

}  // namespace tav
