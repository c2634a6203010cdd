#include "progress.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <string>

namespace tav {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

Progress::Progress(const Options& opt, uint64_t total)
    : label_(opt.input_label()), total_(total), tty_(::isatty(STDERR_FILENO) != 0) {
  enabled_ = opt.verbosity == Verbosity::verbose || (opt.verbosity == Verbosity::normal && tty_);
}

void Progress::start(uint32_t order, uint64_t base) {
  order_ = order;
  base_ = base;
  t0_ = std::chrono::steady_clock::now();
  next_ = 1.0;
}

void Progress::show(uint64_t position, long compressed, uint32_t order) {
  if (!enabled_ || position == 0) return;
  const double secs = seconds_since(t0_);
  if (secs < next_) return;
  next_ = secs + (tty_ ? 0.25 : 1.0);
  order_ = order;
  char where[32];
  if (total_ != 0)
    std::snprintf(where, sizeof where, "%5.1f%%", 100.0 * position / total_);
  else
    std::snprintf(where, sizeof where, "%" PRIu64 " MB", position >> 20);
  std::fprintf(stderr, "%stav_e: %s: %s, %.2f MB/s, %.3f bits/byte (order %u)%s",
               tty_ ? "\r" : "", label_.c_str(), where, (position - base_) / secs / 1e6,
               compressed > 0 ? 8.0 * compressed / position : 0.0, order_, tty_ ? "\x1b[K" : "\n");
  shown_ = true;
}

void Progress::clear() {
  if (shown_ && tty_) std::fprintf(stderr, "\r\x1b[K");
  shown_ = false;
}

void print_report(const Options& opt, const RunReport& r) {
  const double bpb = r.text_bytes == 0 ? 0.0 : 8.0 * r.out_bytes / r.text_bytes;
  std::fprintf(stderr,
               "tav_e: %s -> %s: %" PRIu64 " -> %" PRIu64 " bytes%s, %.3f bits/byte, %.3fs (%.2f MB/s)\n",
               opt.input_label().c_str(), opt.output_label().c_str(), r.text_bytes, r.out_bytes,
               r.members > 1 ? (" in " + std::to_string(r.members) + " members").c_str() : "", bpb,
               r.seconds, r.seconds > 0 ? r.text_bytes / r.seconds / 1e6 : 0.0);
  std::fprintf(stderr, "tav_e: order %u%s, %uM budget, %" PRIu64 "k of node memory used%s\n", r.order,
               r.order == opt.order ? "" : " (the requested order cannot code this input)",
               opt.memory_mb, uint64_t{r.pages_used} * 4096 / 1024, opt.verify ? ", verified" : "");
}

}  // namespace tav
