// Compression that tries other orders when the requested one cannot code an
// input.  Some inputs meet a limit of the format at some orders: a byte the
// model gives frequency 1 while the coder's range is small leaves a
// zero-width interval, after which nothing more can be coded.  The encoder
// notices it at that byte; this loop then starts again with the next order of
// fallback_orders (neighbours first, order 0 last, whose single weight keeps
// every frequency far above 1).  Each attempt is a whole new pass.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "byte_io.h"
#include "encode_stream.h"

namespace tav {

struct EncodeSettings {
  uint32_t order = 0;
  uint32_t memory_mb = 1;
  uint64_t node_memory_limit = UINT64_MAX;  // bytes the machine can give the model
};

struct FailedAttempt {
  uint32_t order;
  uint32_t position;  // byte at which the attempt stopped
  EncodeStatus status;
};

// What the caller hears while the attempts run; every member may be empty.
struct FallbackObserver {
  std::function<void(uint32_t order)> attempt_starts;
  EncodeProgress progress;
  // each attempt that failed in a way another order may avoid
  std::function<void(const FailedAttempt&)> attempt_failed;
};

struct FallbackResult {
  EncodeResult result;  // of the last attempt: ok, or the failure that ended the search
  uint32_t order = 0;   // the order of that attempt
};

// Encodes `text` into `out` at s.order, or at the first order of
// fallback_orders(s.order) that can code it; `out` is rewound before every
// attempt after the first.  Stops at once on io_error, out_of_memory and
// invalid_header (no order helps there).  When every order fails the result
// is the last failure.  Requires the numeric mode to be set.
FallbackResult encode_with_fallback(std::span<const uint8_t> text, const EncodeSettings& s,
                                    RewindableSink& out, const FallbackObserver& observer = {});

}  // namespace tav
