// Compression of a whole text with one model instance into a container:
// the 8-byte header followed by the range-coded stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "model.h"
#include "range_encoder.h"

namespace tav {

enum class EncodeStatus {
  ok,
  range_exhausted,  // the format cannot code the next byte at this setting
  carry_conflict,   // a carry would change a byte the decoder has already tested
  io_error,
};

const char* describe(EncodeStatus s);

struct EncodeResult {
  EncodeStatus status = EncodeStatus::ok;
  uint32_t position = 0;       // byte at which encoding stopped (text_length on success)
  uint64_t stream_bytes = 0;   // bytes written after the header
  uint32_t pages_used = 0;     // node pages the model took
};

// Writes header and stream for text[0 .. h.text_length) to `out`.
// `progress`, if set, is called every 64 KiB with the current position.
// Requires the numeric mode to be set, h.memory_mb >= 1, and
// h.text_length <= MAX_TEXT_LENGTH.  On failure the output is unusable.
EncodeResult encode_stream(Model& m, const ContainerHeader& h, const uint8_t* text, std::FILE* out,
                           const std::function<void(uint32_t)>& progress = {});

}  // namespace tav
