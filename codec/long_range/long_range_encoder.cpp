// The encoder side of the long-range stage (long_range.h): the history, the
// anchor index and the two ways of finding repeats.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "long_range.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace tav {

namespace {

constexpr uint64_t splitmix(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// One fixed random value per byte: the rolling hashes add these, not the
// bytes, so that runs of small values spread over all bits.
constexpr std::array<uint64_t, 256> make_byte_values(uint64_t seed) {
  std::array<uint64_t, 256> t{};
  for (auto& v : t) v = splitmix(seed);
  return t;
}
constexpr std::array<uint64_t, 256> ROLL = make_byte_values(0x6C6F6E6772616E67ULL);
constexpr std::array<uint64_t, 256> GEAR = make_byte_values(0x6765617274617621ULL);

constexpr uint64_t ROLL_MUL = 0x100000001B3ULL * 0x9E3779B1ULL | 1;  // odd

constexpr uint64_t mix(uint64_t h) {
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 32;
  return h;
}

uint64_t power(uint64_t b, uint64_t e) {
  uint64_t r = 1;
  while (e) {
    if (e & 1) r *= b;
    b *= b;
    e >>= 1;
  }
  return r;
}

uint32_t log2_ceil(uint64_t v) { return v <= 1 ? 0 : 64 - std::countl_zero(v - 1); }

// Bytes a[0..) and b[0..) agree for how many, at most n; a may lie before b
// and overlap it (both are read, never written).
uint64_t common_forward(const uint8_t* a, const uint8_t* b, uint64_t n) {
  uint64_t i = 0;
  while (i + 8 <= n) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return i + std::countr_zero(x ^ y) / 8;  // little-endian hosts
    i += 8;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

constexpr uint64_t MAX_ENCODER_WINDOW = (uint64_t{1} << 32) - 1;  // positions kept in 32 bits
constexpr uint32_t MAX_TABLE_LOG = 30;
constexpr uint32_t AUTO_TABLE_CAP = 26;

static_assert(std::endian::native == std::endian::little, "common_forward reads words little-endian");

}  // namespace

LongRangeSettingsFault check_settings(const LongRangeSettings& s) {
  using F = LongRangeSettingsFault;
  if (s.window_bytes == 0 || s.window_bytes > MAX_ENCODER_WINDOW) return F::window;
  if (s.min_match == 0 || s.min_match > (1u << 20)) return F::min_match;
  if (s.method == LongRangeMethod::anchors) {
    if (s.hash_bytes < 4 || s.hash_bytes > s.min_match) return F::hash_bytes;
    if (s.anchor_log > 16) return F::anchor_log;
  } else if (s.chunk_log < 8 || s.chunk_log > 20) {
    return F::chunk_log;
  }
  if (s.table_log != 0 && (s.table_log < 8 || s.table_log > MAX_TABLE_LOG)) return F::table_log;
  return F::none;
}

namespace {

// log2 of the index's slots: one per anchor (chunk) of a full window,
// rounded up, unless the settings name it.
uint32_t table_bits(const LongRangeSettings& s) {
  if (s.table_log != 0) return s.table_log;
  const uint32_t spacing_log = s.method == LongRangeMethod::anchors ? s.anchor_log : s.chunk_log;
  const uint64_t expected = std::max<uint64_t>(s.window_bytes >> spacing_log, 1);
  return std::clamp<uint32_t>(log2_ceil(expected), 12, AUTO_TABLE_CAP);
}

}  // namespace

uint64_t LongRangeEncoder::memory_bound(const LongRangeSettings& s, uint64_t history_bytes) {
  const uint64_t slot = s.method == LongRangeMethod::anchors ? sizeof(uint32_t) : sizeof(ChunkSlot);
  // The history is a vector that grows by doubling, and keeps a quarter of
  // the window (or 1 MiB) more than the window between trims.
  const uint64_t slack = std::max<uint64_t>(s.window_bytes / 4, 1 << 20);
  return 2 * (history_bytes + slack) + (uint64_t{1} << table_bits(s)) * slot;
}

uint32_t AnchorTable::exchange(uint32_t slot, uint32_t value) {
  if (!dense_.empty()) return std::exchange(dense_[slot], value);
  const auto [it, added] = sparse_.try_emplace(slot, 0);
  const uint32_t old = std::exchange(it->second, value);
  if (added && sparse_.size() > slots_ / 64) make_dense();
  return old;
}

void AnchorTable::make_dense() {
  dense_.assign(slots_, 0);
  for (const auto& [slot, value] : sparse_) dense_[slot] = value;
  sparse_ = {};
}

uint64_t AnchorTable::memory_bytes() const {
  // A map node holds the pair and the next pointer; a bucket, one pointer.
  return dense_.size() * sizeof(uint32_t) +
         sparse_.size() * (sizeof(std::pair<uint32_t, uint32_t>) + sizeof(void*)) +
         sparse_.bucket_count() * sizeof(void*);
}

LongRangeEncoder::LongRangeEncoder(const LongRangeSettings& s) : s_(s) {
  const uint32_t bits = table_bits(s);
  table_shift_ = 64 - bits;
  if (s.method == LongRangeMethod::anchors) {
    table_ = AnchorTable(bits);
  } else {
    chunk_table_.assign(size_t{1} << bits, ChunkSlot{});
  }
}

uint64_t LongRangeEncoder::memory_bytes() const {
  return hist_.capacity() + table_.memory_bytes() + chunk_table_.size() * sizeof(ChunkSlot);
}

void LongRangeEncoder::trim_history(uint64_t block_start) {
  // Keep window_bytes before the block; drop the rest once it is worth a copy.
  if (block_start - base_ <= s_.window_bytes) return;
  uint64_t keep_from = block_start - s_.window_bytes;
  uint64_t drop = keep_from - base_;
  if (drop < std::max<uint64_t>(s_.window_bytes / 4, 1 << 20) && drop < hist_.size()) return;
  hist_.erase(hist_.begin(), hist_.begin() + static_cast<std::ptrdiff_t>(drop));
  base_ = keep_from;
}

LongRangeBlock LongRangeEncoder::encode_block(std::span<const uint8_t> block) {
  LongRangeBlock out;
  uint64_t start = end_;
  trim_history(start);
  hist_.insert(hist_.end(), block.begin(), block.end());
  end_ += block.size();
  if (block.empty()) return out;
  out.literals.reserve(block.size());
  if (s_.method == LongRangeMethod::anchors) {
    encode_anchors(start, end_, out);
  } else {
    encode_chunks(start, end_, out);
  }
  return out;
}

namespace {

// Appends a reference at [b, b + len) copying from distance d, after the
// literals [lit, b); merges it into the previous one where it continues it.
void emit(LongRangeBlock& out, const uint8_t* lit_ptr, uint64_t lit, uint64_t b, uint64_t d,
          uint64_t len) {
  out.literals.insert(out.literals.end(), lit_ptr, lit_ptr + (b - lit));
  // Right after the previous reference (lit is where every reference ends)
  // and from the same distance: it continues that copy.
  if (b == lit && !out.references.empty() && out.references.back().distance == d) {
    out.references.back().length += len;
    return;
  }
  out.references.push_back(Reference{b - lit, d, len});
}

}  // namespace

void LongRangeEncoder::encode_anchors(uint64_t start, uint64_t end, LongRangeBlock& out) {
  const uint64_t W = s_.hash_bytes;
  const uint64_t window = s_.window_bytes;
  const uint64_t min_match = s_.min_match;
  const uint64_t out_mul = power(ROLL_MUL, W);
  const uint32_t anchor_shift = 64 - s_.anchor_log;  // anchor: mixed hash >> shift == 0
  const bool every = s_.anchor_log == 0;
  const uint32_t tshift = table_shift_;

  uint64_t lit = start;  // first byte not yet given to a literal run or a reference
  uint64_t p = std::max(start, base_ + W);
  if (p > end) {
    out.literals.insert(out.literals.end(), at(start), at(end));
    return;
  }
  uint64_t h = 0;
  for (const uint8_t* q = at(p - W); q < at(p); ++q) h = h * ROLL_MUL + ROLL[*q];
  const uint8_t* hp = at(p);  // byte entering the hash next
  for (;;) {
    uint64_t f = mix(h);
    if (every || (f >> anchor_shift) == 0) {
      uint32_t slot = static_cast<uint32_t>((f * 0x9E3779B97F4A7C15ULL) >> tshift);
      const uint32_t stored = table_.exchange(slot, static_cast<uint32_t>(p) + 1);
      if (stored != 0 && p > lit) {
        uint64_t d = static_cast<uint32_t>(static_cast<uint32_t>(p) - (stored - 1));
        if (d >= 1 && d <= window && d <= p - base_ - W &&
            std::memcmp(at(p - d - W), at(p - W), W) == 0) {
          uint64_t c = p - d;
          uint64_t t = p + common_forward(at(c), at(p), end - p);
          uint64_t b = p - W;
          if (b < lit) {
            b = lit;
          } else {
            while (b > lit && b - d > base_ && *at(b - d - 1) == *at(b - 1)) --b;
          }
          if (t - b >= min_match) {
            emit(out, at(lit), lit, b, d, t - b);
            lit = t;
          }
        }
      }
    }
    if (p == end) break;
    h = h * ROLL_MUL + ROLL[*hp] - out_mul * ROLL[*(hp - W)];
    ++hp;
    ++p;
  }
  out.literals.insert(out.literals.end(), at(lit), at(end));
}

void LongRangeEncoder::encode_chunks(uint64_t start, uint64_t end, LongRangeBlock& out) {
  const uint64_t avg_log = s_.chunk_log;
  const uint64_t min_len = uint64_t{1} << (avg_log - 2);
  const uint64_t max_len = uint64_t{1} << (avg_log + 3);
  const uint32_t cut_shift = 64 - static_cast<uint32_t>(avg_log);
  const uint64_t window = s_.window_bytes;
  uint64_t lit = start;
  uint64_t cs = start;
  while (cs < end) {
    // The next chunk [cs, ce): a gear hash cut after min_len bytes.
    uint64_t limit = std::min(end, cs + max_len);
    uint64_t ce = std::min(end, cs + min_len);
    uint64_t g = 0;
    const uint8_t* q = at(cs);
    for (uint64_t i = cs; i < ce; ++i) g = (g << 1) + GEAR[*q++];
    while (ce < limit && (g >> cut_shift) != 0) {
      g = (g << 1) + GEAR[*q++];
      ++ce;
    }
    uint64_t len = ce - cs;
    uint64_t hash = XXH3_64bits(at(cs), len);
    ChunkSlot& slot = chunk_table_[hash >> table_shift_];
    bool dup = slot.len == len && slot.hash == hash && slot.pos >= base_ && cs - slot.pos <= window &&
               std::memcmp(at(slot.pos), at(cs), len) == 0;
    uint64_t d = cs - slot.pos;
    slot = ChunkSlot{hash, cs, static_cast<uint32_t>(len)};
    if (dup && ce > lit) {
      uint64_t b = std::max(cs, lit);
      uint64_t t = ce;
      if (s_.chunk_extend) {
        while (b > lit && b - d > base_ && *at(b - d - 1) == *at(b - 1)) --b;
        t += common_forward(at(ce - d), at(ce), end - ce);
      }
      if (t - b >= s_.min_match) {
        emit(out, at(lit), lit, b, d, t - b);
        lit = t;
      }
    }
    cs = ce;
  }
  out.literals.insert(out.literals.end(), at(lit), at(end));
}

}  // namespace tav
