#include "decompress_stream.h"

#include <algorithm>
#include <cstring>

#include "call.h"
#include "contexts.h"
#include "engine.h"

namespace tav::lib {

void DecompressStream::reset() { *this = DecompressStream(); }

void DecompressStream::drain(tav_out_buffer& out) {
  const size_t n = std::min(text_.size() - text_written_, out.size - out.pos);
  if (n == 0) return;
  std::memcpy(static_cast<uint8_t*>(out.dst) + out.pos, text_.data() + text_written_, n);
  out.pos += n;
  text_written_ += n;
}

tav_error DecompressStream::decode(const Params& p) {
  FilePlan plan;
  if (const tav_error e = plan_compressed(input_, plan, p.plain); e != TAV_OK) return e;
  if (plan.text_bytes > SIZE_MAX) return TAV_ERROR_TOO_LARGE;
  text_.reserve(static_cast<size_t>(plan.text_bytes));
  const tav_error e = decode_members_to(p, input_, plan, [&](std::span<const uint8_t> text) {
    text_.insert(text_.end(), text.begin(), text.end());
  });
  input_ = {};
  return e;
}

tav_error DecompressStream::step(const Params& p, tav_out_buffer& out, tav_in_buffer& in, tav_end_directive end,
                                 size_t* remaining) {
  if (state_ == State::failed) return TAV_ERROR_STAGE;
  const tav_error e = coded_call([&] {
    if (state_ == State::writing) {
      if (end != TAV_END || in.pos < in.size) return TAV_ERROR_STAGE;  // input after the end
    } else {
      state_ = State::reading;
      const uint8_t* src = static_cast<const uint8_t*>(in.src);
      input_.insert(input_.end(), src + in.pos, src + in.size);
      in.pos = in.size;
      if (end != TAV_END) return TAV_OK;
      if (const tav_error d = decode(p); d != TAV_OK) return d;
      state_ = State::writing;
    }
    drain(out);
    return TAV_OK;
  });
  if (e != TAV_OK) {
    reset();
    state_ = State::failed;
    return e;
  }
  const size_t left = state_ == State::reading ? 1 : text_.size() - text_written_;
  if (remaining != nullptr) *remaining = left;
  if (state_ == State::writing && left == 0) reset();
  return TAV_OK;
}

}  // namespace tav::lib

extern "C" {

tav_error tav_decompress_stream(tav_dctx* dctx, tav_out_buffer* out, tav_in_buffer* in, tav_end_directive end,
                                size_t* remaining) {
  if (dctx == nullptr || out == nullptr || in == nullptr || out->pos > out->size || in->pos > in->size ||
      (out->dst == nullptr && out->size > 0) || (in->src == nullptr && in->size > 0) ||
      (tav::lib::raw_value(end) != TAV_CONTINUE && tav::lib::raw_value(end) != TAV_END))
    return TAV_ERROR_PARAMETER;
  return dctx->stream.step(dctx->params, *out, *in, end, remaining);
}

void tav_dctx_reset(tav_dctx* dctx) {
  if (dctx != nullptr) dctx->stream.reset();
}

}  // extern "C"
