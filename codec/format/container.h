// The compressed container: its layout, the one reader and writer of its
// header, and the one check of what a header may say.  This note is also the
// map of the format and of the model that gives the stream its meaning.
//
// File layout (all integers little-endian):
//   offset 0  u32 text_length   bytes of decoded text, at most 2^31 - 1
//   offset 4  u16 level_limit   context levels the model may keep (order + 1),
//                               at most MAX_LEVEL_LIMIT = 1087
//   offset 6  u16 memory_mb     node memory budget in 1 MB blocks, 1..32767
//   offset 8  the range-coded stream, up to the end of the file
// There is no trailer, checksum or stored stream length.  A file shorter than
// the header is read as far as it goes: a missing header byte keeps the
// matching byte of the field's initial value (0, 257, 512).  The decoder reads
// bytes past the end of the stream as 0xFF; valid streams end early and rely
// on that.  `split_container` is the place that cuts a file into its parts, so
// a trailer, when the format gets one, is cut off there too.
//
// The per-byte sequence, identical in both coders (byte_model.h):
//   predict(p)     mix the active contexts into 256 frequencies  mixer.cpp
//   coder          decoder: target and search (find_symbol), then narrow
//                  (RangeDecoder::decode_update);                range_decoder.h
//                  encoder: interval of the byte (symbol_interval), then
//                  RangeEncoder::encode                          range_encoder.h
//   learn(s, p)    flag the winning level (flag_winner), then update every
//                  active context and rebuild the context stack  context_tree.cpp
// Where the rest lives: numeric mode and node layout in decoder_types.h and
// context_node.h; node memory, whose refusals are part of the format, in
// node_store.h; one model instance's state in model.h; whole streams in
// decode_loop.h and encode_stream.h (codec/).  The arithmetic (binary64,
// rounded toward zero, binary32 stores, no fused operations) is part of the
// format: see CONTRIBUTING.md before touching any of it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "byte_io.h"
#include "decoder_types.h"

namespace tav {

struct ContainerHeader {
  uint32_t text_length = 0;
  uint32_t level_limit = 257;  // widened from 16 bits
  uint32_t memory_mb = 512;    // widened from 16 bits
};

inline constexpr uint32_t HEADER_BYTES = 8;

// The model's context stack has room for 1088 levels (0..1087); a level limit
// beyond this cannot be decoded.  The largest order is one less.
inline constexpr uint32_t MAX_LEVEL_LIMIT = 1087;

// Serialises a header; fields wider than 16 bits are truncated to the format.
void write_header_bytes(const ContainerHeader& h, uint8_t out[HEADER_BYTES]);

// Parses up to HEADER_BYTES bytes.  A field byte that `available` does not
// reach keeps the matching byte of the field's initial value (0, 257, 512).
ContainerHeader parse_header_bytes(const uint8_t* bytes, uint32_t available);

// A whole container in memory, cut into its parts.  The spans point into the
// bytes given to split_container.
struct ContainerView {
  ContainerHeader header;
  bool header_complete = false;       // the file held all HEADER_BYTES bytes
  std::span<const uint8_t> stream;    // the range-coded stream
};

ContainerView split_container(std::span<const uint8_t> file);

// Reads the header from the start of `in` (a short file keeps initial field
// values).  `complete` tells whether all HEADER_BYTES bytes were there.
ContainerHeader read_header(std::FILE* in, bool* complete = nullptr);

// Writes the header to `out`; false when the sink refuses.
bool write_header(const ContainerHeader& h, ByteSink& out);

// What is wrong with a header, if anything.  Invalid values no compressor
// writes; an unsupported level limit may come from another build.
enum class HeaderFault {
  none,
  text_too_long,       // text_length over MAX_TEXT_LENGTH
  no_node_memory,      // memory_mb 0: no room for the model's root
  too_much_memory,     // memory_mb over MAX_MEMORY_MB
  too_many_levels,     // level_limit over MAX_LEVEL_LIMIT
};

HeaderFault check_header(const ContainerHeader& h);

// The fault's sentence for the decoder's console, e.g. "Memory budget of 0M
// leaves no room for the model; the file is invalid." (no newline).
std::string header_fault_message(HeaderFault f, const ContainerHeader& h);

// The fault as a short reason, starting "invalid header: " or
// "unsupported: ", for one-line error reports.
std::string header_fault_reason(HeaderFault f, const ContainerHeader& h);

}  // namespace tav
