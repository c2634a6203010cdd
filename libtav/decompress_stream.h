// Decompression pulled through in pieces.  The members of a file are found
// by walking its trailers back from its end, so the stream holds the
// compressed input until TAV_END (as tav_e -d reads the whole file), then
// decodes every member, checks it, and hands the text out as the caller's
// output takes it.  A damaged file gives its error and no text at all.
#pragma once

#include <cstdint>
#include <vector>

#include "params.h"
#include "tav.h"

namespace tav::lib {

class DecompressStream {
 public:
  bool open() const { return state_ != State::idle; }
  void reset();
  // One tav_decompress_stream call; `p` gives the threads and memory limit.
  tav_error step(const Params& p, tav_out_buffer& out, tav_in_buffer& in, tav_end_directive end,
                 size_t* remaining);

 private:
  enum class State { idle, reading, writing, failed };

  tav_error decode(const Params& p);
  void drain(tav_out_buffer& out);

  State state_ = State::idle;
  std::vector<uint8_t> input_;  // the compressed file so far
  std::vector<uint8_t> text_;   // decoded and checked
  size_t text_written_ = 0;
};

}  // namespace tav::lib
