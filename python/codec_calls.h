// The library's calls as C++ functions that return their results and throw
// CodecFailure with the library's error code.  Nothing here touches Python,
// so the module runs these with the GIL released.
#pragma once

#include "tav.h"

#include <atomic>
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
  int64_t long_window = 0;            // the long-range stage's window in bytes; 0: off
};

// A request to stop a call, read by the library's interrupt check (on its
// coding threads, maybe several at once) through poll().
class StopFlag {
 public:
  void clear() { requested_.store(false, std::memory_order_relaxed); }
  void request() { requested_.store(true, std::memory_order_relaxed); }
  static int poll(void* flag) { return static_cast<StopFlag*>(flag)->requested_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> requested_{false};
};

// The most bytes a compression with `settings` writes for `size` bytes of
// text (tav_compress_bound, per member when blocks are smaller than its
// 32 MiB).  Throws TAV_ERROR_TOO_LARGE when no size_t holds it.
size_t compress_bound(size_t size, std::optional<int64_t> block_size);

// Compresses into out[0..capacity) and returns the bytes written: the same
// bytes as tav_e with the same level, order, memory, block size and window.
// `stop` ends the call early (TAV_ERROR_INTERRUPTED).
size_t compress_into(const void* text, size_t size, const CompressSettings& settings, void* out,
                     size_t capacity, StopFlag& stop);

// The text size the headers and trailers of a whole compressed file give,
// from the library's plan of the file; `plain` also takes a plain stream,
// whose header gives it.  0 means the file is already decoded and checked:
// its text is empty.
size_t decompressed_size(const void* data, size_t size, bool plain);

// Decodes a whole compressed file into text[0..capacity), every member
// checked (`plain`: a plain stream too); returns the bytes written.
size_t decompress_into(const void* data, size_t size, void* text, size_t capacity, bool plain, StopFlag& stop);

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
  // After a failure or a stop the stream is closed for good (failed()).
  void push(const void* text, size_t size, bool end, std::string& out);

  // Whether pushing `size` more bytes (and `end`) may code: only a call that
  // fills a block, or ends the stream, does; others copy the bytes.
  bool may_code(size_t size, bool end) const { return end || size >= block_bytes_ - block_filled_; }
  bool failed() const { return failed_; }
  // Closes the stream for good: a push stopped by an interrupt after the
  // library had written its bytes still loses them.
  void abandon() {
    tav_cctx_reset(cctx_.get());
    failed_ = true;
  }
  StopFlag& stop() { return stop_; }

 private:
  std::unique_ptr<tav_cctx, CctxDeleter> cctx_;
  std::vector<uint8_t> piece_;  // what one library call may write
  StopFlag stop_;               // the context's interrupt check reads it
  uint64_t block_bytes_;
  uint64_t block_filled_ = 0;   // text bytes taken into the current block
  bool failed_ = false;
};

}  // namespace tav_python
