// The library's calls as C++ functions that return their results and throw
// CodecFailure with the library's error code.  Nothing here touches Python,
// so the module runs these with the GIL released.
#pragma once

#include "tav.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tav_python {

struct CodecFailure {
  tav_error code;
};

struct CompressSettings {
  int64_t level = TAV_DEFAULT_LEVEL;
  std::optional<int64_t> order;      // replaces the level's
  std::optional<int64_t> memory_mb;  // replaces the level's
  int64_t threads = 0;               // 0: one per core
};

// Compresses into out[0..capacity) and returns the bytes written: the same
// bytes as tav_e with the same level, order, memory and block size.  When
// they do not fit, returns 0 and sets *needed to the capacity they need.
size_t compress_into(const void* text, size_t size, const CompressSettings& settings, void* out,
                     size_t capacity, size_t* needed);

// The text size a whole compressed file's headers and trailers give.
size_t decompressed_size(const void* data, size_t size);

// Decodes a whole compressed file into text[0..capacity), every member
// checked; returns the bytes written.
size_t decompress_into(const void* data, size_t size, void* text, size_t capacity);

// The members of a compressed file, from its headers and trailers.
std::vector<tav_member_info> list_members(const void* data, size_t size);

// Code length in bits of every byte of text under the model; `bits` has room
// for `size` values.
void costs(const void* text, size_t size, int64_t order, int64_t memory_mb, double* bits);

}  // namespace tav_python
