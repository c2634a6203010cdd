#include "range_decoder.h"

#include <cassert>

namespace tav {

void RangeDecoder::init(std::span<const uint8_t> stream) {
  next = stream.data();
  end = stream.data() + stream.size();
  code = 0;
  ff_history = 0;
  range = 0xFFFFFFFF;
  bytes_read = 0;
  past_end = 0;
  resets = 0;
  // No 0xFF-run test here: the first test follows the next normalisation.
  for (int i = 0; i < 8; ++i) read_stream_byte();
}

bool RangeDecoder::decode_update(uint32_t cum_low, uint32_t freq, uint32_t total) {
  assert(freq >= 1 && total > 0 && cum_low + freq <= total);
  const uint32_t r = range;
  // The lower bound is raised by one unit and the width is one less than the
  // plain scaled difference; the encoder reproduces exactly these roundings.
  const uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(cum_low) * r / total) + 1;
  const uint32_t high = static_cast<uint32_t>(static_cast<uint64_t>(cum_low + freq) * r / total);
  code -= low;
  range = high - low;
  if (range >= 0x1000000) return true;

  // The thresholds test the range before the shift, so a range of 0x10000
  // needs one byte while 0xFFFF needs two.
  for (;;) {
    uint32_t candidate;
    read_stream_byte();
    if (range >= 0x10000) {
      candidate = range << 8;
    } else {
      read_stream_byte();
      if (range >= 0x100) {
        candidate = range << 16;
      } else {
        read_stream_byte();
        candidate = range << 24;
      }
    }
    if ((ff_history & 0xF0) != 0xF0) {
      range = candidate;
      return true;
    }
    // The four bytes just before `code` were all 0xFF.  If they were all
    // end-of-file fillers, every later test sees fillers too and the reset
    // would repeat forever.
    if (past_end >= 8) return false;
    ++resets;
    range = 0xFF;
  }
}

}  // namespace tav
