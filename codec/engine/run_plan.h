// The plan of a run on this machine, one policy for every entry point
// (tav_e, tav_d, the library): how many blocks or members are coded side by
// side, and how much node memory each model may take.
//
// Threads: the requested number (0: one per core), no more than there are
// jobs, and as many as fit in the memory limit (thread_budget.h; 0: a quarter
// of the machine).  Node memory: a model may take what the machine has left
// beside everything the run holds at once (its blocks or texts in flight and
// their outputs), so that a budget larger than the machine ends with an
// out-of-memory failure instead of exhausting the system.
#pragma once

#include <cstdint>
#include <optional>

#include "long_range.h"
#include "member_decode.h"
#include "order_fallback.h"
#include "thread_budget.h"

namespace tav {

struct RunLimits {
  unsigned threads = 0;       // 0: one per core
  uint64_t memory_limit = 0;  // 0: default_memory_limit of this machine
};

struct CompressPlan {
  EncodeSettings settings;      // order, budget and node cap of every model
  std::optional<LongRangeSettings> long_range;  // the long-range stage, when on
  uint64_t long_range_bytes = 0;  // the most memory the stage takes (its history and index)
  uint64_t block_bytes = 0;     // the largest block: the block size, or a smaller input's size
  uint64_t blocks = UINT64_MAX; // blocks of a sized input; UINT64_MAX when unknown
  ThreadPlan threads;
  // Node memory the machine can give each model (UINT64_MAX when it does not
  // say): the budget above it may run out of memory.
  uint64_t node_room = UINT64_MAX;
};

// Blocks of `block_bytes` of an input of `input_bytes` (nullopt: a stream of
// unknown length) at `order` with a `memory_mb` budget; with a `long_window`
// (1 .. MAX_LONG_WINDOW; 0: off), the long-range stage with that window.
CompressPlan plan_compression(uint32_t order, uint32_t memory_mb, uint64_t block_bytes,
                              std::optional<uint64_t> input_bytes, const RunLimits& limits,
                              uint64_t long_window = 0);

struct DecodePlan {
  FilePlan file;
  uint64_t long_window = 0;  // the largest long-range window of its members (0: none)
  ThreadPlan threads;
  uint64_t node_room = UINT64_MAX;  // each model's node cap, as for compression
  uint64_t machine_bytes = 0;       // the machine's memory (0: unknown)
};

// The plan of decoding `plan` of `file` (which must carry no damage).  A
// caller that keeps the whole text in memory besides the run
// (`whole_text_held`) has it counted as held.
DecodePlan plan_decoding(std::span<const uint8_t> file, FilePlan plan, const RunLimits& limits,
                         bool whole_text_held);

// The node cap of a model run alone over `text_bytes` of text (the costs).
uint64_t single_model_node_room(uint64_t text_bytes);

}  // namespace tav
