// tav_e's progress line and closing report, both on standard error.
//
// Progress: on a terminal one line that rewrites itself every 0.25 s, with -v
// elsewhere one line per second; nothing during the first second of an
// attempt, so short runs stay silent.  clear() must run before any other
// message while a rewriting line may be on screen.
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
  // `total`: the input's size, 0 when unknown (a pipe: no percentage).
  Progress(const Options& opt, uint64_t total);

  // Starts the clock of one attempt at `order` on the member whose text
  // starts at `base` (the speed counts from there).
  void start(uint32_t order, uint64_t base = 0);
  // `position` in the whole text; `compressed`: bytes written so far (0 or
  // less when unknown); `order`: the order being tried.  Not thread-safe:
  // the caller calls it from one thread at a time.
  void show(uint64_t position, long compressed, uint32_t order);
  void clear();

 private:
  std::string label_;
  uint64_t total_;
  bool tty_;
  bool enabled_ = false;
  bool shown_ = false;
  uint32_t order_ = 0;
  uint64_t base_ = 0;
  std::chrono::steady_clock::time_point t0_;
  double next_ = 1.0;
};

// What the closing report says about a finished run.
struct RunReport {
  uint64_t text_bytes = 0;
  uint64_t out_bytes = 0;
  uint32_t order = 0;  // the order used, maybe a fallback
  uint32_t pages_used = 0;
  double seconds = 0;
  size_t members = 1;
};

// The two report lines: sizes, bits per byte and speed; settings and memory.
void print_report(const Options& opt, const RunReport& r);

}  // namespace tav
