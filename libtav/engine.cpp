#include "engine.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "parallel_members.h"
#include "system_memory.h"
#include "thread_budget.h"

namespace tav::lib {

namespace {

// Bytes of one member's output at most, for the memory plan (as tav_e).
uint64_t output_bound(uint64_t block_bytes) { return block_bytes + block_bytes / 8 + 64; }

// Threads for `jobs` jobs of `job_bytes` each within the limit.
unsigned plan_job_threads(const Params& p, uint64_t job_bytes, uint64_t jobs) {
  ThreadRequest req;
  req.cores = std::thread::hardware_concurrency();
  const uint64_t wanted = p.threads != 0 ? p.threads : std::max(1u, req.cores);
  req.requested = static_cast<unsigned>(std::clamp<uint64_t>(jobs, 1, wanted));
  req.job_bytes = job_bytes;
  req.limit_bytes = p.memory_limit != 0 ? p.memory_limit : default_memory_limit(machine_memory_bytes());
  return plan_threads(req).threads;
}

// Node memory the machine has left besides `held` bytes of blocks and texts:
// each model is capped at it, so an oversized budget ends in an error rather
// than exhausting the system.
uint64_t model_memory_limit(uint64_t held) {
  const uint64_t machine = machine_memory_bytes();
  return machine > held ? machine - held : UINT64_MAX;
}

tav_error error_of(const BlockFailure& f) {
  switch (f.fault) {
    case BlockFault::code:
      return f.status == EncodeStatus::out_of_memory ? TAV_ERROR_MEMORY : TAV_ERROR_CANNOT_CODE;
    case BlockFault::read:  // the block source fails only when it cannot copy a block
    case BlockFault::out_of_memory:
    default:
      return TAV_ERROR_MEMORY;
  }
}

tav_error error_of(const FileDecodeResult& f) {
  if (f.last.damage) return TAV_ERROR_DAMAGED;
  switch (f.last.stream.status) {
    case ByteStatus::ok: return TAV_OK;
    case ByteStatus::out_of_memory: return TAV_ERROR_MEMORY;
    case ByteStatus::invalid_header: return TAV_ERROR_UNSUPPORTED;
    default: return TAV_ERROR_DAMAGED;
  }
}

}  // namespace

unsigned compress_threads(const Params& p, uint64_t block_bytes, uint64_t jobs) {
  return plan_job_threads(p, job_memory_bytes({p.memory_mb, p.order, block_bytes, output_bound(block_bytes)}), jobs);
}

tav_error compress_members(const Params& p, unsigned threads, uint64_t block_bytes,
                           const std::function<BlockRead()>& next, const MemberWriter& write) {
  CompressJobs jobs;
  jobs.next_block = next;
  jobs.write = [&](size_t, const CodedMember& m) {
    write(m.bytes);
    return true;
  };
  jobs.settings = {p.order, p.memory_mb, model_memory_limit((uint64_t{threads} + 1) * block_bytes)};
  const CompressOutcome c = compress_blocks(jobs, threads);
  return c.failure ? error_of(*c.failure) : TAV_OK;
}

tav_error plan_compressed(std::span<const uint8_t> file, FilePlan& plan) {
  plan = plan_file(file);
  if (plan.damage) {
    return plan.damage->fault == MemberFault::trailer_unsupported ? TAV_ERROR_UNSUPPORTED : TAV_ERROR_DAMAGED;
  }
  for (const Member& m : plan.members) {
    const HeaderFault fault = check_header(m.header);
    if (fault == HeaderFault::too_many_levels) return TAV_ERROR_UNSUPPORTED;
    if (fault != HeaderFault::none) return TAV_ERROR_DAMAGED;
  }
  return TAV_OK;
}

tav_error decode_members_to(const Params& p, std::span<const uint8_t> file, const FilePlan& plan,
                            const TextWriter& write) {
  JobMemory job;
  for (const Member& m : plan.members) {
    job.memory_mb = std::max(job.memory_mb, m.header.memory_mb);
    job.order = std::max(job.order, m.header.level_limit - 1);
    job.block_bytes = std::max<uint64_t>(job.block_bytes, m.header.text_length);
  }
  const unsigned threads = plan_job_threads(p, job_memory_bytes(job), plan.members.size());
  DecodeJobs jobs;
  jobs.file = file;
  jobs.plan = &plan;
  jobs.node_memory_limit = model_memory_limit((uint64_t{threads} + 1) * (job.block_bytes + 1));
  jobs.write = [&](size_t, std::span<const uint8_t> text) {
    write(text);
    return true;
  };
  return error_of(decode_members(jobs, threads).file);
}

}  // namespace tav::lib
