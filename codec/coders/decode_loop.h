// Decoding of one byte and of a whole stream with one model instance.  The
// stream is read from memory; decoded bytes are handed to a sink in pieces.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "byte_io.h"
#include "container.h"
#include "model.h"
#include "range_decoder.h"

namespace tav {

// How decoding a byte, or a stream, ended.
enum class ByteStatus {
  ok,
  damaged_state,        // range 0 or code >= range before the target
  target_beyond_total,  // the target lies beyond the frequencies of all 256 byte values
  endless_reset,        // the file ended: the 0xFF-run reset would repeat for ever on end-of-file fillers
  out_of_memory,        // the system refused node memory that the budget allows
  output_failed,        // the sink refused decoded bytes
  invalid_header,       // check_header finds a fault: nothing is decoded
};

// Text for a failed status, e.g. "the coder's state is invalid".
const char* describe(ByteStatus s);

// Decodes the byte at position p into text[p] and updates the model.  On
// damaged_state, target_beyond_total and endless_reset nothing is stored and
// the model is left as it was before the byte's update.  On out_of_memory
// the byte is decoded and stored but the model's update is incomplete.  In
// every case but ok the stream cannot be continued.
ByteStatus decode_byte(Model& m, RangeDecoder& rd, uint8_t* text, uint32_t p);

struct StreamResult {
  ByteStatus status = ByteStatus::ok;
  // Bytes decoded and handed to the sink: text_length on success, the
  // position of the byte that could not be decoded on a damaged stream, one
  // past the byte whose update failed on out_of_memory.
  uint32_t position = 0;
  uint64_t stream_bytes = 0;   // real stream bytes consumed (after the header)
  uint64_t past_end = 0;       // 0xFF fillers read past the end of `stream`
};

// Called before the byte at every position that is a multiple of 512, with
// the position and the stream bytes consumed so far.
using DecodeProgress = std::function<void(uint32_t position, uint64_t stream_bytes)>;

// Decodes `stream` (the bytes after the header) into `text`, which has room
// for h.text_length + 1 bytes, and hands the decoded bytes to `out` (if not
// null) in order, in pieces of up to 64 KiB; on a failure, the bytes decoded
// before it.  The model is initialised here.  Requires the numeric mode.
StreamResult decode_stream(Model& m, const ContainerHeader& h, std::span<const uint8_t> stream,
                           uint8_t* text, ByteSink* out = nullptr,
                           const DecodeProgress& progress = {});

}  // namespace tav
