#include "compress_stream.h"

#include <algorithm>
#include <cstring>

#include "call.h"
#include "contexts.h"
#include "engine.h"

namespace tav::lib {

// Frees what the stream holds without allocating anything (a new deque
// would), so that tav_cctx_reset cannot fail.
void CompressStream::reset() {
  state_ = State::idle;
  cutter_.reset();
  run_ = MemberRun();
  std::vector<std::vector<uint8_t>>().swap(batch_);
  members_.clear();
  front_written_ = 0;
  pending_ = 0;
}

void CompressStream::drain(tav_out_buffer& out) {
  while (!members_.empty() && out.pos < out.size) {
    const std::vector<uint8_t>& m = members_.front();
    const size_t n = std::min(m.size() - front_written_, out.size - out.pos);
    std::memcpy(static_cast<uint8_t*>(out.dst) + out.pos, m.data() + front_written_, n);
    out.pos += n;
    front_written_ += n;
    pending_ -= n;
    if (front_written_ == m.size()) {
      members_.pop_front();
      front_written_ = 0;
    }
  }
}

void CompressStream::queue(std::span<const uint8_t> member) {
  members_.emplace_back(member.begin(), member.end());
  pending_ += member.size();
}

tav_error CompressStream::code_batch() {
  size_t next = 0;
  const tav_error e = compress_members(
      plan_,
      [&] {
        if (next == batch_.size()) return BlockRead{};
        return BlockRead{BlockStatus::block, std::move(batch_[next++]), 0};
      },
      [&](std::span<const uint8_t> m) { queue(m); }, &run_, stop_);
  batch_.clear();
  return e;
}

// Fills blocks from `in`; a full batch is coded as soon as the members
// before it are written, and no input is taken while it waits.
void CompressStream::take_input(tav_out_buffer& out, tav_in_buffer& in, tav_error& e) {
  const unsigned threads = plan_.threads.threads;
  for (;;) {
    if (batch_.size() >= threads && pending_ == 0) {
      if ((e = code_batch()) != TAV_OK) return;
      drain(out);
    }
    if (in.pos == in.size || batch_.size() >= threads) return;
    in.pos += cutter_->take({static_cast<const uint8_t*>(in.src) + in.pos, in.size - in.pos});
    if (cutter_->full()) batch_.push_back(cutter_->take_block());
  }
}

tav_error CompressStream::run(tav_out_buffer& out, tav_in_buffer& in, tav_end_directive end, bool& incomplete) {
  drain(out);
  if (state_ == State::ending) return TAV_OK;
  tav_error e = TAV_OK;
  take_input(out, in, e);
  if (e != TAV_OK || end == TAV_CONTINUE) return e;
  if (in.pos < in.size) {  // a batch waits for room in `out` before the rest of the input
    incomplete = true;
    return TAV_OK;
  }
  if (auto last = end == TAV_END ? cutter_->finish() : cutter_->cut()) batch_.push_back(std::move(*last));
  if (!batch_.empty() && (e = code_batch()) != TAV_OK) return e;
  // The member the run holds back goes out too: marked the last at the end,
  // as it is at a flush (the run then ends with an empty member).
  const auto to_queue = [&](std::span<const uint8_t> m) { queue(m); };
  if (end == TAV_END) {
    if ((e = end_run(plan_, run_, to_queue)) != TAV_OK) return e;
  } else {
    run_.flush([&](size_t, const CodedMember& m) { return queue(m.bytes), true; });
  }
  if (end == TAV_END) state_ = State::ending;
  drain(out);
  return TAV_OK;
}

tav_error CompressStream::step(const Params& p, tav_out_buffer& out, tav_in_buffer& in, tav_end_directive end,
                               size_t* remaining) {
  if (state_ == State::failed) return TAV_ERROR_STAGE;
  if (state_ == State::ending && (end != TAV_END || in.pos < in.size)) {
    reset();
    state_ = State::failed;
    return TAV_ERROR_STAGE;
  }
  bool incomplete = false;
  const tav_error e = coded_call([&] {
    if (state_ == State::idle) {
      plan_ = compress_plan(p, std::nullopt);
      stop_ = p.stop;
      cutter_.emplace(p.block_bytes);
      state_ = State::open;
    }
    return run(out, in, end, incomplete);
  });
  if (e != TAV_OK) {
    reset();
    state_ = State::failed;
    return e;
  }
  if (remaining != nullptr) *remaining = static_cast<size_t>(pending_) + (incomplete ? 1 : 0);
  if (state_ == State::ending && pending_ == 0) reset();
  return TAV_OK;
}

}  // namespace tav::lib

namespace {

bool valid(const tav_out_buffer* out, const tav_in_buffer* in) {
  return out != nullptr && in != nullptr && out->pos <= out->size && in->pos <= in->size &&
         (out->dst != nullptr || out->size == 0) && (in->src != nullptr || in->size == 0);
}

}  // namespace

extern "C" {

tav_error tav_compress_stream(tav_cctx* cctx, tav_out_buffer* out, tav_in_buffer* in, tav_end_directive end,
                              size_t* remaining) {
  const int e = tav::lib::raw_value(end);
  if (cctx == nullptr || !valid(out, in) || e < TAV_CONTINUE || e > TAV_END) return TAV_ERROR_PARAMETER;
  return cctx->stream.step(cctx->params, *out, *in, end, remaining);
}

void tav_cctx_reset(tav_cctx* cctx) {
  if (cctx != nullptr) cctx->stream.reset();
}

}  // extern "C"
