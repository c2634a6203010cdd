#include "run_plan.h"

#include <algorithm>
#include <thread>

#include "system_memory.h"

namespace tav {

namespace {

// Bytes of one member's output at most, for the memory plan only: the format
// has no expansion bound worth computing here, and a member is rarely larger
// than its text.
uint64_t member_output_bound(uint64_t block_bytes) { return block_bytes + block_bytes / 8 + 64; }

ThreadPlan plan_job_threads(const RunLimits& limits, uint64_t jobs, const JobMemory& job) {
  ThreadRequest req;
  req.cores = std::thread::hardware_concurrency();
  // No more threads than jobs: a notice then speaks of threads that could run.
  const uint64_t wanted = limits.threads != 0 ? limits.threads : std::max(1u, req.cores);
  req.requested = static_cast<unsigned>(std::clamp<uint64_t>(jobs, 1, wanted));
  req.job_bytes = job_memory_bytes(job);
  req.limit_bytes = limits.memory_limit != 0 ? limits.memory_limit : default_memory_limit(machine_memory_bytes());
  return plan_threads(req);
}

// Node memory this machine has left besides `held` bytes of blocks and
// texts, UINT64_MAX when it does not say.
uint64_t model_memory_limit(uint64_t held) {
  const uint64_t machine = machine_memory_bytes();
  return machine > held ? machine - held : UINT64_MAX;
}

// Saturating a * b for the memory sums.
uint64_t times(uint64_t a, uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

}  // namespace

CompressPlan plan_compression(uint32_t order, uint32_t memory_mb, uint64_t block_bytes,
                              std::optional<uint64_t> input_bytes, const RunLimits& limits,
                              uint64_t long_window) {
  CompressPlan p;
  if (long_window != 0) {
    LongRangeSettings s;
    s.window_bytes = long_window;
    p.long_range = s;
    // Its history: the window (or the whole input, when smaller) and a block.
    const uint64_t seen = input_bytes ? std::min(*input_bytes, long_window) : long_window;
    p.long_range_bytes = LongRangeEncoder::memory_bound(s, seen + block_bytes);
  }
  // A sized input says how large its blocks are: no larger than it, and no
  // more threads start than there are blocks.
  p.block_bytes = input_bytes ? std::clamp<uint64_t>(*input_bytes, 1, block_bytes) : block_bytes;
  if (input_bytes) p.blocks = std::max<uint64_t>(1, (*input_bytes + p.block_bytes - 1) / p.block_bytes);
  const JobMemory job{memory_mb, order, p.block_bytes, member_output_bound(p.block_bytes)};
  p.threads = plan_job_threads(limits, p.blocks, job);
  // At most threads + 1 blocks are alive at once (ordered_jobs.h).
  p.node_room = model_memory_limit(times(uint64_t{p.threads.threads} + 1, p.block_bytes) + p.long_range_bytes);
  p.settings = {order, memory_mb, p.node_room};
  return p;
}

DecodePlan plan_decoding(std::span<const uint8_t> file_bytes, FilePlan file, const RunLimits& limits,
                         bool whole_text_held) {
  DecodePlan p;
  JobMemory job;
  for (const Member& m : file.members) {
    job.memory_mb = std::max(job.memory_mb, m.header.memory_mb);
    job.order = std::max(job.order, m.header.order());
    job.block_bytes = std::max<uint64_t>(job.block_bytes, m.text_length());
    p.long_window = std::max(p.long_window, section_window(file_bytes, m));
  }
  const size_t members = file.members.size();
  p.threads = plan_job_threads(limits, members, job);
  // Each member in flight holds its text and its spare byte; a caller that
  // decodes one member straight into its whole text holds nothing more.
  const uint64_t in_flight = whole_text_held && members == 1 ? 0 : uint64_t{p.threads.threads} + 1;
  // A long-range run keeps up to its window of text to copy from.
  const uint64_t history = std::min(p.long_window, file.text_bytes);
  const uint64_t held = times(in_flight, job.block_bytes + 1) + (whole_text_held ? file.text_bytes : 0) + history;
  p.node_room = model_memory_limit(held);
  p.machine_bytes = machine_memory_bytes();
  p.file = std::move(file);
  return p;
}

uint64_t single_model_node_room(uint64_t text_bytes) { return model_memory_limit(text_bytes); }

}  // namespace tav
