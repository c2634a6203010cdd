#include "codec_calls.h"

#include <climits>
#include <memory>

namespace tav_python {
namespace {

void check(tav_error code) {
  if (code != TAV_OK) throw CodecFailure{code};
}

struct CctxDeleter {
  void operator()(tav_cctx* cctx) const { tav_cctx_free(cctx); }
};

std::unique_ptr<tav_cctx, CctxDeleter> make_cctx(const CompressSettings& settings) {
  std::unique_ptr<tav_cctx, CctxDeleter> cctx(tav_cctx_create());
  if (!cctx) throw CodecFailure{TAV_ERROR_MEMORY};
  // The level first: it sets order and memory, which the explicit values replace.
  check(tav_cctx_set(cctx.get(), TAV_PARAM_LEVEL, settings.level));
  if (settings.order) check(tav_cctx_set(cctx.get(), TAV_PARAM_ORDER, *settings.order));
  if (settings.memory_mb) check(tav_cctx_set(cctx.get(), TAV_PARAM_MEMORY_MB, *settings.memory_mb));
  check(tav_cctx_set(cctx.get(), TAV_PARAM_THREADS, settings.threads));
  return cctx;
}

}  // namespace

size_t compress_into(const void* text, size_t size, const CompressSettings& settings, void* out,
                     size_t capacity, size_t* needed) {
  auto cctx = make_cctx(settings);
  size_t written = 0;
  const tav_error code = tav_compress_cctx(cctx.get(), text, size, out, capacity, &written);
  *needed = 0;
  if (code == TAV_ERROR_DST_TOO_SMALL) {
    *needed = written;
    return 0;
  }
  check(code);
  return written;
}

size_t decompressed_size(const void* data, size_t size) {
  uint64_t text_size = 0;
  check(tav_decompressed_size(data, size, &text_size));
  if (text_size > SIZE_MAX) throw CodecFailure{TAV_ERROR_TOO_LARGE};
  return static_cast<size_t>(text_size);
}

size_t decompress_into(const void* data, size_t size, void* text, size_t capacity) {
  size_t written = 0;
  check(tav_decompress(data, size, text, capacity, &written));
  return written;
}

std::vector<tav_member_info> list_members(const void* data, size_t size) {
  size_t count = 0;
  check(tav_list(data, size, nullptr, 0, &count));
  std::vector<tav_member_info> members(count);
  check(tav_list(data, size, members.data(), members.size(), &count));
  members.resize(count);
  return members;
}

void costs(const void* text, size_t size, int64_t order, int64_t memory_mb, double* bits) {
  // The C call takes int: anything beyond it is out of range anyway.
  if (order < INT_MIN || order > INT_MAX || memory_mb < INT_MIN || memory_mb > INT_MAX)
    throw CodecFailure{TAV_ERROR_PARAMETER};
  check(tav_costs(text, size, static_cast<int>(order), static_cast<int>(memory_mb), bits));
}

}  // namespace tav_python
