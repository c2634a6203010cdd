#include "codec_calls.h"

#include <climits>

namespace tav_python {
namespace {

void check(tav_error code) {
  if (code != TAV_OK) throw CodecFailure{code};
}

std::unique_ptr<tav_cctx, CctxDeleter> make_cctx(const CompressSettings& settings) {
  std::unique_ptr<tav_cctx, CctxDeleter> cctx(tav_cctx_create());
  if (!cctx) throw CodecFailure{TAV_ERROR_MEMORY};
  // The level first: it sets order and memory, which the explicit values replace.
  check(tav_cctx_set(cctx.get(), TAV_PARAM_LEVEL, settings.level));
  if (settings.order) check(tav_cctx_set(cctx.get(), TAV_PARAM_ORDER, *settings.order));
  if (settings.memory_mb) check(tav_cctx_set(cctx.get(), TAV_PARAM_MEMORY_MB, *settings.memory_mb));
  if (settings.block_size) check(tav_cctx_set(cctx.get(), TAV_PARAM_BLOCK_SIZE, *settings.block_size));
  check(tav_cctx_set(cctx.get(), TAV_PARAM_THREADS, settings.threads));
  check(tav_cctx_set(cctx.get(), TAV_PARAM_LONG_WINDOW, settings.long_window));
  return cctx;
}

struct DctxDeleter {
  void operator()(tav_dctx* dctx) const { tav_dctx_free(dctx); }
};

std::unique_ptr<tav_dctx, DctxDeleter> make_dctx(bool plain) {
  std::unique_ptr<tav_dctx, DctxDeleter> dctx(tav_dctx_create());
  if (!dctx) throw CodecFailure{TAV_ERROR_MEMORY};
  check(tav_dctx_set(dctx.get(), TAV_PARAM_PLAIN, plain ? 1 : 0));
  return dctx;
}

// The library's block size when a context leaves it alone.
int64_t default_block_size() {
  std::unique_ptr<tav_cctx, CctxDeleter> cctx(tav_cctx_create());
  if (!cctx) throw CodecFailure{TAV_ERROR_MEMORY};
  int64_t block = 0;
  check(tav_cctx_get(cctx.get(), TAV_PARAM_BLOCK_SIZE, &block));
  return block;
}

}  // namespace

size_t compress_bound(size_t size, std::optional<int64_t> block_size) {
  // The library's bound assumes its default blocks or larger ones; smaller
  // blocks make more members, each within the bound of one block.
  if (block_size && *block_size < 1) throw CodecFailure{TAV_ERROR_PARAMETER};
  size_t bound = 0;
  if (!block_size || *block_size >= default_block_size() || static_cast<uint64_t>(*block_size) >= size) {
    bound = tav_compress_bound(size);
  } else {
    const size_t block = static_cast<size_t>(*block_size);
    const size_t members = size / block + (size % block != 0);
    const size_t per_member = tav_compress_bound(block);
    if (per_member != 0 && members <= SIZE_MAX / per_member) bound = members * per_member;
  }
  if (bound == 0) throw CodecFailure{TAV_ERROR_TOO_LARGE};
  return bound;
}

size_t compress_into(const void* text, size_t size, const CompressSettings& settings, void* out,
                     size_t capacity, StopFlag& stop) {
  auto cctx = make_cctx(settings);
  check(tav_cctx_set_stop(cctx.get(), &StopFlag::poll, &stop));
  size_t written = 0;
  check(tav_compress_cctx(cctx.get(), text, size, out, capacity, &written));
  return written;
}

size_t decompressed_size(const void* data, size_t size, bool plain) {
  // tav_decompressed_size refuses plain streams, so the size comes from a
  // decompression with no room: the library plans the file, and says what
  // room it needs before decoding anything.  An empty text needs none, and
  // is then decoded and checked at once.
  auto dctx = make_dctx(plain);
  size_t needed = 0;
  const tav_error e = tav_decompress_dctx(dctx.get(), data, size, nullptr, 0, &needed);
  if (e == TAV_OK) return 0;
  if (e != TAV_ERROR_DST_TOO_SMALL) throw CodecFailure{e};
  return needed;
}

size_t decompress_into(const void* data, size_t size, void* text, size_t capacity, bool plain, StopFlag& stop) {
  auto dctx = make_dctx(plain);
  check(tav_dctx_set_stop(dctx.get(), &StopFlag::poll, &stop));
  size_t written = 0;
  check(tav_decompress_dctx(dctx.get(), data, size, text, capacity, &written));
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

CompressionStream::CompressionStream(const CompressSettings& settings)
    : cctx_(make_cctx(settings)), piece_(size_t{1} << 20) {
  check(tav_cctx_set_stop(cctx_.get(), &StopFlag::poll, &stop_));
  int64_t block = 0;
  check(tav_cctx_get(cctx_.get(), TAV_PARAM_BLOCK_SIZE, &block));
  block_bytes_ = static_cast<uint64_t>(block);
}

void CompressionStream::push(const void* text, size_t size, bool end, std::string& out) {
  if (failed_) throw CodecFailure{TAV_ERROR_STAGE};
  // Whatever ends this call early leaves the library's stream closed.
  failed_ = true;
  block_filled_ = (block_filled_ + size) % block_bytes_;
  tav_in_buffer in{text, size, 0};
  // The library writes members as they are done; a call that fills the
  // piece is called again, so nothing waits in the context after this.
  for (;;) {
    tav_out_buffer piece{piece_.data(), piece_.size(), 0};
    size_t remaining = 0;
    const tav_error e = tav_compress_stream(cctx_.get(), &piece, &in, end ? TAV_END : TAV_CONTINUE, &remaining);
    out.append(reinterpret_cast<const char*>(piece_.data()), piece.pos);
    check(e);
    const bool more = in.pos < in.size || (end ? remaining > 0 : piece.pos == piece.size);
    if (!more) break;
  }
  failed_ = false;
}

}  // namespace tav_python
