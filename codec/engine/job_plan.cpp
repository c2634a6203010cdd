#include "job_plan.h"

#include <algorithm>
#include <thread>

#include "system_memory.h"

namespace tav {

uint64_t member_output_bound(uint64_t block_bytes) { return block_bytes + block_bytes / 8 + 64; }

JobMemory compress_job(uint32_t order, uint32_t memory_mb, uint64_t block_bytes) {
  return {memory_mb, order, block_bytes, member_output_bound(block_bytes)};
}

JobMemory decode_job(const FilePlan& plan) {
  JobMemory job;
  for (const Member& m : plan.members) {
    job.memory_mb = std::max(job.memory_mb, m.header.memory_mb);
    job.order = std::max(job.order, m.header.level_limit - 1);
    job.block_bytes = std::max<uint64_t>(job.block_bytes, m.header.text_length);
  }
  return job;
}

ThreadPlan plan_job_threads(const JobThreads& t, const JobMemory& job) {
  ThreadRequest req;
  req.cores = std::thread::hardware_concurrency();
  // No more threads than jobs: a notice then speaks of threads that could run.
  const uint64_t wanted = t.requested != 0 ? t.requested : std::max(1u, req.cores);
  req.requested = static_cast<unsigned>(std::clamp<uint64_t>(t.jobs, 1, wanted));
  req.job_bytes = job_memory_bytes(job);
  req.limit_bytes = t.limit_bytes != 0 ? t.limit_bytes : default_memory_limit(machine_memory_bytes());
  req.program = t.program;
  return plan_threads(req);
}

uint64_t model_memory_limit(uint64_t held) {
  const uint64_t machine = machine_memory_bytes();
  return machine > held ? machine - held : UINT64_MAX;
}

}  // namespace tav
