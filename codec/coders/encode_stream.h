// Compression of a whole text with one model instance into a container:
// the 8-byte header followed by the range-coded stream, handed to a sink.
#pragma once

#include <cstdint>
#include <functional>

#include "byte_io.h"
#include "container.h"
#include "model.h"
#include "range_encoder.h"

namespace tav {

enum class EncodeStatus {
  ok,
  range_exhausted,  // the format cannot code the next byte at this setting
  carry_conflict,   // a carry would change a byte the decoder has already tested
  io_error,         // the sink refused the bytes
  out_of_memory,    // the system refused node memory that the budget allows
  invalid_header,   // the settings fail check_header: nothing is written
};

const char* describe(EncodeStatus s);

// True for the statuses that depend on the model's order: another order may
// code the same input.
inline bool order_may_help(EncodeStatus s) {
  return s == EncodeStatus::range_exhausted || s == EncodeStatus::carry_conflict;
}

struct EncodeResult {
  EncodeStatus status = EncodeStatus::ok;
  uint32_t position = 0;       // byte at which encoding stopped (text_length on success)
  uint64_t stream_bytes = 0;   // bytes written after the header
  uint32_t omitted_ff = 0;     // 0xFF bytes the decoder will read past stream_bytes
  uint32_t pages_used = 0;     // node pages the model took
};

// Called every 64 KiB with the position and the container bytes written.
using EncodeProgress = std::function<void(uint32_t position, uint64_t container_bytes)>;

// Writes header and stream for text[0 .. h.text_length) to `out`.  The
// caller may set a machine limit on m.store beforehand (init_model keeps it).
// Requires the numeric mode to be set.  On failure the output is unusable.
EncodeResult encode_stream(Model& m, const ContainerHeader& h, const uint8_t* text, ByteSink& out,
                           const EncodeProgress& progress = {});

}  // namespace tav
