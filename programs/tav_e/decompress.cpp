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
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "byte_io.h"
#include "decode_run.h"
#include "fault_text.h"
#include "modes.h"
#include "output.h"
#include "sink.h"
#include "size_text.h"

namespace tav {

namespace {

struct Compressed {
  std::string label;  // the name in messages
  std::vector<uint8_t> bytes;
  struct stat st {};
  DecodePlan plan;
  std::FILE* file = nullptr;  // open until the end, to tell it from the output

  Compressed() = default;
  Compressed(const Compressed&) = delete;
  Compressed& operator=(const Compressed&) = delete;
  ~Compressed() {
    if (file != nullptr && file != stdin) std::fclose(file);
  }
};

// Reads `name` ("" for standard input) whole.  Returns an exit status, or -1.
int read_compressed(const std::string& name, Compressed& c) {
  c.label = name.empty() ? "(stdin)" : name;
  std::FILE* const f = c.file = name.empty() ? stdin : std::fopen(name.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "tav_e: %s: cannot open: %s\n", c.label.c_str(), std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  int status = -1;
  if (::fstat(::fileno(f), &c.st) == 0 && S_ISDIR(c.st.st_mode)) {
    std::fprintf(stderr, "tav_e: %s: is a directory\n", c.label.c_str());
    status = EXIT_USAGE_OR_IO;
  } else if (!read_all_bytes(f, c.bytes)) {
    std::fprintf(stderr, "tav_e: %s: cannot read: %s\n", c.label.c_str(), std::strerror(errno));
    status = EXIT_USAGE_OR_IO;
  }
  return status;
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

// Decodes every member of `c` into `write`.  Returns an exit status.
int decode(const Options& opt, const Compressed& c,
           const std::function<bool(std::span<const uint8_t>)>& write) {
  report_threads(opt, c.plan.threads);
  DecodeTarget target;
  target.write = write;
  const DecodeOutcome o = decode_run(c.bytes, c.plan, target);
  return o.failure ? report_failure(opt, c, *o.failure) : EXIT_OK;
}

// ---- list ---------------------------------------------------------------------

std::string ratio(uint64_t compressed, uint64_t text) {
  if (text == 0) return "---";
  char s[32];
  std::snprintf(s, sizeof s, "%.3f", static_cast<double>(compressed) / static_cast<double>(text));
  return s;
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
  Compressed c;
  if (const int status = read_compressed(opt.input, c); status >= 0) return status;
  if (const int status = check_plan(opt, c); status >= 0) return status;
  OutputFile out;
  Sink sink;
  if (!opt.to_stdout()) {
    if (const int status = open_output(opt, ::fileno(c.file), c.st, out, nullptr); status >= 0)
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
  if (!opt.to_stdout())
    if (const int committed = commit_output(opt, sink, c.st); committed >= 0) return committed;
  if (opt.verbosity == Verbosity::verbose)
    std::fprintf(stderr, "tav_e: %s -> %s: %zu -> %" PRIu64 " bytes, %zu member%s\n", c.label.c_str(),
                 opt.output_label().c_str(), c.bytes.size(), c.plan.file.text_bytes, c.plan.file.members.size(),
                 c.plan.file.members.size() == 1 ? "" : "s");
  return EXIT_OK;
}

int test_files(const Options& opt) {
  int worst = EXIT_OK;
  for (const std::string& name : opt.inputs) {
    Compressed c;
    int status = read_compressed(name, c);
    if (status < 0) status = check_plan(opt, c);
    if (status < 0) status = decode(opt, c, [](std::span<const uint8_t>) { return true; });
    if (status == EXIT_OK && opt.verbosity == Verbosity::verbose) std::fprintf(stderr, "%s: OK\n", c.label.c_str());
    worst = std::max(worst, status);
  }
  return worst;
}

int list_files(const Options& opt) {
  int worst = EXIT_OK;
  bool header = false;
  for (const std::string& name : opt.inputs) {
    Compressed c;
    int status = read_compressed(name, c);
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
  }
  std::fflush(stdout);
  return worst;
}

}  // namespace tav
