// Per-entry loops over a node's frequency array, in several instruction sets.
//
// Every variant gives the same bits: each lane performs the same binary64
// operations as the scalar code, in the same order, under the same rounding
// mode (the vector units obey the same control register), followed by the
// same binary32 store, and no product is fused with a sum.  Entries of one
// node are independent of each other, so computing them side by side changes
// nothing.  The scalar loops are the reference and the only path on targets
// without x86 vector units; the SSE2 loops are the baseline on x86-64; the
// AVX loops are chosen at start-up when the processor has AVX.
#pragma once

#include <cstdint>

namespace tav {

enum class KernelSet : uint8_t { scalar, sse2, avx };

// The fastest set this build and processor support.
KernelSet best_kernel_set();

// Selects the set used from now on (for tests and benchmarks; the default is
// best_kernel_set()).  Returns false, changing nothing, when `k` is not
// supported here.
bool use_kernel_set(KernelSet k);
KernelSet current_kernel_set();
const char* kernel_set_name(KernelSet k);

// frequency[e] <- (float)((keep * frequency[e]) + add), for e in [0, count).
// `freq` points at `count` packed binary32 values (any alignment).
void decay_frequencies(uint8_t* freq, uint32_t count, double keep, double add);

// mass[symbol[e]] <- (float)(frequency[e] * scale) for e in [0, count): the
// first mixed level, whose masses are all 0.0 before (x + 0.0 is x, so this
// equals the general step).  Symbols must be distinct.
void store_scaled_masses(float* mass, const uint8_t* freq, const uint8_t* sym, uint32_t count,
                         double scale);

// mass[symbol[e]] <- (float)((frequency[e] * scale) + mass[symbol[e]]) for e in
// [0, count), in entry order.  Symbols must be distinct.
void add_scaled_masses(float* mass, const uint8_t* freq, const uint8_t* sym, uint32_t count,
                       double scale);

}  // namespace tav
