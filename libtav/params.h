// The parameters of a compression or decompression context, checked as they
// are set.  Presets and limits are the ones tav_e uses, so that the same
// settings give the same bytes.
#pragma once

#include <cstdint>

#include "run_error.h"
#include "settings.h"
#include "tav.h"

namespace tav::lib {

struct Params {
  int level = DEFAULT_PRESET;
  uint32_t order = DEFAULT_ORDER;
  uint32_t memory_mb = DEFAULT_MEMORY_MB;
  unsigned threads = 1;  // 0: one per core
  uint64_t block_bytes = DEFAULT_BLOCK_BYTES;
  uint64_t memory_limit = 0;  // 0: a quarter of the machine's memory
  bool plain = false;         // decompression also reads plain streams
  uint64_t long_window = 0;   // the long-range stage's window; 0: off
  StopRequest stop;           // the caller's interrupt check, if any
};

// TAV_ERROR_PARAMETER for an unknown parameter (any int a caller passed for
// a tav_param) or a value out of its range; `value` is then not applied.
tav_error set_param(Params& p, int param, int64_t value);
tav_error get_param(const Params& p, int param, int64_t* value);

// The engine's stop request for a caller's interrupt check (empty for NULL).
StopRequest stop_request(tav_stop_fn stop, void* opaque);

// The parameters of tav_compress at `level` (0: the default): one thread.
Params level_params(int level);

}  // namespace tav::lib
