// tav_e: compresses one file or standard input into the container that tav_d
// reads, with the command line of the common compressors:
//
//   tav_e [options] [INPUT|-] [-o OUTPUT]
//
// The whole input is held in memory (the model reads earlier text through its
// successor positions).  A file result is written to an unnamed temporary
// file in the output's directory and linked at its name on success (see
// output_file.h), so a failed, refused or killed run leaves no partial file;
// a result for standard output or for an output written in place is built in
// memory and written only once it is complete (and verified, with -t).
// Messages and progress go to standard error only.
//
// Some inputs meet a limit of the format at some settings: a byte the model
// gives frequency 1 while the coder's range is small leaves a zero-width
// interval, after which no further byte can be coded.  The encoder notices it
// as it happens, abandons that setting and encodes again with the nearest
// order that works (order 0 last: its single weight keeps every frequency far
// above 1), and its report names the order used and why.
//
// The output is one member (member_encode.h) per 2^31 - 1 bytes of input,
// each coded with its own model and closed by a trailer with the text's
// checksum; a one-member file still decodes in a decoder that never looks
// past the stream.
//
// Exit status: 0 success, 1 usage or I/O error, 2 an input that no order can
// code or a result that failed verification.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "byte_io.h"
#include "container.h"
#include "encoder_options.h"
#include "encoder_progress.h"
#include "encoder_sink.h"
#include "member_encode.h"
#include "order_fallback.h"
#include "output_file.h"
#include "settings.h"
#include "system_memory.h"
#include "verify_container.h"

namespace {

using namespace tav;

// Node memory the machine has left besides the text: the model is capped at
// it, so an oversized budget ends with a message rather than exhausting the
// system.
uint64_t model_memory_limit(uint64_t text_bytes) {
  const uint64_t machine = machine_memory_bytes();
  return machine > text_bytes ? machine - text_bytes : UINT64_MAX;
}

// The warning tav_d gives for the same file: the run may still succeed (a
// model rarely uses its whole budget), so it is no error.
void warn_oversized_budget(const Options& opt, uint64_t text_bytes) {
  const uint64_t machine = machine_memory_bytes();
  if (opt.verbosity == Verbosity::quiet || machine <= text_bytes) return;
  const uint64_t room = machine - text_bytes;
  if ((uint64_t{opt.memory_mb} << 20) <= room) return;
  std::fprintf(stderr,
               "tav_e: %s: warning: the node budget of %" PRIu32 "M exceeds the %" PRIu64
               " MB this machine can give; compression stops with a message if the model needs more\n",
               opt.input_label().c_str(), opt.memory_mb, room >> 20);
}

// ---- input -----------------------------------------------------------------

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != stdin) std::fclose(f);
  }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the input (standard input when none is named).  Returns an exit
