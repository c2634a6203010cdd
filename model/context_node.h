// Field access for a context node of class n, laid out as in decoder_types.h:
// header (visit, win, total, hit), then frequency[n], successor[n], symbol[n].
// The view is valid until the node moves (grows into the next class).
#pragma once

#include <cstdint>
#include <cstring>

#include "decoder_types.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tav {

struct NodeView {
  uint8_t* base;
  uint32_t n;

  float visit_count() const { return load_f32(base + 0); }
  float win_count() const { return load_f32(base + 4); }
  float total_count() const { return load_f32(base + 8); }
  float hit_count() const { return load_f32(base + 12); }
  void set_visit_count(float v) const { store_f32(base + 0, v); }
  void set_win_count(float v) const { store_f32(base + 4, v); }
  void set_total_count(float v) const { store_f32(base + 8, v); }
  void set_hit_count(float v) const { store_f32(base + 12, v); }

  uint8_t* frequencies() const { return base + NODE_HEADER_BYTES; }
  uint8_t* successors() const { return base + NODE_HEADER_BYTES + 4 * n; }
  uint8_t* symbols() const { return base + NODE_HEADER_BYTES + 8 * n; }

  float frequency(uint32_t e) const { return load_f32(frequencies() + 4 * e); }
  void set_frequency(uint32_t e, float f) const { store_f32(frequencies() + 4 * e, f); }
  uint8_t* successor_field(uint32_t e) const { return successors() + 4 * e; }
  Ref successor(uint32_t e) const { return load_u32(successor_field(e)); }
  void set_successor(uint32_t e, Ref r) const { store_u32(successor_field(e), r); }
  uint8_t symbol(uint32_t e) const { return symbols()[e]; }
  void set_symbol(uint32_t e, uint8_t s) const { symbols()[e] = s; }

  // Index of the first entry holding s, or n when there is none.  Most
  // nodes hold a few entries: a plain loop beats a library call there.
  uint32_t find(uint8_t s) const {
    const uint8_t* const sym = symbols();
    uint32_t e = 0;
#if defined(__SSE2__)
    const __m128i key = _mm_set1_epi8(static_cast<char>(s));
    for (; e + 16 <= n; e += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sym + e));
      const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(v, key));
      if (hits != 0) return e + static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
#endif
    for (; e < n; ++e)
      if (sym[e] == s) return e;
    return n;
  }

  // Writes all three fields of entry e.
  void set_entry(uint32_t e, uint8_t s, float f, Ref succ) const {
    set_symbol(e, s);
    set_frequency(e, f);
    set_successor(e, succ);
  }
};

// Copies header and entries of `from` into `to`, which has room for at least
// from.n entries; entries keep their indices.
inline void copy_node(const NodeView& from, const NodeView& to) {
  std::memcpy(to.base, from.base, NODE_HEADER_BYTES);
  std::memcpy(to.frequencies(), from.frequencies(), 4 * from.n);
  std::memcpy(to.successors(), from.successors(), 4 * from.n);
  std::memcpy(to.symbols(), from.symbols(), from.n);
}

}  // namespace tav
