// tav_e -d, -t and -l: the compressed file is read whole (its members are
// found by walking the trailers back from its end, plan_file), then
//   -d decodes the members side by side and writes their text in order,
//      through the output transaction for a named output (a failed run leaves
//      nothing and never touches an existing file), or to standard output;
//   -t decodes and checks every member and writes nothing;
//   -l prints what the headers and trailers say, decoding nothing.
// Damage is "tav_e: FILE: damaged: REASON at position N" (N: offset in the
// compressed file), exit status 2; -t and -l go on with the next file.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "byte_io.h"
#include "decode_run.h"
#include "fault_text.h"
#include "modes.h"
#include "output.h"
#include "progress.h"
#include "sink.h"
#include "size_text.h"

namespace tav {

namespace {

struct Compressed {
  std::string label;  // the name in messages
  std::vector<uint8_t> bytes;
  DecodePlan plan;
  InputFile file;  // open until the end, to tell it from the output
};

// Reads `name` ("" for standard input) whole.  Returns an exit status, or -1.
int read_compressed(const Options& opt, const std::string& name, Compressed& c) {
  c.label = name.empty() ? "(stdin)" : name;
  Options one = opt;
  one.input = name;
  if (const int status = open_input(one, c.file); status >= 0) return status;
  std::FILE* const f = c.file.stream();
  if (f == nullptr || !read_all_bytes(f, c.bytes)) {
    std::fprintf(stderr, "tav_e: %s: cannot read: %s\n", c.label.c_str(), std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

int damaged(const Compressed& c, const std::string& reason, uint64_t position) {
  std::fprintf(stderr, "tav_e: %s: damaged: %s at position %" PRIu64 "\n", c.label.c_str(), reason.c_str(),
               position);
  return EXIT_BAD_INPUT;
}

// The message and exit status of a run that failed on `c`.
int report_failure(const Options& opt, const Compressed& c, const RunError& e) {
  switch (e.fault) {
    case RunFault::header:
      std::fprintf(stderr, "tav_e: %s: %s\n", c.label.c_str(), header_fault_reason(e.header_fault, e.header).c_str());
      return EXIT_BAD_INPUT;
    case RunFault::write:
      std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(), std::strerror(e.error));
      return EXIT_USAGE_OR_IO;
    case RunFault::out_of_memory:
      std::fprintf(stderr, "tav_e: %s: not enough memory for the model\n", c.label.c_str());
      return EXIT_USAGE_OR_IO;
    case RunFault::not_compressed:
      std::fprintf(stderr, "tav_e: %s: %s\n", c.label.c_str(), NOT_COMPRESSED);
      return EXIT_BAD_INPUT;
    default:
      return damaged(c, damage_reason(e, c.plan.file.checked), e.file_offset);
  }
}

// Trailers that add up, headers this build can decode, and the plan of the
// run.  Returns an exit status, or -1.
int check_plan(const Options& opt, Compressed& c) {
  c.plan.file = plan_file(c.bytes);
  const PlainFiles plain = opt.plain ? PlainFiles::accept_whole : PlainFiles::refuse;
  if (const auto e = check_file(c.plan.file, plain)) return report_failure(opt, c, *e);
  c.plan = plan_decoding(c.bytes, std::move(c.plan.file), run_limits(opt), false);
  return -1;
}

// Decodes every member of `c` into `write`, with the progress line of
// `opt` (whose input is `c`).  Returns an exit status.
int decode(const Options& opt, const Compressed& c,
           const std::function<bool(std::span<const uint8_t>)>& write) {
  report_threads(opt, c.plan.threads);
  Progress progress(opt, c.plan.file.text_bytes);
  DecodeTarget target;
  target.write = write;
  target.progress = [&](uint64_t text_position, uint64_t compressed, uint32_t) {
    progress.show(text_position, compressed, 0);
  };
  const DecodeOutcome o = decode_run(c.bytes, c.plan, target);
  progress.clear();
  return o.failure ? report_failure(opt, c, *o.failure) : EXIT_OK;
}

// ---- list ---------------------------------------------------------------------

std::string ratio(uint64_t compressed, uint64_t text) {
  if (text == 0) return "---";
  return decimal_text(static_cast<double>(compressed) / static_cast<double>(text), 3);
}

void list_members(const Compressed& c) {
  std::printf("  Member       Offset   Compressed         Text  Ratio  Order  Budget MB  Check\n");
  size_t i = 0;
  for (const Member& m : c.plan.file.members) {
    char check[24] = "none";
    if (c.plan.file.checked) std::snprintf(check, sizeof check, "%016" PRIx64, m.trailer.text_hash);
    std::printf("%8zu %12" PRIu64 " %12" PRIu64 " %12" PRIu32 " %6s %6" PRIu32 " %10" PRIu32 "  %s\n", ++i,
                m.offset, m.trailer.member_bytes, m.text_length(),
                ratio(m.trailer.member_bytes, m.text_length()).c_str(), m.header.order(),
                m.header.memory_mb, check);
  }
  // What a decoder must keep besides the members it decodes.
  if (c.plan.long_window != 0)
    std::printf("  Long-range references up to %s back: decoding keeps up to %s of text\n",
                format_size(c.plan.long_window).c_str(),
                format_size(std::min(c.plan.long_window, c.plan.file.text_bytes)).c_str());
}

}  // namespace

int decompress(const Options& opt) {
  if (const int status = check_stdout(opt, nullptr); status >= 0) return status;
  const auto t0 = std::chrono::steady_clock::now();
  Compressed c;
  if (const int status = read_compressed(opt, opt.input, c); status >= 0) return status;
  if (const int status = check_plan(opt, c); status >= 0) return status;
  const struct stat in_st = c.file.status();
  OutputFile out;
  Sink sink;
  if (!opt.to_stdout()) {
    if (const int status = open_output(opt, c.file.fd(), in_st, out, nullptr); status >= 0)
      return status;
    if (!sink.open(&out)) {
      std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output.c_str(), std::strerror(errno));
      return EXIT_USAGE_OR_IO;
    }
  }
  const int status = decode(opt, c, [&](std::span<const uint8_t> text) {
    if (!opt.to_stdout()) return sink.write(text);
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  });
  if (status != EXIT_OK) return status;
  c.file.close();
  if (!opt.to_stdout())
    if (const int committed = commit_output(opt, sink, in_st); committed >= 0) return committed;
  if (wants_report(opt))
    print_decode_report(opt, c.label, c.bytes.size(), c.plan.file.text_bytes, c.plan.file.members.size(),
                        seconds_since(t0));
  if (const int status = remove_input(opt, in_st, out); status >= 0) return status;
  return EXIT_OK;
}

int test_files(const Options& opt) {
  int worst = EXIT_OK;
  for (const std::string& name : opt.inputs) {
    Options one = opt;
    one.input = name;
    Compressed c;
    int status = skip_input(opt, name);
    if (status < 0) status = read_compressed(opt, name, c);
    if (status < 0) status = check_plan(opt, c);
    try {
      if (status < 0) status = decode(one, c, [](std::span<const uint8_t>) { return true; });
    } catch (const std::bad_alloc&) {
      status = not_enough_memory(c.label);
    }
    if (status == EXIT_OK && opt.verbosity == Verbosity::verbose) std::fprintf(stderr, "%s: OK\n", c.label.c_str());
    worst = std::max(worst, status);
  }
  return worst;
}

int list_files(const Options& opt) {
  int worst = EXIT_OK;
  bool header = false;
  size_t files = 0, members = 0;
  uint64_t compressed = 0, text = 0;
  bool any_checked = false, any_plain = false;
  for (const std::string& name : opt.inputs) {
    Compressed c;
    int status = skip_input(opt, name);
    if (status < 0) status = read_compressed(opt, name, c);
    if (status < 0) status = check_plan(opt, c);
    worst = std::max(worst, status < 0 ? EXIT_OK : status);
    if (status >= 0) continue;
    if (!header || opt.verbosity == Verbosity::verbose)
      std::printf("%sMembers   Compressed  Uncompressed  Ratio  Check  Filename\n",
                  header && opt.verbosity == Verbosity::verbose ? "\n" : "");
    header = true;
    const FilePlan& p = c.plan.file;
    std::printf("%7zu %12zu %13" PRIu64 " %6s  %-5s  %s\n", p.members.size(), c.bytes.size(), p.text_bytes,
                ratio(c.bytes.size(), p.text_bytes).c_str(), p.checked ? "XXH64" : "none", c.label.c_str());
    if (opt.verbosity == Verbosity::verbose) list_members(c);
    ++files;
    members += p.members.size();
    compressed += c.bytes.size();
    text += p.text_bytes;
    (p.checked ? any_checked : any_plain) = true;
  }
  // Several files end with their totals, as xz -l gives them.
  if (files > 1) {
    if (opt.verbosity == Verbosity::verbose) std::printf("\n");
    std::printf("----------------------------------------------------------\n");
    std::printf("%7zu %12" PRIu64 " %13" PRIu64 " %6s  %-5s  %zu files\n", members, compressed, text,
                ratio(compressed, text).c_str(), any_plain ? (any_checked ? "some" : "none") : "XXH64", files);
  }
  std::fflush(stdout);
  return worst;
}

}  // namespace tav
