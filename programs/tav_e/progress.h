// tav_e's progress line and closing report, both on standard error.
//
// Progress: on a terminal one line that rewrites itself every 0.25 s, with -v
// elsewhere one line per second, never with -q; nothing during the first
// second of a file, so short runs stay silent.  The line gives the share of
// the text done (or the megabytes, from a pipe), the speed, the bits per byte
// so far, the time elapsed and, when the size is known, the time left:
//   tav_e: big.txt: 42.0% 1.31 MB/s 2.012 bits/byte 0:38 elapsed, 0:52 left
// clear() must run before any other message while a rewriting line may be on
// screen.
//
// Report: one or two lines after a file that succeeded, with -v, or when
// standard error is a terminal and the output a file (never for standard
// output: a pipe's reader or `tar -I tav_e` wants silence).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "options.h"

namespace tav {

double seconds_since(std::chrono::steady_clock::time_point t0);

class Progress {
 public:
  // `total`: the text the file will have given at the end, 0 when unknown
  // (a pipe: no percentage, no time left).  Time and speed count from here.
  Progress(const Options& opt, uint64_t total);

  // `position` in the whole text; `compressed`: the compressed bytes that
  // hold it; `order`: the order being tried (named when compression had to
  // leave the one asked for).  Not thread-safe: the caller calls it from one
  // thread at a time.
  void show(uint64_t position, uint64_t compressed, uint32_t order);
  void clear();

 private:
  std::string label_;
  uint64_t total_;
  uint32_t asked_order_;  // compression's order; UINT32_MAX when decoding
  bool tty_;
  bool enabled_ = false;
  bool shown_ = false;
  std::chrono::steady_clock::time_point begin_;
  double next_ = 1.0;
};

// The report is printed for this run (see above).
bool wants_report(const Options& opt);

// What the closing report says about a finished run.
struct RunReport {
  uint64_t text_bytes = 0;
  uint64_t out_bytes = 0;
  uint32_t order = 0;  // the order used, maybe a fallback
  uint32_t pages_used = 0;
  double seconds = 0;
  size_t members = 1;
};

// Compression's two report lines: sizes, bits per byte and speed; settings
// and memory.
void print_report(const Options& opt, const RunReport& r);

// Decompression's line: sizes, members, bits per byte and speed.
void print_decode_report(const Options& opt, const std::string& label, uint64_t compressed_bytes,
                         uint64_t text_bytes, size_t members, double seconds);

}  // namespace tav
