#include "context_sort.h"

#include <divsufsort.h>
#include <divsufsort64.h>

#include <algorithm>
#include <cassert>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

namespace tav::tools {

namespace {

constexpr std::uint8_t LF = 0x0A;
// Byte value as seen by the suffix sorter: flipping the top bit makes
// unsigned comparison equal signed comparison.
constexpr std::uint8_t flip(std::uint8_t c) { return c ^ 0x80; }
constexpr std::uint8_t FLIPPED_LF = flip(LF);

void build_suffix_array(const std::uint8_t* s, std::int32_t* sa, std::int64_t len) {
  const int rc = divsufsort(s, sa, static_cast<saidx_t>(len));
  if (rc == -2) throw std::bad_alloc();
  if (rc != 0) throw std::length_error("suffix sorter refused the text");
}

void build_suffix_array(const std::uint8_t* s, std::int64_t* sa, std::int64_t len) {
  const int rc = divsufsort64(s, sa, static_cast<saidx64_t>(len));
  if (rc == -2) throw std::bad_alloc();
  if (rc != 0) throw std::length_error("suffix sorter refused the text");
}

// Marks every suffix of `r` whose line key (its prefix up to and including
// the first LF) equals the key of the suffix just before it in `sa`.
//
// This is the longest-common-prefix scan over suffixes in string order, with
// each comparison capped at the key length.  The cap keeps the usual bound
// (the capped value drops by at most one from one suffix to the next), so the
// total work is linear.  The predecessor of each suffix is built a slice at a
// time to keep memory at half a byte per text byte instead of four.
template <class Index>
std::vector<std::uint64_t> mark_equal_keys(const std::uint8_t* r, const BigVector<Index>& sa) {
  const std::int64_t len = static_cast<std::int64_t>(sa.size());
  std::vector<std::uint64_t> equal((len + 63) / 64, 0);
  const std::int64_t slice = std::max<std::int64_t>((len + 7) / 8, std::min<std::int64_t>(len, 1 << 22));
  BigVector<Index> predecessor(slice);

  std::int64_t matched = 0;  // capped common prefix of the previous suffix
  std::int64_t next_lf = -1;  // first LF at or after the current suffix
  for (std::int64_t lo = 0; lo < len; lo += slice) {
    const std::int64_t hi = std::min(len, lo + slice);
    std::fill(predecessor.begin(), predecessor.end(), Index(-1));
    for (std::int64_t k = 1; k < len; ++k) {
      const std::int64_t s = sa[k];
      if (s >= lo && s < hi) predecessor[s - lo] = sa[k - 1];
    }
    for (std::int64_t s = lo; s < hi; ++s) {
      if (next_lf < s) {
        next_lf = s;
        while (r[next_lf] != FLIPPED_LF) ++next_lf;  // r ends with LF
      }
      const std::int64_t key_length = next_lf - s + 1;
      const std::int64_t f = predecessor[s - lo];
      if (f < 0) {
        matched = 0;
        continue;
      }
      std::int64_t h = matched > 0 ? matched - 1 : 0;
      assert(h <= key_length);
      // Both stay inside r: while the bytes match and no LF was met, the
      // predecessor has not reached the final LF either.
      while (h < key_length && r[s + h] == r[f + h]) ++h;
      if (h == key_length) equal[s >> 6] |= std::uint64_t(1) << (s & 63);
      matched = h;
    }
  }
  return equal;
}

}  // namespace

template <class Index>
BigVector<Index> context_sorted_positions(std::span<const std::uint8_t> text, ContextOrder order) {
  const std::int64_t n = static_cast<std::int64_t>(text.size());
  if (n == 0) return {};
  if (n >= static_cast<std::int64_t>(std::numeric_limits<Index>::max()))
    throw std::length_error("text too long for this index width");

  // r = reversed text, then the start-of-text LF.  Suffix r[n-p..] is the
  // context of position p followed by its end; a suffix that ends first sorts
  // first, as the unbounded order wants.  Suffix 0 belongs to position n,
  // which does not exist and is dropped below.
  const std::int64_t len = n + 1;
  BigVector<Index> sa;
  {
    BigVector<std::uint8_t> r(len);
    for (std::int64_t i = 0; i < n; ++i) r[i] = flip(text[n - 1 - i]);
    r[n] = FLIPPED_LF;
    sa.resize(len);
    build_suffix_array(r.data(), sa.data(), len);

    if (order == ContextOrder::line_bounded) {
      // Suffixes with equal keys stand together, ordered by what follows the
      // key; put each such run in text order (ascending p, descending suffix).
      const auto equal = mark_equal_keys(r.data(), sa);
      BigVector<std::uint8_t>().swap(r);
      auto is_equal = [&](Index s) { return (equal[s >> 6] >> (s & 63)) & 1; };
      for (std::int64_t k = 0; k < len;) {
        std::int64_t end = k + 1;
        while (end < len && is_equal(sa[end])) ++end;
        if (end - k > 1) std::sort(sa.begin() + k, sa.begin() + end, std::greater<Index>());
        k = end;
      }
    }
  }

  std::int64_t out = 0;
  for (std::int64_t k = 0; k < len; ++k)
    if (sa[k] != 0) sa[out++] = static_cast<Index>(n - sa[k]);
  assert(out == n);
  sa.resize(n);
  return sa;
}

template BigVector<std::int32_t> context_sorted_positions<std::int32_t>(std::span<const std::uint8_t>,
                                                                        ContextOrder);
template BigVector<std::int64_t> context_sorted_positions<std::int64_t>(std::span<const std::uint8_t>,
                                                                        ContextOrder);

}  // namespace tav::tools
