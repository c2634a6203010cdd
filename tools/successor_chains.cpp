#include "successor_chains.h"

#include <array>
#include <cassert>
#include <vector>

#include "huge_page_allocator.h"

namespace {

constexpr std::uint8_t LF = 0x0A;

// Chains jump through the successor table at random, so one chain at a time
// waits a full memory latency per byte.  Following several chains side by
// side, each prefetching its next entry, lets those waits overlap; a window
// of buffered chains keeps the output in order.
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
    const int c = (k + 0x80) & 0xFF;  // 0x80..0xFF, then 0x00..0x7F
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

}  // namespace

void unsort_context_text(std::span<const std::uint8_t> sorted, const ByteSink& sink) {
  std::uint64_t lf_block = 0;
  const auto table = successor_table(sorted, lf_block);
  std::uint64_t lf_count = 0;
  for (const std::uint8_t c : sorted) lf_count += c == LF;
  follow_chains(table, lf_block, lf_count, sink);
}
