// Members coded side by side: compression of a sequence of blocks, one member
// each, and decoding of a file's members, both on worker threads with the
// results handed over in file order on the calling thread (ordered_jobs.h).
//
// Invariants:
//   - the bytes handed over never depend on the number of threads: each job
//     owns its model, its input and its output buffer, and nothing else is
//     shared but counters;
//   - at most `threads + 1` jobs are alive at once, so memory stays within
//     (threads + 1) x (block + output + model);
//   - the outcome is that of a sequential run: the first failure in file
//     order is the one reported, with the block or member where it lies, and
//     everything before it has been handed over;
//   - failures come back as values; nothing here prints or exits.
//
// Progress callbacks run on the workers (or on the calling thread with one
// thread), one call at a time: they are serialized here with a try-lock, so a
// worker never waits for the printer; a call the lock refuses is dropped.
// Messages about orders that failed are serialized too, but never dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "block_cutter.h"
#include "long_range.h"
#include "member_decode.h"
#include "member_encode.h"
#include "order_fallback.h"
#include "run_error.h"

namespace tav {

// ---- compression --------------------------------------------------------------

// One finished member, in memory until the consumer writes it.
struct CodedMember {
  std::vector<uint8_t> bytes;  // header, stream, trailer
  uint64_t text_bytes = 0;     // the block's length
  uint32_t order = 0;          // the order used (maybe a fallback)
  uint32_t pages_used = 0;
};

// Calling thread, in order: writes member `index`; false with errno set.
using MemberWriter = std::function<bool(size_t index, const CodedMember& m)>;

// The members of one run on their way out: numbered in order, the newest
// held back until the run's end (or a flush) says whether it is the last, so
// that the last member of every run carries its flag (member_index.h).
class MemberRun {
 public:
  // Members added so far: the number the next one carries.
  uint64_t members() const { return added_; }
  // Hands over the member held back, if any, and holds `m`.
  bool add(size_t index, CodedMember m, const MemberWriter& write);
  // Hands over the member held back as not the last (a flush of a stream).
  bool flush(const MemberWriter& write);
  // Closes the run: the member held back is marked the last and handed
  // over; when none is held (a flush wrote it), an empty member coded with
  // `s` closes the run.  Requires the numeric mode.  False on a failed write
  // (errno set) or when the empty member cannot be coded (errno ENOMEM).
  bool end(const MemberWriter& write, const EncodeSettings& s);

  // The run's long-range stage: it sees every block of the run in order.
  LongRangeEncoder& long_range_encoder(const LongRangeSettings& s);

 private:
  std::optional<LongRangeEncoder> long_range_;
  std::optional<CodedMember> held_;
  size_t held_index_ = 0;
  uint64_t added_ = 0;
};

struct CompressJobs {
  // Calling thread: the next block (a source of block_cutter.h).  An input
  // that gives no block at all still becomes one empty member.
  std::function<BlockRead()> next_block;
  MemberWriter write;
  // The run the members belong to, for a stream coded in several calls
  // (the caller ends it); null: one run, ended when the blocks end.
  MemberRun* run = nullptr;
  EncodeSettings settings;
  // The long-range stage: repeats across the run become references, and
  // each model codes only its block's literals.
  std::optional<LongRangeSettings> long_range;
  bool verify = false;  // decode each member in its worker before handing it over
  // Any worker, serialized: text and compressed bytes done over the whole
  // input (members in progress included), and the order being tried.
  std::function<void(uint64_t text_done, uint64_t bytes_done, uint32_t order)> progress;
  // Any worker, serialized: an order failed at `text_position` of the whole
  // input, another is tried.
  std::function<void(const FailedAttempt& a, uint64_t text_position)> attempt_failed;
  StopRequest stop;  // any thread; may be empty
};

struct CompressOutcome {
  std::optional<RunError> failure;
  size_t members = 0;        // members written
  uint64_t text_bytes = 0;   // their text
  uint64_t out_bytes = 0;    // their bytes
  uint32_t order = 0;        // the requested order, or the first other one a member needed
  uint32_t pages_used = 0;   // the most any member's model used
  unsigned threads_used = 0; // workers started (0: the calling thread alone)
};

// Compresses every block `jobs.next_block` gives, `threads` at a time; at
// most the newest member is held back (MemberRun) when the call returns.
// A stop request ends the run as RunFault::interrupted.
// Requires the numeric mode to be set on every thread that codes: it is set
// here on each worker.
CompressOutcome compress_blocks(const CompressJobs& jobs, unsigned threads);

// ---- decoding -------------------------------------------------------------------

struct DecodeJobs {
  std::span<const uint8_t> file;
  const FilePlan* plan = nullptr;  // must carry no damage
  // Calling thread, in member order: text of member `index` whose checks
  // passed, or (once, for the member that failed) the text before a stream
  // fault.  False with errno set stops the run as output_failed.
  std::function<bool(size_t index, std::span<const uint8_t> text)> write;
  // Any worker, serialized: as FileProgress, over the whole text.
  FileProgress progress;
  uint64_t node_memory_limit = UINT64_MAX;
  StopRequest stop;  // any thread; may be empty
};

// Decodes the plan's members `threads` at a time; a stop request throws
// RunInterrupted once every worker has stopped.  The result reads as
// decode_file's: `member` the last one handed over or the failed one,
// `text_written` what `write` took; a write failure is reported as
// output_failed on that member with `write_error` set.
struct ParallelDecodeResult {
  FileDecodeResult file;
  int write_error = 0;
  unsigned threads_used = 0;
};
ParallelDecodeResult decode_members(const DecodeJobs& jobs, unsigned threads);

}  // namespace tav
