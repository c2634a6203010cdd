// Decoding of one byte and of a whole stream with one model instance.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "model.h"
#include "range_decoder.h"

namespace tav {

enum class ByteStatus {
  ok,
  damaged_state,        // range 0 or code >= range before the target
  target_beyond_total,  // the target lies beyond the frequencies of all 256 byte values
  endless_reset,        // the file ended: the 0xFF-run reset would repeat for ever on end-of-file fillers
};

// Text for a failed status, e.g. "the coder's state is invalid".
const char* describe(ByteStatus s);

// Decodes the byte at position p into text[p] and updates the model.  On any
// status but ok nothing is stored and the model is left as it was before the
// byte's update; the stream cannot be continued.
ByteStatus decode_byte(Model& m, RangeDecoder& rd, uint8_t* text, uint32_t p);

struct StreamResult {
  ByteStatus status = ByteStatus::ok;
  uint32_t position = 0;       // first position not decoded (text_length on success)
  uint64_t stream_bytes = 0;   // real stream bytes consumed (after the header)
};

// Decodes a whole stream (the bytes after the header) from `in` into `text`,
// which has room for h.text_length bytes.  The model is initialised here;
// init_ok is false when the header's budget cannot hold the root.
StreamResult decode_stream(Model& m, const ContainerHeader& h, std::FILE* in, uint8_t* text,
                           bool& init_ok);

}  // namespace tav
