// RangeEncoder: writes the byte stream that RangeDecoder reads back.
//
// It mirrors the decoder step for step.  `low_` holds, in bits 0..31, the
// bytes that the decoder's `code` window is made of at the same point of the
// stream (before the decoder subtracts anything), and `range_` is always equal
// to the decoder's `range`.  Each symbol [a, a+b) of total T at range r adds
// floor(a*r/T)+1 to low_ and sets range_ = floor((a+b)*r/T) - floor(a*r/T) - 1,
// then shifts out bytes with the decoder's thresholds.
//
// Carries: a sum that reaches 2^32 is carried at once into the bytes already
// shifted out (the last byte that is not 0xFF is incremented and the 0xFF
// bytes after it become 0x00).  Those bytes stay pending until no carry can
// reach them.
//
// The 0xFF-run rule: after every normalisation the decoder tests whether the
// four bytes just before its window were all 0xFF and, if so, resets its range
// to 0xFF and reads three more bytes.  The encoder makes the same test on its
// pending bytes as they stand.  A later carry cannot undo a test that
// succeeded: after the reset the interval either lies below the carry point,
// or the window's top three bytes are 0xFF, which makes the repeated test
// succeed too and leaves an interval that does.  A failed test can turn into a
// success only if it saw FF FF FF FE and a carry later turns the FE into FF;
// the encoder watches for exactly that and reports carry_conflict, since the
// decoder would then reset where the encoder did not.
//
// The stream begins with four 0x00 bytes: the decoder never uses them except
// for their 0xFF flags, and zeros can never take part in a reset.
#pragma once

#include <cstdint>
#include <vector>

#include "byte_io.h"

namespace tav {

class RangeEncoder {
 public:
  enum class Result { ok, range_exhausted, carry_conflict, io_error };

  // `out` receives the stream; it is not owned.  Bytes are handed to it as
  // soon as no carry can reach them.
  explicit RangeEncoder(tav::ByteSink& out);

  // Encodes the symbol occupying [cum_low, cum_low+freq) of total (freq >= 1,
  // cum_low + freq <= total).  `last` says this is the final symbol of the
  // stream.  Returns:
  //   ok              the symbol is encoded;
  //   range_exhausted the symbol's interval is empty at this range, so the
  //                   decoder could not decode another symbol after it (for a
  //                   last symbol, only if it could not even decode this one);
  //   carry_conflict  a carry changed bytes that an earlier 0xFF-run test saw,
  //                   flipping the decoder's decision;
  //   io_error        `out` refused the bytes.
  // Any result but ok leaves the encoder failed: every later call returns the
  // same result and the bytes written so far are not a valid stream.
  Result encode(uint32_t cum_low, uint32_t freq, uint32_t total, bool last);

  // Writes the rest of the stream.  Call once after the last symbol (also
  // valid with zero symbols).  The stream ends with as few bytes as possible:
  // trailing 0xFF bytes of the final window are left out, since the decoder
  // reads missing bytes as 0xFF, but never more than four, so the decoder
  // reads every byte of the stream and never tests only end-of-file fillers.
  Result finish();

  // The 0xFF bytes finish() left out of the final window (0 to 4).  The
  // decoder reads that many end-of-file fillers; a writer that must put
  // every byte the decoder reads into the file appends them.
  uint32_t omitted_bytes() const { return omitted_; }

  // Stream bytes written so far (the container header is not counted).
  uint64_t bytes_written() const { return written_; }

  // The decoder's range after the same symbols (0 after a last symbol whose
  // interval was empty).
  uint32_t range() const { return range_; }

  // The bottom of the current interval in the frame of the decoder's window:
  // bits 0..31 are the window's bytes (always below 2^32 between calls).
  uint64_t low() const { return low_; }

  // Counts of carries into shifted-out bytes and of 0xFF-run resets
  // (each repetition counts), for tests and reports.
  uint64_t carries() const { return carries_; }
  uint64_t resets() const { return resets_; }

 private:
  void shift_byte();
  void normalize();
  void propagate_carry();
  void write_final_bytes();
  bool write_bytes(const uint8_t* p, size_t n);

  tav::ByteSink& out_;
  uint64_t low_ = 0;             // bits 0..31: the decoder's window; < 2^32 between steps
  uint32_t range_ = 0xFFFFFFFF;
  std::vector<uint8_t> pending_;  // shifted out, not yet written; never fewer than 4
  uint64_t written_ = 0;          // stream position of pending_[0]
  // Stream position of an 0xFE byte that ended FF FF FF FE in a failed
  // 0xFF-run test; a carry into it would flip that test.
  uint64_t watch_pos_ = UINT64_MAX;
  // First stream position a carry may still reach: bytes before it were seen
  // as all 0xFF by a successful test.
  uint64_t carry_floor_ = 0;
  Result status_ = Result::ok;
  bool finished_ = false;
  uint32_t omitted_ = 0;
  uint64_t carries_ = 0;
  uint64_t resets_ = 0;
};

}  // namespace tav
