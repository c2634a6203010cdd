// Per-entry loops over a node's frequency array.  Each lane performs the same
// binary64 operations under the same rounding mode as the scalar code, then
// the same binary32 store, so both paths give identical bits.  x86 intrinsics
// are used where SSE2 is available; every other target takes the scalar path.
#pragma once

#include <cstdint>

#include "decoder_types.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tav {

// frequency[e] <- (keep * frequency[e]) + add, for e in [0, count).
inline void decay_frequencies(uint8_t* freq, uint32_t count, double keep, double add) {
  uint32_t e = 0;
#if defined(__SSE2__)
  const __m128d k = _mm_set1_pd(keep);
  const __m128d a = _mm_set1_pd(add);
  for (; e + 4 <= count; e += 4) {
    const __m128 f = _mm_loadu_ps(reinterpret_cast<const float*>(freq + 4 * e));
    const __m128d lo = _mm_add_pd(_mm_mul_pd(k, _mm_cvtps_pd(f)), a);
    const __m128d hi = _mm_add_pd(_mm_mul_pd(k, _mm_cvtps_pd(_mm_movehl_ps(f, f))), a);
    const __m128 out = _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
    _mm_storeu_ps(reinterpret_cast<float*>(freq + 4 * e), out);
  }
#endif
  for (; e < count; ++e) {
    const double f = load_f32(freq + 4 * e);
    store_f32(freq + 4 * e, static_cast<float>(keep * f + add));
  }
}

}  // namespace tav
