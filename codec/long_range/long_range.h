// The long-range stage: long repeats across a whole run of blocks, coded as
// references to earlier text, so that the model codes only the bytes left.
//
// Encoder: one LongRangeEncoder per run, fed the run's blocks in input order
// on one thread.  It keeps a history of earlier input (at most
// `window_bytes` before the block it is working on) and an index of anchor
// positions in it.  For each block it returns the literals (the block's bytes
// not covered by a reference, in order) and the references.  The output is a
// pure function of the settings and of the bytes fed so far.
//
// Method (chosen by measurement, see bench/long_range): a polynomial rolling
// hash of the last `hash_bytes` bytes at every position; a position is an
// anchor when the mixed hash has its low `anchor_log` bits zero (content
// defined: a repeat meets the same anchors wherever it lies).  Every anchor
// of the history is in a table (hash -> last position seen); at each anchor
// of the block the table gives one candidate, the `hash_bytes` before it are
// compared, and a hit is extended forwards (to the block's end at most) and
// backwards (to the end of the previous reference or the block's start at
// most), byte by byte.  Matches of `min_match` bytes or more become
// references.  A second method, whole-chunk deduplication over
// content-defined chunks, is kept for the measurements.
//
// Decoder: each member's literals are decoded by its own model; then
// LongRangeDecoder::decode_block, called in member order, rebuilds the block
// from its literals and its reference section, copying from the text of the
// run rebuilt so far (at most the section's window back).  Every field is
// checked before it is used; faults come back as values with the byte offset
// inside the section where they lie.  Copies run forwards byte by byte, so a
// distance shorter than the length repeats the last `distance` bytes.
//
// ---- The reference section (one per block; part of the file format) -------
//
// varint: unsigned LEB128, 7 bits per byte, least significant group first,
// high bit set on every byte but the last; at most 10 bytes and at most
// 2^64 - 1; the shortest form is not required.
//
//   version      1 byte   1
//   window       varint   the run's window W in bytes (1 .. 2^40): no
//                         reference reaches further back than W; a decoder
//                         keeps the last W bytes of text before each block.
//                         Every block of a run carries the same W.
//   count        varint   number of references N
//   if N > 0:
//     text_bytes varint   the block's length once rebuilt
//     N times:
//       literals varint   literal bytes before this reference (after the
//                         previous one)
//       distance varint   0: the previous reference's distance again;
//                         otherwise the distance itself, 1 .. W
//       length   varint   bytes copied, at least 1
//
// The literals after the last reference are those left over.  A block
// without references is `01 <W> 00`: 3 to 7 bytes, its text its literals.
// Checks, each a fault at the offset of the field where it shows: version;
// W of 0 or above 2^40; N larger than the bytes left could hold (3 per
// reference); distance 0 for the first reference; a distance beyond W or
// before the first byte of the run; a length of 0 or past text_bytes;
// literals beyond those the model decoded; text_bytes not equal to the
// literals plus the lengths; a varint cut short or over 10 bytes; bytes
// after the last reference.
//
// Memory, stated: the encoder holds its history (the window before the
// block, the block, and up to max(window / 4, 1 MiB) more between trims)
// and its table of 2^table_log slots of 4 bytes (by default one slot per
// anchor of a full window, rounded up to a power of two, 2^12 .. 2^26 slots:
// at most 256 MiB; a 100 MiB window at the default rate takes 16 MiB; until
// a sixty-fourth of the slots are used they live in a map of about an eighth
// of that, see AnchorTable); the chunk method 24 bytes per slot.
// memory_bytes() says what it holds.  The decoder holds the window, the
// block being rebuilt and the same slack.
// The encoder keeps positions in 32 bits: its window is 1 .. 2^32 - 1 bytes
// (the format allows up to 2^40).
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace tav {

inline constexpr uint8_t LONG_RANGE_VERSION = 1;
inline constexpr uint64_t LONG_RANGE_MAX_WINDOW = uint64_t{1} << 40;

enum class LongRangeMethod {
  anchors,  // rolling-hash anchors, matches extended both ways
  chunks,   // whole content-defined chunks deduplicated (optionally extended)
};

struct LongRangeSettings {
  uint64_t window_bytes = uint64_t{1} << 31;  // how far back a reference may point
  LongRangeMethod method = LongRangeMethod::anchors;
  // The defaults are the measured choice (bench/long_range/RESULTS.md):
  // references under ~100 bytes cost more section than the model saves.
  uint32_t min_match = 128;  // shortest reference, bytes
  uint32_t hash_bytes = 32;  // anchors: bytes hashed and compared at an anchor (<= min_match)
  uint32_t anchor_log = 5;   // anchors: one position in 2^anchor_log is an anchor, on average
  uint32_t chunk_log = 13;   // chunks: average chunk of 2^chunk_log bytes (min a quarter, max 8x)
  bool chunk_extend = false; // chunks: extend a duplicate chunk byte by byte both ways
  uint32_t table_log = 0;    // index slots = 2^table_log; 0: sized from the window (at most 2^26)
};

enum class LongRangeSettingsFault { none, window, min_match, hash_bytes, anchor_log, chunk_log, table_log };
LongRangeSettingsFault check_settings(const LongRangeSettings& s);

struct Reference {
  uint64_t literals = 0;  // literal bytes between the previous reference and this one
  uint64_t distance = 0;  // how far back the copy starts, >= 1
  uint64_t length = 0;    // bytes copied, >= 1
  friend bool operator==(const Reference&, const Reference&) = default;
};

struct LongRangeBlock {
  std::vector<uint8_t> literals;
  std::vector<Reference> references;
};

// The anchors' index: 2^bits slots, each the low 32 bits of a position + 1
// (0: empty).  A full window needs every slot, but a small input touches
// few, and filling a table of up to 256 MiB with zeros would cost a small
// file more time than its model; so the slots live in a hash map until
// they would fill a sixty-fourth of the table, and then move into it.  The
// slots are the same either way: what the stage finds never depends on it.
class AnchorTable {
 public:
  explicit AnchorTable(uint32_t bits) : slots_(size_t{1} << bits) {}
  // Stores `value` in `slot` and gives back what the slot held.
  uint32_t exchange(uint32_t slot, uint32_t value);
  uint64_t memory_bytes() const;

 private:
  void make_dense();

  size_t slots_;
  std::vector<uint32_t> dense_;                    // all slots, once made
  std::unordered_map<uint32_t, uint32_t> sparse_;  // the slots used, until then
};

class LongRangeEncoder {
 public:
  // Requires check_settings(s) == none.
  explicit LongRangeEncoder(const LongRangeSettings& s);

  // The literals and references of the next block of the run.  References
  // point into this block or earlier ones, never more than window_bytes back.
  LongRangeBlock encode_block(std::span<const uint8_t> block);

  // Bytes held now: history + table.
  uint64_t memory_bytes() const;
  // The most an encoder with settings `s` holds while its history (window
  // and block) is at most `history_bytes`.
  static uint64_t memory_bound(const LongRangeSettings& s, uint64_t history_bytes);
  uint64_t run_bytes() const { return end_; }  // bytes of the run fed so far
  const LongRangeSettings& settings() const { return s_; }

 private:
  void encode_anchors(uint64_t start, uint64_t end, LongRangeBlock& out);
  void encode_chunks(uint64_t start, uint64_t end, LongRangeBlock& out);
  void trim_history(uint64_t block_start);
  const uint8_t* at(uint64_t pos) const { return hist_.data() + (pos - base_); }

  LongRangeSettings s_;
  std::vector<uint8_t> hist_;  // the run's bytes from base_ to end_
  uint64_t base_ = 0;
  uint64_t end_ = 0;
  AnchorTable table_{0};  // anchors
  uint32_t table_shift_ = 0;
  // chunks: a chunk hash -> its position and length
  struct ChunkSlot {
    uint64_t hash = 0;
    uint64_t pos = 0;
    uint32_t len = 0;
  };
  std::vector<ChunkSlot> chunk_table_;
};

// The section's bytes for one block: `window_bytes` is the run's window
// (1 .. LONG_RANGE_MAX_WINDOW), `text_bytes` the block's length.
std::vector<uint8_t> write_section(std::span<const Reference> refs, uint64_t window_bytes,
                                   uint64_t text_bytes);

enum class SectionFault {
  none,
  cut_short,             // a field runs past the end of the section
  varint_too_long,       // a varint of more than 10 bytes or above 2^64 - 1
  bad_version,
  bad_window,            // 0 or above LONG_RANGE_MAX_WINDOW
  too_many_references,   // more than the bytes left could hold
  no_previous_distance,  // distance 0 on the first reference
  distance_beyond_window,
  distance_before_start, // points before the first byte of the run
  zero_length,
  length_past_block,     // runs past text_bytes
  literals_overrun,      // more literals than the model decoded
  literal_count_mismatch,// literals + lengths != text_bytes
  trailing_bytes,
};
const char* describe(SectionFault f);

struct SectionDamage {
  SectionFault fault = SectionFault::none;
  uint64_t offset = 0;  // byte offset inside the section
  friend bool operator==(const SectionDamage&, const SectionDamage&) = default;
};

struct ParsedSection {
  SectionDamage damage;  // fault == none: the fields below hold
  uint64_t window_bytes = 0;
  uint64_t text_bytes = 0;
  std::vector<Reference> references;
};

// Reads and checks a whole section.  `literal_count` is the number of
// literals the member's model decoded; `run_position` the bytes of run text
// before this block (for the check that no copy starts before the run).
ParsedSection parse_section(std::span<const uint8_t> section, uint64_t literal_count,
                            uint64_t run_position);

// Rebuilds a block from a parsed section (fault none, parsed with
// literal_count == literals.size()).  `text` holds the run's text just
// before the block: all of it, or at least the section's window of it; the
// block is appended to it.  Returns false, appending nothing, if a reference
// reaches before the start of `text`.
bool rebuild_block(const ParsedSection& p, std::span<const uint8_t> literals,
                   std::vector<uint8_t>& text);

// The decoder side for a run: keeps the last window of rebuilt text.
class LongRangeDecoder {
 public:
  struct Result {
    SectionDamage damage;         // none: `text` holds the block
    std::span<const uint8_t> text;  // valid until the next call
  };
  // `max_window`: the largest window this decoder accepts (its memory
  // bound); a section asking for more, or for another window than the
  // run's first block, is bad_window.
  explicit LongRangeDecoder(uint64_t max_window = LONG_RANGE_MAX_WINDOW) : max_window_(max_window) {}
  Result decode_block(std::span<const uint8_t> section, std::span<const uint8_t> literals);
  uint64_t run_bytes() const { return end_; }

 private:
  uint64_t max_window_;
  uint64_t window_ = 0;        // the run's window, from its first block
  std::vector<uint8_t> text_;  // run text from base_ to end_
  uint64_t base_ = 0;
  uint64_t end_ = 0;
};

}  // namespace tav
