// Whole buffers in one call: compression (one thread, or a context's
// parameters), the text size a file announces, and decompression.
#include <cstring>

#include "call.h"
#include "contexts.h"
#include "engine.h"

using namespace tav;
using namespace tav::lib;

namespace {

bool valid_buffer(const void* p, size_t size) { return p != nullptr || size == 0; }

// Compresses src with `p` into dst; the size needed goes to *dst_size either way.
tav_error compress_buffer(const Params& p, const void* src, size_t src_size, void* dst, size_t dst_capacity,
                          size_t* dst_size) {
  if (!valid_buffer(src, src_size) || !valid_buffer(dst, dst_capacity) || dst_size == nullptr)
    return TAV_ERROR_PARAMETER;
  const std::span<const uint8_t> text(static_cast<const uint8_t*>(src), src_size);
  return coded_call([&] {
    SpanBlockSource blocks(text, p.block_bytes);
    size_t written = 0;
    const tav_error e = compress_members(
        compress_plan(p, text.size()), [&] { return blocks.next(); },
        [&](std::span<const uint8_t> member) {
          if (member.size() <= dst_capacity - std::min(written, dst_capacity))
            std::memcpy(static_cast<uint8_t*>(dst) + written, member.data(), member.size());
          written += member.size();
        },
        nullptr, p.stop);
    if (e != TAV_OK) return e;
    *dst_size = written;
    return written > dst_capacity ? TAV_ERROR_DST_TOO_SMALL : TAV_OK;
  });
}

// Decompresses the whole file src with `p` into dst.
tav_error decompress_buffer(const Params& p, const void* src, size_t src_size, void* dst, size_t dst_capacity,
                            size_t* dst_size) {
  if (!valid_buffer(src, src_size) || !valid_buffer(dst, dst_capacity) || dst_size == nullptr)
    return TAV_ERROR_PARAMETER;
  const std::span<const uint8_t> file(static_cast<const uint8_t*>(src), src_size);
  return coded_call([&] {
    FilePlan plan;
    if (const tav_error e = plan_compressed(file, plan, p.plain); e != TAV_OK) return e;
    if (plan.text_bytes > SIZE_MAX) return TAV_ERROR_TOO_LARGE;
    if (plan.text_bytes > dst_capacity) {
      *dst_size = static_cast<size_t>(plan.text_bytes);
      return TAV_ERROR_DST_TOO_SMALL;
    }
    size_t written = 0;
    const tav_error e = decode_members_to(p, file, plan, [&](std::span<const uint8_t> text) {
      // The plan's sizes bound what the members give; never write past them.
      const size_t n = std::min(text.size(), dst_capacity - written);
      if (n > 0) std::memcpy(static_cast<uint8_t*>(dst) + written, text.data(), n);
      written += n;
    });
    if (e == TAV_OK) *dst_size = written;
    return e;
  });
}

}  // namespace

extern "C" {

tav_error tav_compress(const void* src, size_t src_size, void* dst, size_t dst_capacity, size_t* dst_size,
                       int level) {
  if (level < 0 || level > TAV_MAX_LEVEL) return TAV_ERROR_PARAMETER;
  return compress_buffer(level_params(level), src, src_size, dst, dst_capacity, dst_size);
}

tav_error tav_compress_cctx(tav_cctx* cctx, const void* src, size_t src_size, void* dst, size_t dst_capacity,
                            size_t* dst_size) {
  if (cctx == nullptr) return TAV_ERROR_PARAMETER;
  if (cctx->stream.open()) return TAV_ERROR_STAGE;
  return compress_buffer(cctx->params, src, src_size, dst, dst_capacity, dst_size);
}

tav_error tav_decompressed_size(const void* src, size_t src_size, uint64_t* text_size) {
  if (!valid_buffer(src, src_size) || text_size == nullptr) return TAV_ERROR_PARAMETER;
  return guarded([&] {
    FilePlan plan;
    const tav_error e = plan_compressed({static_cast<const uint8_t*>(src), src_size}, plan);
    if (e == TAV_OK) *text_size = plan.text_bytes;
    return e;
  });
}

tav_error tav_decompress(const void* src, size_t src_size, void* dst, size_t dst_capacity, size_t* dst_size) {
  return decompress_buffer(Params(), src, src_size, dst, dst_capacity, dst_size);  // one thread, as tav_compress
}

tav_error tav_decompress_dctx(tav_dctx* dctx, const void* src, size_t src_size, void* dst, size_t dst_capacity,
                              size_t* dst_size) {
  if (dctx == nullptr) return TAV_ERROR_PARAMETER;
  if (dctx->stream.open()) return TAV_ERROR_STAGE;
  return decompress_buffer(dctx->params, src, src_size, dst, dst_capacity, dst_size);
}

}  // extern "C"
