#include "successor_chains.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <exception>
#include <limits>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "huge_page_allocator.h"

namespace tav::tools {

namespace {

constexpr std::uint8_t LF = 0x0A;

// Threads that follow chains at most, however many processors there are:
// beyond a few, memory bandwidth rather than waiting limits them.
constexpr unsigned MAX_THREADS = 8;

// Starts `work` on a thread of its own.  Where the system has no thread to
// give, returns one that is not joinable, and the caller does without.
template <class Work>
std::jthread start_thread(Work&& work) {
  try {
    return std::jthread(std::forward<Work>(work));
  } catch (const std::system_error&) {
    return {};
  }
}

// Byte values in the order in which the sort ranks them: 0x80..0xFF, then
// 0x00..0x7F.
constexpr int ranked_byte(int rank) { return (rank + 0x80) & 0xFF; }

// Collects output a block at a time, so that the sink sees few large pieces.
class OutputBlock {
 public:
  explicit OutputBlock(const ByteSink& sink) : sink_(sink) { bytes_.reserve(CAPACITY); }
  void append(const std::uint8_t* p, std::size_t length) {
    if (bytes_.size() + length > CAPACITY) flush();
    if (length > CAPACITY) {
      sink_(std::span<const std::uint8_t>(p, length));
      return;
    }
    bytes_.insert(bytes_.end(), p, p + length);
  }
  void flush() {
    if (!bytes_.empty()) sink_(bytes_);
    bytes_.clear();
  }

