// The library's calls as C++ functions that return their results and throw
// CodecFailure with the library's error code.  Nothing here touches Python,
// so the module runs these with the GIL released.
#pragma once

#include "tav.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tav_python {

struct CodecFailure {
  tav_error code;
};

struct CompressSettings {
  int64_t level = TAV_DEFAULT_LEVEL;
  std::optional<int64_t> order;       // replaces the level's
  std::optional<int64_t> memory_mb;   // replaces the level's
  int64_t threads = 0;                // 0: one per core
  std::optional<int64_t> block_size;  // text bytes per member; the library's default when unset
};

// The most bytes a compression with `settings` writes for `size` bytes of
// text (tav_compress_bound, per member when blocks are smaller than its
// 64 MiB).  Throws TAV_ERROR_TOO_LARGE when no size_t holds it.
size_t compress_bound(size_t size, std::optional<int64_t> block_size);

// Compresses into out[0..capacity) and returns the bytes written: the same
// bytes as tav_e with the same level, order, memory and block size.
size_t compress_into(const void* text, size_t size, const CompressSettings& settings, void* out,
                     size_t capacity);

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

struct CctxDeleter {
  void operator()(tav_cctx* cctx) const { tav_cctx_free(cctx); }
};

// A compression stream over tav_compress_stream: input in pieces, members
// out as their blocks fill.  The library holds at most `threads` blocks and
// their members; what a call writes is handed back by that call.
class CompressionStream {
 public:
  explicit CompressionStream(const CompressSettings& settings);
  // Appends to `out` every byte the library writes while it takes all of
  // text[0..size); with `end`, also the rest of the stream, which closes it.
  void push(const void* text, size_t size, bool end, std::string& out);

 private:
  std::unique_ptr<tav_cctx, CctxDeleter> cctx_;
  std::vector<uint8_t> piece_;  // what one library call may write
};

}  // namespace tav_python
