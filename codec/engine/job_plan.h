// The plan of a run in blocks on this machine: the memory of one job, the
// threads that fit (thread_budget.h) and the cap on each model's node memory.
// Shared by tav_e, tav_d and the library, so that all three run the same
// number of jobs for the same file and limit.
#pragma once

#include <cstdint>
#include <string>

#include "member_decode.h"
#include "thread_budget.h"

namespace tav {

// Bytes of one member's output at most, for the memory plan only: the format
// has no expansion bound worth computing here, and a member is rarely larger
// than its text.
uint64_t member_output_bound(uint64_t block_bytes);

// One compression job: a block of `block_bytes` and its output.
JobMemory compress_job(uint32_t order, uint32_t memory_mb, uint64_t block_bytes);

// One decoding job of `plan`: its largest text with the largest budget and
// order any of its members has.
JobMemory decode_job(const FilePlan& plan);

struct JobThreads {
  unsigned requested = 0;     // 0: one per core
  uint64_t limit_bytes = 0;   // 0: default_memory_limit of this machine
  uint64_t jobs = 1;          // no more threads start than there are jobs
  std::string program = "tav_e";
};

// Threads for `jobs` jobs like `job` on this machine; plan.notice says why
// when there are fewer than requested.
ThreadPlan plan_job_threads(const JobThreads& t, const JobMemory& job);

// Node memory this machine has left besides `held` bytes of blocks and texts
// (UINT64_MAX when it does not say): each model is capped at it, so an
// oversized budget ends with an error rather than exhausting the system.
uint64_t model_memory_limit(uint64_t held);

}  // namespace tav
