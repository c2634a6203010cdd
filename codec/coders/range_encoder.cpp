#include "range_encoder.h"

#include <cassert>

namespace tav {

namespace {
constexpr uint64_t kCarry = uint64_t{1} << 32;
}

RangeEncoder::RangeEncoder(tav::ByteSink& out) : out_(out), pending_(4, 0x00) {}

RangeEncoder::Result RangeEncoder::encode(uint32_t cum_low, uint32_t freq, uint32_t total,
                                          bool last) {
  assert(!finished_);
  assert(freq >= 1 && total > 0 && cum_low + freq <= total);
  if (status_ != Result::ok) return status_;
  // A previous last symbol emptied the range: nothing can follow it.
  if (range_ == 0) return status_ = Result::range_exhausted;

  const uint32_t r = range_;
  const uint64_t scaled_high = static_cast<uint64_t>(cum_low + freq) * r;
  const uint32_t lo = static_cast<uint32_t>(static_cast<uint64_t>(cum_low) * r / total) + 1;
  const uint32_t hi = static_cast<uint32_t>(scaled_high / total);
  // With r > total the width is never negative; a larger total than the range
  // could make it so, and the decoder would then wrap its range.
  if (hi < lo) return status_ = Result::range_exhausted;
  // An empty interval leaves only the code lo, which the decoder's target puts
  // in this symbol only while lo*T < (a+b)*r.  That holds whenever r > T (the
  // scaled width then exceeds 1), but the check costs nothing.
  if (hi == lo && scaled_high % total == 0) return status_ = Result::range_exhausted;

  low_ += lo;
  if (low_ >= kCarry) propagate_carry();
  range_ = hi - lo;
  if (range_ < 0x1000000) normalize();
  if (status_ != Result::ok) return status_;
  // A range of 0 (not rescued by a reset) means the decoder cannot compute
  // another target; harmless only after the final symbol.
  if (range_ == 0 && !last) return status_ = Result::range_exhausted;
  write_final_bytes();
  return status_;
}

void RangeEncoder::shift_byte() {
  assert(low_ < kCarry);
  pending_.push_back(static_cast<uint8_t>(low_ >> 24));
  low_ = (low_ << 8) & (kCarry - 1);
}

void RangeEncoder::normalize() {
  // Same thresholds as the decoder: they test the range before the shift.
  for (int round = 0;; ++round) {
    // After a reset the window's top bytes can be 0xFF at most once more, so
    // the test succeeds at most twice in a row.
    assert(round <= 2);
    uint32_t candidate;
    shift_byte();
    if (range_ >= 0x10000) {
      candidate = range_ << 8;
    } else {
      shift_byte();
      if (range_ >= 0x100) {
        candidate = range_ << 16;
      } else {
        shift_byte();
        candidate = range_ << 24;
      }
    }
    const size_t n = pending_.size();
    const uint8_t* t = &pending_[n - 4];  // the decoder's 5th..8th most recent bytes
    if (!(t[0] == 0xFF && t[1] == 0xFF && t[2] == 0xFF && t[3] == 0xFF)) {
      if (t[0] == 0xFF && t[1] == 0xFF && t[2] == 0xFF && t[3] == 0xFE) watch_pos_ = written_ + n - 1;
      range_ = candidate;
      return;
    }
    ++resets_;
    carry_floor_ = written_ + n;
    range_ = 0xFF;
  }
}

void RangeEncoder::propagate_carry() {
  low_ -= kCarry;
  ++carries_;
  size_t i = pending_.size();
  while (i > 0 && pending_[i - 1] == 0xFF) pending_[--i] = 0x00;
  // The intervals are nested inside the first one, [0, 0xFFFFFFFF), so no
  // carry can run past the bytes still pending.
  assert(i > 0);
  --i;
  const uint64_t pos = written_ + i;
  assert(pos >= carry_floor_);
  if (pos == watch_pos_) status_ = Result::carry_conflict;
  ++pending_[i];
}

void RangeEncoder::write_final_bytes() {
  // No value of the current interval reaches 2^32: nothing pending can change.
  // Otherwise a carry stops at the last byte that is not 0xFF, so the bytes
  // before it are final.  The last four stay for the next 0xFF-run test.
  size_t final_end;
  if (low_ + range_ <= kCarry) {
    final_end = pending_.size();
  } else {
    final_end = pending_.size();
    while (final_end > 0 && pending_[final_end - 1] == 0xFF) --final_end;
    if (final_end > 0) --final_end;
  }
  if (final_end + 4 > pending_.size()) final_end = pending_.size() - 4;
  if (final_end == 0) return;
  if (!write_bytes(pending_.data(), final_end)) return;
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(final_end));
}

bool RangeEncoder::write_bytes(const uint8_t* p, size_t n) {
  if (!out_.write({p, n})) {
    status_ = Result::io_error;
    return false;
  }
  written_ += n;
  return true;
}

RangeEncoder::Result RangeEncoder::finish() {
  assert(!finished_);
  finished_ = true;
  if (status_ != Result::ok) return status_;
  // Any value in [low_, low_ + span) is read back as the same symbols.  After
  // a last symbol that emptied the range, the decoder has already made its
  // final choice from the bytes before the three it then shifted in, so those
  // three are free.
  const uint64_t span = range_ != 0 ? range_ : 0x1000000;
  assert(range_ != 0 || (low_ & 0xFFFFFF) == 0);
  uint64_t value = low_;
  for (int k = 4; k > 0; --k) {
    const uint64_t candidate = low_ | ((uint64_t{1} << (8 * k)) - 1);
    if (candidate < low_ + span) {
      value = candidate;
      break;
    }
  }
  assert(value < kCarry);
  uint8_t window[4];
  for (int i = 0; i < 4; ++i) window[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  // Drop the window's trailing 0xFF bytes only: dropping more could let the
  // decoder's last 0xFF-run tests see nothing but end-of-file fillers.
  size_t keep = 4;
  while (keep > 0 && window[keep - 1] == 0xFF) --keep;
  if (!write_bytes(pending_.data(), pending_.size())) return status_;
  pending_.clear();
  if (write_bytes(window, keep)) omitted_ = static_cast<uint32_t>(4 - keep);
  return status_;
}

}  // namespace tav
