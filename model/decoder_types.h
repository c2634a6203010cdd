// Types shared by every part of the model, and the numeric mode it runs in.
//
// The model is shared by the decoder and the compressor.  Its floating-point
// results are part of the compressed format: each addition, subtraction,
// multiplication and division is one binary64 operation rounded toward zero,
// every store into a float rounds toward zero, every conversion to an integer
// truncates.  `set_numeric_mode` must run before any model arithmetic.
//
// The container that carries the model's stream is described in container.h.
#pragma once

#include <cstdint>
#include <cstring>

namespace tav {

// Sets rounding toward zero for the whole process.  Returns false when the
// platform refuses.  (binary64 arithmetic is the only precision on the
// targets we build for: SSE2 on x86-64, the FPU on aarch64.)
bool set_numeric_mode();

// True when the current rounding mode is toward zero.
bool numeric_mode_is_set();

// Unaligned little-endian loads and stores: node fields are packed.
inline float load_f32(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store_f32(uint8_t* p, float v) { std::memcpy(p, &v, 4); }
inline uint32_t load_u32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store_u32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

inline float f32_from_bits(uint32_t bits) {
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}
inline double f64_from_bits(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}
inline uint32_t bits_of(float v) {
  uint32_t b;
  std::memcpy(&b, &v, 4);
  return b;
}
inline uint64_t bits_of(double v) {
  uint64_t b;
  std::memcpy(&b, &v, 8);
  return b;
}

// Reference to a node or to a text position, as stored in a 32-bit
// `successor` field.  Values below NODE_REF_FLAG are TextBuffer positions
// (texts up to 2^31 - 1 bytes); values with the flag set name a node by its
// page (23 bits, enough for 32767 blocks of 256 pages) and its slot in the
// page (8 bits).  0 is never a node, so a null node reference is 0.
using Ref = uint32_t;
inline constexpr Ref NODE_REF_FLAG = 0x80000000u;
inline constexpr Ref NULL_NODE = 0;
inline constexpr uint32_t MAX_TEXT_LENGTH = 0x7FFFFFFFu;
inline constexpr uint32_t MAX_MEMORY_MB = 32767;

inline bool is_node_ref(Ref r) { return (r & NODE_REF_FLAG) != 0; }

// A hint to load a cache line that will be read soon; no effect on results.
#if defined(__GNUC__) || defined(__clang__)
#define TAV_PREFETCH(addr) __builtin_prefetch(addr)
#else
#define TAV_PREFETCH(addr) ((void)(addr))
#endif

// A node of class n occupies 16 + 9n bytes of its page:
//   0  visit_count  f32 (sign bit = winner flag)
//   4  win_count    f32
//   8  total_count  f32
//   12 hit_count    f32
//   16 frequency[n] f32, in entry order
//   16 + 4n successor[n] u32
//   16 + 8n symbol[n]    u8
// The entries are kept as three arrays within the same bytes the packed
// 9-byte records would use, so scans over one field are contiguous.
inline constexpr uint32_t NODE_HEADER_BYTES = 16;
inline constexpr uint32_t ENTRY_BYTES = 9;
inline constexpr uint32_t node_bytes(uint32_t n) { return NODE_HEADER_BYTES + ENTRY_BYTES * n; }

}  // namespace tav