// status, or -1 on success.
int open_input(const Options& opt, InputFile& in, struct stat& st) {
  in.reset(opt.from_stdin() ? stdin : std::fopen(opt.input.c_str(), "rb"));
  if (!in) {
    std::fprintf(stderr, "tav_e: %s: cannot open: %s\n", opt.input.c_str(), std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  if (::fstat(::fileno(in.get()), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "tav_e: %s: is a directory\n", opt.input_label().c_str());
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

// Reads the whole input; a text longer than one member holds becomes several
// members.  Returns an exit status, or -1 on success.
int load_input(const Options& opt, std::FILE* in, std::vector<uint8_t>& text) {
  struct stat st;
  if (::fstat(::fileno(in), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    text.reserve(static_cast<size_t>(st.st_size));
  std::vector<uint8_t> buf(1 << 16);
  size_t got = 0;
  while ((got = std::fread(buf.data(), 1, buf.size(), in)) > 0)
    text.insert(text.end(), buf.data(), buf.data() + got);
  if (std::ferror(in)) {
    std::fprintf(stderr, "tav_e: %s: cannot read: %s\n", opt.input_label().c_str(),
                 std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

// ---- output ------------------------------------------------------------------

// Checks and opens the named output before any work.  Returns an exit status,
// or -1 on success.
int open_output(const Options& opt, int in_fd, const struct stat& in_st, OutputFile& out) {
  // Device and inode, whatever the names: standard input counts too.  Only a
  // regular input can be clobbered (/dev/null may be read and written).
  if (S_ISREG(in_st.st_mode) && same_file(in_fd, opt.output)) {
    std::fprintf(stderr, "tav_e: %s: the output is the input itself\n", opt.output.c_str());
    return EXIT_USAGE_OR_IO;
  }
  catch_fatal_signals();
  const int err = out.open(opt.output, opt.force);
  if (err == EEXIST) {
    std::fprintf(stderr, "tav_e: %s: already exists; use -f to overwrite\n", opt.output.c_str());
    return EXIT_USAGE_OR_IO;
  }
  if (err == EISDIR) {
    std::fprintf(stderr, "tav_e: %s: is a directory\n", opt.output.c_str());
    return EXIT_USAGE_OR_IO;
  }
  if (err != 0) {
    std::fprintf(stderr, "tav_e: %s: cannot create: %s\n", opt.output.c_str(), std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }
  // The descriptor decides, not the name: /dev/tty, /dev/stdout, a pty.
  if (!opt.force && ::isatty(out.fd())) {
    std::fprintf(stderr, "tav_e: %s: compressed data not written to a terminal; use -o FILE, or -f\n",
                 opt.output.c_str());
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

// Puts the finished result at its destination.  Returns an exit status, or
// -1 on success.
int commit_output(const Options& opt, Sink& sink, mode_t mode) {
  const int err = sink.commit(mode);
  if (err == 0) return -1;
  if (err == EEXIST)  // another run created the output since open_output()
    std::fprintf(stderr, "tav_e: %s: already exists; use -f to overwrite\n", opt.output.c_str());
  else
    std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(), std::strerror(err));
  return EXIT_USAGE_OR_IO;
}

// ---- compression ---------------------------------------------------------------

struct Coded {
  MemberEncodeResult last;  // of the last member written, or of the one that failed
  uint64_t out_bytes = 0;   // every member's bytes
  uint32_t order = 0;       // the order requested, or the first other order a member needed
  uint32_t pages_used = 0;  // the most node pages any member's model used
};

// One member per block of the text, in order, each with its own model.
Coded encode_members(const Options& opt, std::span<const uint8_t> text, uint64_t memory_limit,
                     Sink& sink, Progress& progress) {
  Coded c;
  c.order = opt.order;
  uint64_t base = 0;
  for (const std::span<const uint8_t> block : member_blocks(text)) {
    FallbackObserver observer;
    observer.attempt_starts = [&](uint32_t order) { progress.start(order, base); };
    observer.progress = [&](uint32_t p, uint64_t written) {
      progress.show(base + p, static_cast<long>(c.out_bytes + written));
    };
    observer.attempt_failed = [&](const FailedAttempt& a) {
      progress.clear();
      if (opt.verbosity != Verbosity::quiet)
        std::fprintf(stderr, "tav_e: order %u cannot code '%s' at byte %" PRIu64 " (%s); trying another order\n",
                     a.order, opt.input_label().c_str(), base + a.position, describe(a.status));
    };
    sink.mark();
    c.last = encode_member(block, {opt.order, opt.memory_mb, memory_limit}, sink, observer);
    if (c.last.coded.result.status != EncodeStatus::ok) break;
    if (c.order == opt.order) c.order = c.last.coded.order;
    c.pages_used = std::max(c.pages_used, c.last.coded.result.pages_used);
    c.out_bytes += c.last.member_bytes;
    base += block.size();
  }
  progress.clear();
  return c;
}


int compress(const Options& opt) {
  if (!set_numeric_mode()) {
    std::fprintf(stderr, "tav_e: cannot set the floating-point rounding mode\n");
    return EXIT_USAGE_OR_IO;
  }
  const bool normal = opt.verbosity != Verbosity::quiet;

  // Every check that needs no work comes before the input is read.
  if (opt.to_stdout() && !opt.force && ::isatty(STDOUT_FILENO)) {
    std::fprintf(stderr,
                 "tav_e: %s: compressed data not written to a terminal; use -o FILE, or -f\n",
                 opt.input_label().c_str());
    return EXIT_USAGE_OR_IO;
  }
  InputFile in;
  struct stat in_st {};
  if (const int status = open_input(opt, in, in_st); status >= 0) return status;
  OutputFile out;
  if (!opt.to_stdout()) {
    if (const int status = open_output(opt, ::fileno(in.get()), in_st, out); status >= 0)
      return status;
  }
  Sink sink;
  if (!sink.open(opt.to_stdout() ? nullptr : &out)) {
    std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(),
                 std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  const mode_t mode = S_ISREG(in_st.st_mode) ? (in_st.st_mode & 07777) : default_file_mode();

  std::vector<uint8_t> text;
  const int loaded = load_input(opt, in.get(), text);
  in.reset();
  if (loaded >= 0) return loaded;
  const uint64_t memory_limit = model_memory_limit(text.size());
  warn_oversized_budget(opt, text.size());

  const auto t0 = std::chrono::steady_clock::now();
  Progress progress(opt, text.size());
  if (opt.verbosity == Verbosity::verbose)
    std::fprintf(stderr, "tav_e: %s: %zu bytes, order %u, %uM budget%s\n", opt.input_label().c_str(),
                 text.size(), opt.order, opt.memory_mb, opt.verify ? ", verify" : "");

  const Coded coded = encode_members(opt, text, memory_limit, sink, progress);
  const EncodeResult& r = coded.last.coded.result;
  if (r.status == EncodeStatus::io_error) {
    std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(),
                 std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  if (r.status == EncodeStatus::out_of_memory) {
    std::fprintf(stderr, "tav_e: %s: not enough memory for the model; use a smaller --memory budget\n",
                 opt.input_label().c_str());
    return EXIT_USAGE_OR_IO;
  }
  if (r.status != EncodeStatus::ok) {
    std::fprintf(stderr, "tav_e: %s: no order can code it with a %uM budget\n",
                 opt.input_label().c_str(), opt.memory_mb);
    return EXIT_BAD_INPUT;
  }
  const uint64_t out_bytes = coded.out_bytes;

  if (opt.verify) {
    std::vector<uint8_t> written;
    const std::string problem = !sink.read_back(written)
                                    ? std::string("cannot read the result back")
                                    : verify_members(written, text, memory_limit);
    if (!problem.empty()) {
      std::fprintf(stderr, "tav_e: %s: verification failed: %s; no output written\n",
                   opt.input_label().c_str(), problem.c_str());
      return EXIT_BAD_INPUT;
    }
  }
  if (const int status = commit_output(opt, sink, mode); status >= 0) return status;
  if (normal)
    print_report(opt, RunReport{text.size(), out_bytes, coded.order, coded.pages_used, seconds_since(t0)});
  return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  const int early = parse_args(argc, argv, opt);
  if (early >= 0) return early;
  try {
    return compress(opt);
  } catch (const std::bad_alloc&) {
    // The temporary output was removed while the stack unwound.
    std::fprintf(stderr, "tav_e: %s: not enough memory\n", opt.input_label().c_str());
    return EXIT_USAGE_OR_IO;
  }
}