 private:
  static constexpr std::size_t CAPACITY = std::size_t(1) << 20;
  const ByteSink& sink_;
  std::vector<std::uint8_t> bytes_;
};

// ---------------------------------------------------------------------------
// Texts of 2^32 bytes and more: one successor step per byte.
//
// Chains jump through the successor table at random, so one chain at a time
// waits a full memory latency per byte.  Following several chains side by
// side, each prefetching its next entry, lets those waits overlap; a window
// of buffered chains keeps the output in order.
namespace wide {

constexpr std::size_t WALKERS = 32;
constexpr std::size_t WINDOW = 128;  // chains begun but not yet written

// Entry i: (successor[i] << 8) | T[i].  Holding the byte beside its successor
// makes each step of a chain one memory access instead of two.
using Entry = std::uint64_t;

BigVector<Entry> successor_table(std::span<const std::uint8_t> t, std::uint64_t& lf_block) {
  const std::size_t n = t.size();
  BigVector<Entry> table(n);
  std::array<std::uint64_t, 256> counter{};
  for (std::size_t i = 0; i < n; ++i) table[i] = counter[t[i]]++;
  std::uint64_t total = 0;
  for (int k = 0; k < 256; ++k) {
    const int c = ranked_byte(k);
    const std::uint64_t count = counter[c];
    counter[c] = total;
    total += count;
  }
  for (std::size_t i = 0; i < n; ++i) table[i] = ((table[i] + counter[t[i]]) << 8) | t[i];
  lf_block = counter[LF];
  return table;
}

// The k-th LF of T (in index order) has successor C(LF) + k, so chain k
// starts there; the LF that starts it is not written.
void follow_chains(const BigVector<Entry>& table, std::uint64_t lf_block, std::uint64_t lf_count,
                   const ByteSink& sink) {
  struct Walker {
    Entry entry;  // of the index whose byte is written next
    std::uint64_t chain;
  };
  std::array<std::vector<std::uint8_t>, WINDOW> line;
  std::array<bool, WINDOW> done{};
  std::uint64_t flushed = 0;  // chains written to the sink
  std::uint64_t started = 0;  // chains begun

  auto start = [&](Walker& w) {
    if (started == lf_count || started == flushed + WINDOW) return false;
    w = Walker{table[lf_block + started], started};
    line[started % WINDOW].clear();
    done[started % WINDOW] = false;
    ++started;
    return true;
  };

  std::vector<Walker> active;
  active.reserve(WALKERS);
  for (;;) {
    Walker w{};
    while (active.size() < WALKERS && start(w)) active.push_back(w);
    if (active.empty()) break;
    for (std::size_t a = 0; a < active.size();) {
      Walker& v = active[a];
      const std::uint8_t c = static_cast<std::uint8_t>(v.entry);
      line[v.chain % WINDOW].push_back(c);
      if (c != LF) {
        v.entry = table[v.entry >> 8];
        __builtin_prefetch(&table[v.entry >> 8]);
        ++a;
        continue;
      }
      done[v.chain % WINDOW] = true;
      while (flushed < started && done[flushed % WINDOW]) {
        sink(line[flushed % WINDOW]);
        ++flushed;
      }
      if (start(v)) {
        __builtin_prefetch(&table[v.entry >> 8]);
        ++a;
      } else {
        v = active.back();
        active.pop_back();
      }
    }
  }
  assert(flushed == lf_count);
}

void unsort(std::span<const std::uint8_t> sorted, const ByteSink& sink) {
  std::uint64_t lf_block = 0;
  const auto table = successor_table(sorted, lf_block);
  std::uint64_t lf_count = 0;
  for (const std::uint8_t c : sorted) lf_count += c == LF;
  follow_chains(table, lf_block, lf_count, sink);
}

}  // namespace wide

// ---------------------------------------------------------------------------
// Texts shorter than 2^32 bytes: two bytes per successor step.
//
// Write S for the successor table and w2(p) = T[p] T[S p] for the two bytes
// met from p.  S is increasing over the indices that hold one byte value
// (its block of successors is filled in index order), and likewise S^2 is
// increasing over the indices that share one pair w2, with values filling the
// block of contexts that begin with that pair reversed:
//
//   S^2[p] = C2(w2(p)) + (number of indices q < p with w2(q) = w2(p)).
//
// So S^2 comes from counting, like S, without S itself: one pass finds T[S p]
// by walking each byte's block of T in order (256 sequential streams), a
// pass before it counts the pairs.  Each index gets a 6-byte record of w2(p)
// and S^2[p]; the chains then jump through the records at random, two bytes
// per jump, and stop at the first LF.
//
// Why not further, to S^4 (four bytes per jump)?  It reads well (S^4 =
// S^2 o S^2 runs through one increasing stream per pair), but needs 8 bytes
// per index for the chain table and 4 more for S^2 while building it.  Fresh
// memory is costly where these tools run: the kernel clears every page on
// first touch, and on a shared virtual machine that clearing often costs more
// than the time the shorter chains save.  Measured on a 118 MB text, the
// 12-bytes-per-byte S^4 table was slower than the one-byte steps through 8
// bytes per byte, while these 6-byte records beat both.
namespace narrow {

using Index = std::uint32_t;

// Chains followed side by side: each waits for one memory access per step,
// so enough of them keep the memory system busy.  WINDOW bounds the chains
// begun but not yet written, in output order.
constexpr std::size_t WALKERS = 64;
constexpr std::size_t WINDOW = 256;

// The chain table: record p is 6 bytes at offset 6p, T[p] and T[S p] then
// S^2[p] in 4 bytes, little-endian.  A record is read with one unaligned
// 8-byte load (the table has 2 bytes of padding at its end).
constexpr std::size_t RECORD = 6;

struct Tables {
  BigVector<std::uint8_t> record;
  Index lf_block = 0;  // C(LF): where the successors of LFs begin
  Index lf_count = 0;
};

inline std::uint64_t load_record(const std::uint8_t* table, Index p) {
  std::uint64_t v;
  std::memcpy(&v, table + RECORD * std::size_t(p), 8);
  return v;
}

// The sequential passes over T split it into two halves walked side by
// side.  Counting through a table makes each step wait for the previous
// store when the same byte repeats, which sorted text does all the time; two
// independent halves keep two such chains going at once.
Tables pair_tables(std::span<const std::uint8_t> t) {
  const std::size_t n = t.size();
  const std::size_t half = n / 2;
  const std::uint8_t* text = t.data();

  // The table's pages are fresh memory, which the kernel clears on first
  // touch; on a virtual machine that can be most of this function's time.
  // Two more threads touch them, each half, while this one counts.
  Tables tables{BigVector<std::uint8_t>(RECORD * n + 2)};
  auto touch = [&tables](std::size_t begin, std::size_t end) {
    constexpr std::size_t PAGE = 4096;
    for (std::size_t i = begin; i < end; i += PAGE) tables.record[i] = 0;
  };
  const std::size_t middle = tables.record.size() / 2;
  std::jthread touch_low = start_thread([&] { touch(0, middle); });
  std::jthread touch_high = start_thread([&] { touch(middle, tables.record.size()); });

  // Byte counts, of the first half and of the whole text.
  std::array<std::array<Index, 256>, 4> part{};
  {
    std::size_t i = 0;
    for (; i + 2 <= half; i += 2) {
      ++part[0][text[i]];
      ++part[1][text[i + 1]];
    }
    for (; i < half; ++i) ++part[0][text[i]];
    for (; i + 2 <= n; i += 2) {
      ++part[2][text[i]];
      ++part[3][text[i + 1]];
    }
    for (; i < n; ++i) ++part[2][text[i]];
  }
  std::array<Index, 256> count_low{}, count{};
  for (int c = 0; c < 256; ++c) {
    count_low[c] = part[0][c] + part[1][c];
    count[c] = count_low[c] + part[2][c] + part[3][c];
  }
  // Block starts C(c): S[p] = next[T[p]]++.
  std::array<Index, 256> next{};
  Index total = 0;
  for (int k = 0; k < 256; ++k) {
    next[ranked_byte(k)] = total;
    total += count[ranked_byte(k)];
  }

  // Pair counts.  The indices p with T[p] = a have successors filling a's
  // block in order, so the second bytes of their pairs are the bytes of that
  // block; the first count_low[a] of them belong to the first half.
  std::vector<Index> pairs(65536), pairs_low(65536);  // [a * 256 + b]
  for (int a = 0; a < 256; ++a) {
    std::array<std::array<Index, 256>, 2> row{};
    const std::uint8_t* x = text + next[a];
    const std::uint8_t* const middle = x + count_low[a];
    const std::uint8_t* const end = x + count[a];
    auto count_to = [&](const std::uint8_t* stop) {
      for (; x + 2 <= stop; x += 2) {
        ++row[0][x[0]];
        ++row[1][x[1]];
      }
      if (x < stop) ++row[0][*x++];
    };
    count_to(middle);
    for (int b = 0; b < 256; ++b) pairs_low[a * 256 + b] = row[0][b] + row[1][b];
    count_to(end);
    for (int b = 0; b < 256; ++b) pairs[a * 256 + b] = row[0][b] + row[1][b];
  }
  // Pair blocks C2: the context of S^2[p] begins with b then a, so blocks
  // are ordered by the rank of b, then of a.
  std::vector<Index> next2(65536), next2_high(65536);
  total = 0;
  for (int kb = 0; kb < 256; ++kb) {
    for (int ka = 0; ka < 256; ++ka) {
      const int w = ranked_byte(ka) * 256 + ranked_byte(kb);
      next2[w] = total;
      next2_high[w] = total + pairs_low[w];
      total += pairs[w];
    }
  }
  std::array<Index, 256> next_high{};
  for (int c = 0; c < 256; ++c) next_high[c] = next[c] + count_low[c];

  tables.lf_block = next[LF];
  tables.lf_count = count[LF];
  for (std::jthread* t : {&touch_low, &touch_high})
    if (t->joinable()) t->join();
  std::uint8_t* const record = tables.record.data();
  auto step = [&](std::size_t p, std::array<Index, 256>& successor, std::vector<Index>& successor2) {
    const unsigned a = text[p];
    const unsigned b = text[successor[a]++];
    const std::uint64_t v = a | b << 8 | std::uint64_t(successor2[a * 256 + b]++) << 16;
    std::memcpy(record + RECORD * p, &v, RECORD);
  };
  for (std::size_t p = 0, q = half; p < half; ++p, ++q) {
    step(p, next, next2);
    step(q, next_high, next2_high);
  }
  if (n % 2 != 0) step(n - 1, next_high, next2_high);
  return tables;
}

// Writes lines [first, last).  Chain k starts at C(LF) + k, the successor of
// the k-th LF of T.  Stops early, leaving its lines unfinished, when `stop`
// is requested.
void follow_chains(const std::uint8_t* record, Index lf_block, Index first, Index last, const ByteSink& sink,
                   std::stop_token stop) {
  struct Line {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(256);
    std::size_t length = 0;
    bool done = false;
  };
  struct Walker {
    Index p;      // index of the next entry of the chain
    Index chain;  // which line it writes
  };
  auto prefetch = [&](Index p) { __builtin_prefetch(record + RECORD * std::size_t(p)); };
  std::vector<Line> line(WINDOW);
  OutputBlock out(sink);
  Index flushed = first;  // chains written out
  Index started = first;  // chains begun

  auto start = [&](Walker& w) {
    if (started == last || started == flushed + WINDOW || stop.stop_requested()) return false;
    w = Walker{lf_block + started, started};
    Line& l = line[started % WINDOW];
    l.length = 0;
    l.done = false;
    prefetch(w.p);
    ++started;
    return true;
  };

  std::vector<Walker> active;
  active.reserve(WALKERS);
  for (;;) {
    Walker w{};
    while (active.size() < WALKERS && start(w)) active.push_back(w);
    if (active.empty()) break;
    for (std::size_t a = 0; a < active.size();) {
      Walker& v = active[a];
      const std::uint64_t e = load_record(record, v.p);
      Line& l = line[v.chain % WINDOW];
      if (l.bytes.size() < l.length + 2) l.bytes.resize(2 * l.bytes.size());
      const std::uint16_t bytes = static_cast<std::uint16_t>(e);
      std::memcpy(l.bytes.data() + l.length, &bytes, 2);
      // Up to and including the first LF, or both bytes.
      const bool ends = (bytes & 0xFF) == LF || (bytes >> 8) == LF;
      l.length += (bytes & 0xFF) == LF ? 1 : 2;
      if (!ends) {
        v.p = static_cast<Index>(e >> 16);
        prefetch(v.p);
        ++a;
        continue;
      }
      l.done = true;
      while (flushed < started && line[flushed % WINDOW].done) {
        const Line& f = line[flushed % WINDOW];
        out.append(f.bytes.data(), f.length);
        ++flushed;
      }
      if (start(v)) {
        ++a;
      } else {
        v = active.back();
        active.pop_back();
      }
    }
  }
  out.flush();
  assert(flushed == last || stop.stop_requested());
}

// The chains are independent, so the lines are cut into `parts` ranges of
// equal count, each followed on its own thread: one thread waiting on memory
// for every step leaves the other cores idle.  The first range goes straight
// to the sink; the others are held until the ranges before them are written.
void unsort(std::span<const std::uint8_t> sorted, const ByteSink& sink, unsigned parts) {
  const Tables tables = pair_tables(sorted);
  const std::uint8_t* const record = tables.record.data();
  parts = static_cast<unsigned>(std::clamp<Index>(tables.lf_count, 1, parts));
  auto bound = [&](unsigned k) { return static_cast<Index>(std::uint64_t(tables.lf_count) * k / parts); };
  auto follow_part = [&](unsigned k, const ByteSink& to, std::stop_token stop) {
    follow_chains(record, tables.lf_block, bound(k), bound(k + 1), to, stop);
  };

  struct HeldPart {
    std::vector<std::vector<std::uint8_t>> pieces;
    std::exception_ptr error;
  };
  std::vector<HeldPart> held(parts);
  // Declared after `held`: on the way out the threads are stopped and joined
  // before what they write to goes away.
  std::vector<std::jthread> threads(parts);
  for (unsigned k = 1; k < parts; ++k) {
    threads[k] = start_thread([&, k](std::stop_token stop) {
      HeldPart& part = held[k];
      try {
        follow_part(
            k, [&](std::span<const std::uint8_t> piece) { part.pieces.emplace_back(piece.begin(), piece.end()); },
            stop);
      } catch (...) {
        part.error = std::current_exception();
      }
    });
  }
  follow_part(0, sink, {});
  for (unsigned k = 1; k < parts; ++k) {
    if (!threads[k].joinable()) {  // no thread to be had: this one does it
      follow_part(k, sink, {});
      continue;
    }
    threads[k].join();
    HeldPart& part = held[k];
    if (part.error) std::rethrow_exception(part.error);
    for (auto& piece : part.pieces) {
      sink(piece);
      std::vector<std::uint8_t>().swap(piece);
    }
  }
}

}  // namespace narrow

}  // namespace

void unsort_context_text(std::span<const std::uint8_t> sorted, const ByteSink& sink, unsigned threads) {
  if (sorted.empty()) return;  // no LF, no line; and an empty span may have no buffer at all
  if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, MAX_THREADS);
  if (sorted.size() < std::size_t(std::numeric_limits<narrow::Index>::max()))
    narrow::unsort(sorted, sink, threads);
  else
    wide::unsort(sorted, sink);
}

void unsort_context_text_wide(std::span<const std::uint8_t> sorted, const ByteSink& sink) {
  if (sorted.empty()) return;
  wide::unsort(sorted, sink);
}

}  // namespace tav::tools
