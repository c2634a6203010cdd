#include "engine.h"

namespace tav::lib {

namespace {

tav_error error_of(const RunError& e) {
  switch (e.fault) {
    case RunFault::cannot_code: return TAV_ERROR_CANNOT_CODE;
    case RunFault::header:
      return e.header_fault == HeaderFault::too_many_levels ? TAV_ERROR_UNSUPPORTED : TAV_ERROR_DAMAGED;
    case RunFault::damaged:
      return e.member_fault == MemberFault::trailer_unsupported ? TAV_ERROR_UNSUPPORTED : TAV_ERROR_DAMAGED;
    case RunFault::not_compressed: return TAV_ERROR_DAMAGED;
    case RunFault::interrupted: return TAV_ERROR_INTERRUPTED;
    case RunFault::read:  // a block source fails only when it cannot copy a block
    case RunFault::out_of_memory:
    default:
      return TAV_ERROR_MEMORY;
  }
}

}  // namespace

CompressPlan compress_plan(const Params& p, std::optional<uint64_t> input_bytes) {
  return plan_compression(p.order, p.memory_mb, p.block_bytes, input_bytes, {p.threads, p.memory_limit},
                          p.long_window);
}

tav_error compress_members(const CompressPlan& plan, const std::function<BlockRead()>& next,
                           const MemberBytesWriter& write, MemberRun* run, const StopRequest& stop) {
  CompressJobs jobs;
  jobs.next_block = next;
  jobs.write = [&](size_t, const CodedMember& m) {
    write(m.bytes);
    return true;
  };
  jobs.settings = plan.settings;
  jobs.long_range = plan.long_range;
  jobs.run = run;
  jobs.stop = stop;
  const CompressOutcome c = compress_blocks(jobs, plan.threads.threads);
  return c.failure ? error_of(*c.failure) : TAV_OK;
}

tav_error end_run(const CompressPlan& plan, MemberRun& run, const MemberBytesWriter& write) {
  const bool ok = run.end(
      [&](size_t, const CodedMember& m) {
        write(m.bytes);
        return true;
      },
      plan.settings);
  return ok ? TAV_OK : TAV_ERROR_MEMORY;
}

tav_error plan_compressed(std::span<const uint8_t> file, FilePlan& plan, bool plain) {
  plan = plan_file(file);
  const std::optional<RunError> e = check_file(plan, plain ? PlainFiles::accept_whole : PlainFiles::refuse);
  return e ? error_of(*e) : TAV_OK;
}

tav_error decode_members_to(const Params& p, std::span<const uint8_t> file, const FilePlan& plan,
                            const TextWriter& write) {
  DecodeTarget target;
  target.write = [&](std::span<const uint8_t> text) {
    write(text);
    return true;
  };
  target.stop = p.stop;
  const DecodeOutcome o = decode_run(file, plan_decoding(file, plan, {p.threads, p.memory_limit}, false), target);
  return o.failure ? error_of(*o.failure) : TAV_OK;
}

}  // namespace tav::lib
