// Texts and helpers shared by the library's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tav.h"

namespace tavtest {

using Bytes = std::vector<uint8_t>;

// The first `size` bytes of the bundled sample (all of it when larger).
Bytes sample(size_t size);

// `size` bytes of a fixed pseudo-random sequence.
Bytes noise(size_t size, uint32_t seed = 1);

// Compresses with a context holding `params` (pairs of parameter, value);
// fails the test on an error.
Bytes compress_with(const std::vector<std::pair<tav_param, int64_t>>& params, const Bytes& text);

// Compresses `text` with the stream call on `c`: pieces of `in_step` bytes
// pushed through output buffers of `out_step` bytes, a TAV_FLUSH after every
// `flush_every` bytes (0: never); fails the test on an error.
Bytes compress_stream(tav_cctx* c, const Bytes& text, size_t in_step, size_t out_step, size_t flush_every = 0);

// Decompresses a whole file; fails the test on an error.
Bytes decompress(const Bytes& file);

// Runs tav_e with `args` on `text` and returns the file it writes.
Bytes tav_e(const std::string& args, const Bytes& text);

}  // namespace tavtest
