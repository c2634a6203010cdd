// The compressed container's header: its layout, the one reader and writer
// of it, and the one check of what a header may say.  docs/format.md is the
// description of the whole format (header, stream, members, trailers) and of
// the model that gives the stream its meaning.
//
// Header layout (all integers little-endian):
//   offset 0  u32 text_length   bytes of decoded text, at most 2^31 - 1
//   offset 4  u16 level_limit   context levels the model may keep (order + 1),
//                               at most MAX_LEVEL_LIMIT = 1087
//   offset 6  u16 memory_mb     node memory budget in 1 MB blocks, 1..32767
//   offset 8  the range-coded stream
// A file shorter than the header is read as far as it goes: a missing header
// byte keeps the matching byte of the field's initial value (0, 257, 512).
// `split_container` cuts a plain file into its parts; members and their
// trailers are found by member_index.h.
#pragma once

#include <cstdint>
#include <span>

#include "byte_io.h"
#include "decoder_types.h"

namespace tav {

struct ContainerHeader {
  uint32_t text_length = 0;
  uint32_t level_limit = 257;  // widened from 16 bits
  uint32_t memory_mb = 512;    // widened from 16 bits

  // The model order the header names: level_limit counts levels 0..order.
  uint32_t order() const { return level_limit - 1; }
  void set_order(uint32_t order) { level_limit = order + 1; }
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

}  // namespace tav
