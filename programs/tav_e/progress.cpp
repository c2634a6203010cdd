#include "progress.h"

#include "size_text.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <string>

namespace tav {

namespace {

// "0:38", "12:05", "1:02:07".
std::string clock_text(double seconds) {
  const uint64_t s = seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", s / 3600, unsigned(s / 60 % 60), unsigned(s % 60));
  else
    std::snprintf(text, sizeof text, "%u:%02u", unsigned(s / 60), unsigned(s % 60));
  return text;
}

double bits_per_byte(uint64_t compressed, uint64_t text) {
  return text == 0 ? 0.0 : 8.0 * static_cast<double>(compressed) / static_cast<double>(text);
}

double mb_per_second(uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
}

}  // namespace

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

Progress::Progress(const Options& opt, uint64_t total)
    : label_(opt.input_label()),
      total_(total),
      asked_order_(opt.mode == Mode::compress ? opt.order : UINT32_MAX),
      tty_(::isatty(STDERR_FILENO) != 0),
      begin_(std::chrono::steady_clock::now()) {
  enabled_ = opt.verbosity == Verbosity::verbose || (opt.verbosity == Verbosity::normal && tty_);
}

void Progress::show(uint64_t position, uint64_t compressed, uint32_t order) {
  if (!enabled_ || position == 0) return;
  const double elapsed = seconds_since(begin_);
  if (elapsed < next_) return;
  next_ = elapsed + (tty_ ? 0.25 : 1.0);
  const double speed = mb_per_second(position, elapsed);
  char where[32];
  if (total_ != 0)
    std::snprintf(where, sizeof where, "%s%%",
                  decimal_text(100.0 * static_cast<double>(position) / static_cast<double>(total_), 1).c_str());
  else
    std::snprintf(where, sizeof where, "%" PRIu64 " MB", position >> 20);
  std::string left;
  if (total_ > position && speed > 0)
    left = ", " + clock_text(static_cast<double>(total_ - position) / (speed * 1e6)) + " left";
  std::string note;
  if (asked_order_ != UINT32_MAX && order != asked_order_) note = " (order " + std::to_string(order) + ")";
  std::fprintf(stderr, "%stav_e: %s: %s %s MB/s %s bits/byte %s elapsed%s%s%s", tty_ ? "\r" : "",
               label_.c_str(), where, decimal_text(speed, 2).c_str(),
               decimal_text(bits_per_byte(compressed, position), 3).c_str(), clock_text(elapsed).c_str(),
               left.c_str(), note.c_str(), tty_ ? "\x1b[K" : "\n");
  shown_ = true;
}

void Progress::clear() {
  if (shown_ && tty_) std::fprintf(stderr, "\r\x1b[K");
  shown_ = false;
}

bool wants_report(const Options& opt) {
  if (opt.verbosity != Verbosity::normal) return opt.verbosity == Verbosity::verbose;
  return !opt.to_stdout() && ::isatty(STDERR_FILENO) != 0;
}

void print_report(const Options& opt, const RunReport& r) {
  std::fprintf(stderr,
               "tav_e: %s -> %s: %" PRIu64 " -> %" PRIu64 " bytes%s, %s bits/byte, %ss (%s MB/s)\n",
               opt.input_label().c_str(), opt.output_label().c_str(), r.text_bytes, r.out_bytes,
               r.members > 1 ? (" in " + std::to_string(r.members) + " members").c_str() : "",
               decimal_text(bits_per_byte(r.out_bytes, r.text_bytes), 3).c_str(), decimal_text(r.seconds, 3).c_str(),
               decimal_text(mb_per_second(r.text_bytes, r.seconds), 2).c_str());
  std::fprintf(stderr, "tav_e: order %u%s, %uM budget, %" PRIu64 "k of node memory used%s\n", r.order,
               r.order == opt.order ? "" : " (the requested order cannot code this input)",
               opt.memory_mb, uint64_t{r.pages_used} * 4096 / 1024, opt.verify ? ", verified" : "");
}

void print_decode_report(const Options& opt, const std::string& label, uint64_t compressed_bytes,
                         uint64_t text_bytes, size_t members, double seconds) {
  std::fprintf(stderr,
               "tav_e: %s -> %s: %" PRIu64 " -> %" PRIu64 " bytes, %zu member%s, %s bits/byte, %ss (%s MB/s)\n",
               label.c_str(), opt.output_label().c_str(), compressed_bytes, text_bytes, members,
               members == 1 ? "" : "s", decimal_text(bits_per_byte(compressed_bytes, text_bytes), 3).c_str(),
               decimal_text(seconds, 3).c_str(), decimal_text(mb_per_second(text_bytes, seconds), 2).c_str());
}

}  // namespace tav
