// RangeDecoder: turns the byte stream that follows the container header into
// symbol choices on an integer frequency scale.
//
// State (all unsigned 32-bit, arithmetic modulo 2^32):
//   code       the last four stream bytes read, big-endian (newest byte in the
//              low 8 bits), minus the lower bounds of every interval decoded so
//              far.  A valid stream keeps code < range before every target.
//   range      width of the current interval; 0xFFFFFFFF after init, and in
//              [0x1000000, 0xFFFFFFFF] between steps on a valid stream.
//   ff_history one bit per byte read, newest in bit 0, set when the byte was
//              0xFF.  Bits 4-7 describe the four bytes that left `code` last.
//
// The arithmetic below is part of the file format and must match the encoder
// to the bit:
//   target      = (uint64)code * FREQ_TOTAL / range, truncated to 32 bits.
//   update(a,b,T), r = range:
//     low   = (uint64)a * r / T + 1          code  -= low
//     high  = (uint64)(a + b) * r / T        range  = high - low
//   So the symbol owns the codes floor(a*r/T)+1 .. floor((a+b)*r/T)-1 of the
//   old interval.  If range < 0x1000000 afterwards, bytes are shifted in: one
//   when range >= 0x10000 (candidate range<<8), two when range >= 0x100
//   (range<<16), else three (range<<24).  Then, if the 5th to 8th most recent
//   bytes read were all 0xFF (ff_history & 0xF0 == 0xF0), the candidate is
//   dropped, range becomes 0xFF, three more bytes are read (candidate
//   0xFF000000) and the test is made again; otherwise range = candidate.
//
// A byte read past the end of the stream is 0xFF, both in `code` and in
// `ff_history`; valid streams end early and rely on that.  The stream is a
// span of memory: the decoder reads it in place and never writes it.
#pragma once

#include <cstdint>
#include <span>

namespace tav {

inline constexpr uint32_t FREQ_TOTAL = 10000000;

struct RangeDecoder {
  uint32_t code = 0, range = 0, ff_history = 0;
  const uint8_t* next = nullptr;  // next stream byte to read
  const uint8_t* end = nullptr;   // end of the stream
  uint64_t bytes_read = 0;  // real bytes taken from the stream (not counting end-of-stream 0xFF fillers)
  uint64_t past_end = 0;    // bytes supplied as 0xFF after the end of the stream
  uint64_t resets = 0;      // 0xFF-run resets made so far (each repetition counts)

  // Primes the decoder with `stream`, the bytes after the container header:
  // reads exactly 8 bytes.  The first four never reach `code`; they only leave
  // their 0xFF flags in ff_history.  The bytes must outlive the decoder.
  void init(std::span<const uint8_t> stream);

  // floor(code * FREQ_TOTAL / range) with a 64-bit product, truncated to 32
  // bits.  Caller guarantees !damaged(); the result then lies in 0..FREQ_TOTAL-1.
  uint32_t target() const {
    return static_cast<uint32_t>(static_cast<uint64_t>(code) * FREQ_TOTAL / range);
  }

  // True in a state that a valid stream never reaches before a target: check
  // it before every target() to detect a corrupt or truncated stream.
  bool damaged() const { return range == 0 || code >= range; }

  // Narrows to the symbol [cum_low, cum_low+freq) of `total` (freq >= 1,
  // cum_low + freq <= total) and reads 0 to 3 bytes, plus 3 per 0xFF-run
  // reset.  Returns false only when the reset would repeat without end
  // because the bytes it tests are all end-of-file fillers (8 or more bytes
  // past the end); the state is then unusable.
  bool decode_update(uint32_t cum_low, uint32_t freq, uint32_t total);

 private:
  void read_stream_byte() {
    uint32_t c = 0xFF;
    if (next != end) {
      c = *next++;
      ++bytes_read;
    } else {
      ++past_end;
    }
    code = (code << 8) | c;
    ff_history = (ff_history << 1) + (c == 0xFF ? 1u : 0u);
  }
};

}  // namespace tav
