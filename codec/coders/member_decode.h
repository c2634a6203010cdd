// Reading a whole compressed file: plain (one header + stream to the end of
// the file, no check) or one or more members (member_index.h), decoded in
// file order into one text.
//
// Invariants: a member's stream is decoded over exactly its own bytes, so the
// decoder never reads its trailer (what it reads past the stream are the
// 0xFF fillers, and a member whose decoder needs any is damaged); a complete
// member's text reaches the sink only after its checks passed (a stream that
// stops early hands over the text before the fault, as a plain one does),
// while a plain file's text goes to the sink as it is decoded, as always.  Each member is
// decoded by decode_member with its own model, from the file span and the
// member alone, so members can be decoded side by side.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "byte_io.h"
#include "decode_loop.h"
#include "long_range.h"
#include "member_index.h"

namespace tav {

// What the headers and trailers say about a file, without decoding: the
// listing, and the plan of the decoding.
struct FilePlan {
  // plain: one member covering the file, its stream from the end of the
  // header (or of the file, if shorter) to the end; `checked` false.
  std::vector<Member> members;
  bool checked = false;                 // the members carry trailers
  std::optional<MemberDamage> damage;   // the trailers do not add up
  uint64_t text_bytes = 0;              // sum of the members' text lengths
};

// The blocks of a run's long-range members, rebuilt in file order from their
// literals (each decoded by its own model, maybe on another thread) and their
// reference sections, copying from the run's text before them.
class RunRebuilder {
 public:
  // Call for every member in file order.  For a long-range member, `text`
  // holds its literals (header.text_length bytes) and has room for
  // m.text_length() + 1 bytes; on success it holds the block, whose XXH64
  // is the trailer's.  Other members pass; a member that starts a run (its
  // number 0, or a version-1 member) starts the history anew.
  std::optional<MemberDamage> rebuild(std::span<const uint8_t> file, const Member& m, uint8_t* text);

 private:
  std::optional<LongRangeDecoder> run_;
};

// `check_runs` as for index_members.
FilePlan plan_file(std::span<const uint8_t> file, bool check_runs = true);

// The window a long-range member's section names: the text of its run a
// decoder keeps to copy from.  0 for other members and damaged sections.
uint64_t section_window(std::span<const uint8_t> file, const Member& m);

// Called before every 512th byte of a member: the position in the whole
// text, the position in the file, and the node pages the member's model uses.
using FileProgress = std::function<void(uint64_t text_position, uint64_t file_position,
                                        uint32_t pages_used)>;

struct MemberDecodeResult {
  StreamResult stream;                 // stream_bytes: real bytes consumed after the header
  std::optional<MemberDamage> damage;  // a check of a checked member failed
  // Bytes of `text` that are the member's: the text decoded (or, for a
  // long-range member, the block rebuilt, or its literals when there was
  // nothing to rebuild it with); 0 when its checks failed.
  uint32_t text_bytes = 0;
  uint32_t pages_used = 0;
  uint32_t unused_reserved_bytes = 0;
  uint32_t blocks_reserved = 0;
};

// Decodes member `m` of `file` into `text` (room for its text length + 1),
// and, with `rebuild`, a long-range member's block from its literals;
// handing the text to `out` (may be null) as decode_stream does when
// `checked` is false, else once the checks passed (or, when the stream stops
// early, the text before the fault).  `text_base` and
// `progress` place the progress in the whole text.  The model lives in here
// and may take at most `node_memory_limit` bytes.
MemberDecodeResult decode_member(std::span<const uint8_t> file, const Member& m, bool checked,
                                 uint8_t* text, ByteSink* out, uint64_t text_base = 0,
                                 const FileProgress& progress = {},
                                 uint64_t node_memory_limit = UINT64_MAX, RunRebuilder* rebuild = nullptr);

struct FileDecodeResult {
  size_t member = 0;               // the last member decoded (the failed one on a fault)
  MemberDecodeResult last;         // its result
  uint64_t text_written = 0;       // bytes of text handed to the sink
  uint32_t peak_pages_used = 0;    // the most node pages any member's model used
  uint32_t peak_unused_bytes = 0;  // unused reserved bytes of that member's model
  bool ok() const { return last.stream.status == ByteStatus::ok && !last.damage; }
};

// Decodes every member of `plan` (which must carry no damage) in order into
// `text` (room for plan.text_bytes + 1) and `out`; stops at the first fault.
// Long-range members are rebuilt unless `rebuild` is false (then their
// literals are the text: a check of what each model decoded).
FileDecodeResult decode_file(std::span<const uint8_t> file, const FilePlan& plan, uint8_t* text,
                             ByteSink* out, const FileProgress& progress = {},
                             uint64_t node_memory_limit = UINT64_MAX, bool rebuild = true);

}  // namespace tav
