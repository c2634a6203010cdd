#include "frequency_kernels.h"

#include "decoder_types.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// AVX loops are compiled for that target only and chosen at run time, so the
// default build still runs on any x86-64.  Only AVX is enabled there, never
// FMA, so no product can be fused with its sum.
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TAV_HAVE_AVX_KERNELS 1
#define TAV_TARGET_AVX __attribute__((target("avx")))
#endif

namespace tav {

namespace {

// ---- scalar reference -------------------------------------------------------

void decay_scalar(uint8_t* freq, uint32_t from, uint32_t count, double keep, double add) {
  for (uint32_t e = from; e < count; ++e) {
    const double f = load_f32(freq + 4 * e);
    store_f32(freq + 4 * e, static_cast<float>(keep * f + add));
  }
}

void store_scalar(float* mass, const uint8_t* freq, const uint8_t* sym, uint32_t from,
                  uint32_t count, double scale) {
  for (uint32_t e = from; e < count; ++e)
    mass[sym[e]] = static_cast<float>(static_cast<double>(load_f32(freq + 4 * e)) * scale);
}

// ---- SSE2 -------------------------------------------------------------------

#if defined(__SSE2__)
void decay_sse2(uint8_t* freq, uint32_t count, double keep, double add) {
  uint32_t e = 0;
  const __m128d k = _mm_set1_pd(keep);
  const __m128d a = _mm_set1_pd(add);
  for (; e + 4 <= count; e += 4) {
    const __m128 f = _mm_loadu_ps(reinterpret_cast<const float*>(freq + 4 * e));
    const __m128d lo = _mm_add_pd(_mm_mul_pd(k, _mm_cvtps_pd(f)), a);
    const __m128d hi = _mm_add_pd(_mm_mul_pd(k, _mm_cvtps_pd(_mm_movehl_ps(f, f))), a);
    _mm_storeu_ps(reinterpret_cast<float*>(freq + 4 * e),
                  _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
  }
  decay_scalar(freq, e, count, keep, add);
}

void store_sse2(float* mass, const uint8_t* freq, const uint8_t* sym, uint32_t count,
                double scale) {
  uint32_t e = 0;
  const __m128d k = _mm_set1_pd(scale);
  alignas(16) float out[4];
  for (; e + 4 <= count; e += 4) {
    const __m128 f = _mm_loadu_ps(reinterpret_cast<const float*>(freq + 4 * e));
    const __m128d lo = _mm_mul_pd(_mm_cvtps_pd(f), k);
    const __m128d hi = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(f, f)), k);
    _mm_store_ps(out, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    for (int i = 0; i < 4; ++i) mass[sym[e + i]] = out[i];
  }
  store_scalar(mass, freq, sym, e, count, scale);
}
#endif

// ---- AVX --------------------------------------------------------------------

#if defined(TAV_HAVE_AVX_KERNELS)
TAV_TARGET_AVX void decay_avx(uint8_t* freq, uint32_t count, double keep, double add) {
  uint32_t e = 0;
  const __m256d k = _mm256_set1_pd(keep);
  const __m256d a = _mm256_set1_pd(add);
  for (; e + 8 <= count; e += 8) {
    float* const p = reinterpret_cast<float*>(freq + 4 * e);
    const __m256d f0 = _mm256_cvtps_pd(_mm_loadu_ps(p));
    const __m256d f1 = _mm256_cvtps_pd(_mm_loadu_ps(p + 4));
    _mm_storeu_ps(p, _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(k, f0), a)));
    _mm_storeu_ps(p + 4, _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(k, f1), a)));
  }
  for (; e + 4 <= count; e += 4) {
    float* const p = reinterpret_cast<float*>(freq + 4 * e);
    const __m256d f = _mm256_cvtps_pd(_mm_loadu_ps(p));
    _mm_storeu_ps(p, _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(k, f), a)));
  }
  for (; e < count; ++e) {
    const double f = load_f32(freq + 4 * e);
    store_f32(freq + 4 * e, static_cast<float>(keep * f + add));
  }
}

TAV_TARGET_AVX void store_avx(float* mass, const uint8_t* freq, const uint8_t* sym,
                              uint32_t count, double scale) {
  uint32_t e = 0;
  const __m256d k = _mm256_set1_pd(scale);
  alignas(16) float out[4];
  for (; e + 4 <= count; e += 4) {
    const __m256d f = _mm256_cvtps_pd(_mm_loadu_ps(reinterpret_cast<const float*>(freq + 4 * e)));
    _mm_store_ps(out, _mm256_cvtpd_ps(_mm256_mul_pd(f, k)));
    for (int i = 0; i < 4; ++i) mass[sym[e + i]] = out[i];
  }
  for (; e < count; ++e)
    mass[sym[e]] = static_cast<float>(static_cast<double>(load_f32(freq + 4 * e)) * scale);
}
#endif

bool supported(KernelSet k) {
  switch (k) {
    case KernelSet::scalar: return true;
    case KernelSet::sse2:
#if defined(__SSE2__)
      return true;
#else
      return false;
#endif
    case KernelSet::avx:
#if defined(TAV_HAVE_AVX_KERNELS)
      __builtin_cpu_init();  // may run before the runtime's own constructor
      return __builtin_cpu_supports("avx") != 0;
#else
      return false;
#endif
  }
  return false;
}

KernelSet g_kernels = best_kernel_set();

}  // namespace

KernelSet best_kernel_set() {
  if (supported(KernelSet::avx)) return KernelSet::avx;
  if (supported(KernelSet::sse2)) return KernelSet::sse2;
  return KernelSet::scalar;
}

bool use_kernel_set(KernelSet k) {
  if (!supported(k)) return false;
  g_kernels = k;
  return true;
}

KernelSet current_kernel_set() { return g_kernels; }

const char* kernel_set_name(KernelSet k) {
  switch (k) {
    case KernelSet::scalar: return "scalar";
    case KernelSet::sse2: return "sse2";
    case KernelSet::avx: return "avx";
  }
  return "?";
}

void decay_frequencies(uint8_t* freq, uint32_t count, double keep, double add) {
  switch (g_kernels) {
#if defined(TAV_HAVE_AVX_KERNELS)
    case KernelSet::avx: decay_avx(freq, count, keep, add); return;
#endif
#if defined(__SSE2__)
    case KernelSet::sse2: decay_sse2(freq, count, keep, add); return;
#endif
    default: decay_scalar(freq, 0, count, keep, add); return;
  }
}

void store_scaled_masses(float* mass, const uint8_t* freq, const uint8_t* sym, uint32_t count,
                         double scale) {
  switch (g_kernels) {
#if defined(TAV_HAVE_AVX_KERNELS)
    case KernelSet::avx: store_avx(mass, freq, sym, count, scale); return;
#endif
#if defined(__SSE2__)
    case KernelSet::sse2: store_sse2(mass, freq, sym, count, scale); return;
#endif
    default: store_scalar(mass, freq, sym, 0, count, scale); return;
  }
}

// The additions go through a byte-indexed gather and scatter, which the
// vector units of the baseline cannot do faster than the scalar loop.
void add_scaled_masses(float* mass, const uint8_t* freq, const uint8_t* sym, uint32_t count,
                       double scale) {
  for (uint32_t e = 0; e < count; ++e) {
    float& m = mass[sym[e]];
    m = static_cast<float>(static_cast<double>(load_f32(freq + 4 * e)) * scale +
                           static_cast<double>(m));
  }
}

}  // namespace tav
