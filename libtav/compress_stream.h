// Compression pushed through in pieces.  Input fills blocks of the block
// size; full blocks are coded `threads` at a time (the call that fills the
// last of them codes them side by side, on the planned threads) and their
// members wait in a queue until the caller's output takes them.  Block
// boundaries depend only on the input bytes and on TAV_FLUSH, so the members
// are those of the one-shot call and of tav_e with the same block size,
// however the input and output are split into calls.
//
// Memory stays bounded: no input is taken while a coded batch waits to be
// written, so the stream holds at most one batch of blocks, the block being
// filled and one batch of members.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "block_cutter.h"
#include "parallel_members.h"
#include "params.h"
#include "run_plan.h"
#include "tav.h"

namespace tav::lib {

class CompressStream {
 public:
  bool open() const { return state_ != State::idle; }
  // Drops the stream in progress, if any.
  void reset();
  // One tav_compress_stream call; `p` are the parameters for a stream it opens.
  tav_error step(const Params& p, tav_out_buffer& out, tav_in_buffer& in, tav_end_directive end,
                 size_t* remaining);

 private:
  enum class State { idle, open, ending, failed };

  tav_error run(tav_out_buffer& out, tav_in_buffer& in, tav_end_directive end, bool& incomplete);
  void take_input(tav_out_buffer& out, tav_in_buffer& in, tav_error& e);
  tav_error code_batch();
  void queue(std::span<const uint8_t> member);
  void drain(tav_out_buffer& out);

  State state_ = State::idle;
  CompressPlan plan_;
  StopRequest stop_;
  std::optional<BlockCutter> cutter_;        // cuts the input into blocks
  MemberRun run_;                            // numbers the members, holds back the newest
  std::vector<std::vector<uint8_t>> batch_;  // full blocks, coded together
  std::deque<std::vector<uint8_t>> members_; // coded, not yet written
  size_t front_written_ = 0;                 // bytes of members_.front() already written
  uint64_t pending_ = 0;                     // bytes in members_ not yet written
};

}  // namespace tav::lib
