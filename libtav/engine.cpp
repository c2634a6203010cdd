#include "engine.h"


#include "job_plan.h"
#include "parallel_members.h"

namespace tav::lib {

namespace {

// Threads for `jobs` jobs like `job` within the limit, as tav_e plans them.
unsigned job_threads(const Params& p, const JobMemory& job, uint64_t jobs) {
  return plan_job_threads({p.threads, p.memory_limit, jobs, "libtav"}, job).threads;
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
  return job_threads(p, compress_job(p.order, p.memory_mb, block_bytes), jobs);
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
  const JobMemory job = decode_job(plan);
  const unsigned threads = job_threads(p, job, plan.members.size());
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
