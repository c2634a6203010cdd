#include "successor_chains.h"

#include <array>
#include <cassert>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr std::uint8_t LF = 0x0A;

// Chains jump through the successor table at random, so one chain at a time
// waits on a cache miss per byte.  Following several chains side by side lets
// those misses overlap; a window of buffered chains keeps the output in order.
constexpr std::size_t WALKERS = 24;
constexpr std::size_t WINDOW = 64;  // chains begun but not yet written; power of two

template <class Index>
std::unique_ptr<Index[]> successor_table(std::span<const std::uint8_t> t) {
  const std::size_t n = t.size();
  auto successor = std::make_unique_for_overwrite<Index[]>(n);
  std::array<std::uint64_t, 256> counter{};
  for (std::size_t i = 0; i < n; ++i) successor[i] = static_cast<Index>(counter[t[i]]++);
  std::uint64_t total = 0;
  for (int k = 0; k < 256; ++k) {
    const int c = (k + 0x80) & 0xFF;  // 0x80..0xFF, then 0x00..0x7F
    const std::uint64_t count = counter[c];
    counter[c] = total;
    total += count;
  }
  for (std::size_t i = 0; i < n; ++i) successor[i] += static_cast<Index>(counter[t[i]]);
  return successor;
}

template <class Index>
void follow_chains(std::span<const std::uint8_t> t, const Index* successor, const ByteSink& sink) {
  const std::uint8_t* const text = t.data();
  const std::size_t n = t.size();

  struct Walker {
    Index at;
    std::size_t chain;
  };
  std::array<std::vector<std::uint8_t>, WINDOW> line;
  std::array<bool, WINDOW> done{};
  std::size_t flushed = 0;    // chains written to the sink
  std::size_t started = 0;    // chains begun
  std::size_t scan_from = 0;  // where to look for the next starting LF

  auto start = [&](Walker& w) {
    if (started == flushed + WINDOW || scan_from >= n) return false;
    const void* hit = std::memchr(text + scan_from, LF, n - scan_from);
    if (hit == nullptr) {
      scan_from = n;
      return false;
    }
    const std::size_t j = static_cast<const std::uint8_t*>(hit) - text;
    scan_from = j + 1;
    w = Walker{static_cast<Index>(j), started};
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
      const Index p = successor[v.at];
      const std::uint8_t c = text[p];
      v.at = p;
      line[v.chain % WINDOW].push_back(c);
      if (c != LF) {
        ++a;
        continue;
      }
      done[v.chain % WINDOW] = true;
      while (flushed < started && done[flushed % WINDOW]) {
        sink(line[flushed % WINDOW]);
        ++flushed;
      }
      if (!start(v)) {
        v = active.back();
        active.pop_back();
      } else {
        ++a;
      }
    }
  }
  assert(flushed == started);
}

}  // namespace

void unsort_context_text(std::span<const std::uint8_t> sorted, const ByteSink& sink) {
  if (sorted.size() <= std::numeric_limits<std::uint32_t>::max()) {
    const auto successor = successor_table<std::uint32_t>(sorted);
    follow_chains<std::uint32_t>(sorted, successor.get(), sink);
  } else {
    const auto successor = successor_table<std::uint64_t>(sorted);
    follow_chains<std::uint64_t>(sorted, successor.get(), sink);
  }
}
