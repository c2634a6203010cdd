// tav_e's compression: the input is read in blocks of --block-size (a file or
// a pipe alike, never whole), each block becomes a member coded by a worker
// with its own model, and the members are written in input order, so the
// file is the same for any number of threads.
//
// A named output goes through the output transaction (temporary file linked
// at the end; in memory for an output written in place), so a failed run
// leaves nothing.  Standard output receives each member as soon as it and
// every member before it are done: a failure midway leaves the members
// written so far on the pipe, as xz does.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "block_cutter.h"
#include "decoder_types.h"
#include "modes.h"
#include "output.h"
#include "parallel_members.h"
#include "progress.h"
#include "run_plan.h"
#include "sink.h"

namespace tav {

namespace {

// The warning tav_d gives for the same file: the run may still succeed (a
// model rarely uses its whole budget), so it is no error.
void warn_oversized_budget(const Options& opt, const CompressPlan& plan) {
  if (opt.verbosity == Verbosity::quiet || (uint64_t{opt.memory_mb} << 20) <= plan.node_room) return;
  std::fprintf(stderr,
               "tav_e: %s: warning: the node budget of %" PRIu32 "M exceeds the %" PRIu64
               " MB this machine can give; compression stops with a message if the model needs more\n",
               opt.input_label().c_str(), opt.memory_mb, plan.node_room >> 20);
}

// " (the block at byte N)" for a failure past the first block.
std::string where(const RunError& f) {
  return f.member == 0 ? std::string() : " (the block at byte " + std::to_string(f.text_position) + ")";
}

// The verification's finding in words, as the message's detail.
std::string verify_detail(const VerifyFinding& v) {
  using Kind = VerifyFinding::Kind;
  const std::string at = std::to_string(v.at);
  switch (v.kind) {
    case Kind::plan_damaged:
    case Kind::member_damaged: return std::string(describe(v.member_fault)) + " at byte " + at;
    case Kind::not_members: return "the file carries no trailer";
    case Kind::sizes_differ: return "the headers do not match";
    case Kind::no_memory: return "no memory for the decoded text";
    case Kind::stream_failed: return std::string(describe(v.stream)) + " in the member at byte " + at;
    case Kind::text_differs: return "the decoded text differs at byte " + at;
    case Kind::none: break;
  }
  return {};
}

// The message and exit status of a failed run.
int report_failure(const Options& opt, const RunError& f) {
  const std::string label = opt.input_label();
  const char* in = label.c_str();
  switch (f.fault) {
    case RunFault::read:
      std::fprintf(stderr, "tav_e: %s: cannot read: %s\n", in, std::strerror(f.error));
      return EXIT_USAGE_OR_IO;
    case RunFault::write:
      std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(), std::strerror(f.error));
      return EXIT_USAGE_OR_IO;
    case RunFault::out_of_memory:
      std::fprintf(stderr, "tav_e: %s: not enough memory for the model%s; use a smaller --memory budget\n",
                   in, where(f).c_str());
      return EXIT_USAGE_OR_IO;
    case RunFault::verify:
      std::fprintf(stderr, "tav_e: %s: verification failed%s: %s; %s\n", in, where(f).c_str(),
                   verify_detail(f.verify).c_str(),
                   opt.to_stdout() ? "the members before it were written" : "no output written");
      return EXIT_BAD_INPUT;
    default:
      std::fprintf(stderr, "tav_e: %s: no order can code it%s with a %uM budget\n", in, where(f).c_str(),
                   opt.memory_mb);
      return EXIT_BAD_INPUT;
  }
}

}  // namespace

int compress(const Options& opt) {
  if (const int status = check_stdout(opt, "compressed data"); status >= 0) return status;
  InputFile in;
  if (const int status = open_input(opt, in); status >= 0) return status;
  const struct stat in_st = in.status();
  OutputFile out;
  if (!opt.to_stdout())
    if (const int status = open_output(opt, in.fd(), in_st, out, "compressed data"); status >= 0)
      return status;
  Sink sink;
  if (!opt.to_stdout() && !sink.open(&out)) {
    std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(), std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }

  // A regular file says how large it is; a stream does not.
  const bool sized = S_ISREG(in_st.st_mode);
  const uint64_t size = sized ? static_cast<uint64_t>(in_st.st_size) : 0;
  const CompressPlan plan = plan_compression(opt.order, opt.memory_mb, opt.block_bytes,
                                             sized ? std::optional<uint64_t>(size) : std::nullopt, run_limits(opt),
                                             opt.long_window);
  const unsigned threads = report_threads(opt, plan.threads);
  warn_oversized_budget(opt, plan);

  const auto t0 = std::chrono::steady_clock::now();
  Progress progress(opt, size);
  if (opt.verbosity == Verbosity::verbose)
    std::fprintf(stderr, "tav_e: %s: %s, order %u, %uM budget, %u thread%s%s\n", opt.input_label().c_str(),
                 sized ? (std::to_string(size) + " bytes").c_str() : "a stream",
                 opt.order, opt.memory_mb, threads, threads == 1 ? "" : "s", opt.verify ? ", verify" : "");

  FdBlockSource blocks(in.fd(), opt.block_bytes);
  CompressJobs jobs;
  jobs.next_block = [&] { return blocks.next(); };
  jobs.write = [&](size_t, const CodedMember& m) {
    if (!opt.to_stdout()) return sink.write(m.bytes);
    return std::fwrite(m.bytes.data(), 1, m.bytes.size(), stdout) == m.bytes.size() && std::fflush(stdout) == 0;
  };
  jobs.settings = plan.settings;
  jobs.long_range = plan.long_range;
  jobs.verify = opt.verify;
  jobs.progress = [&](uint64_t text_done, uint64_t bytes_done, uint32_t order) {
    progress.show(text_done, bytes_done, order);
  };
  jobs.attempt_failed = [&](const FailedAttempt& a, uint64_t position) {
    progress.clear();
    if (opt.verbosity != Verbosity::quiet)
      std::fprintf(stderr, "tav_e: order %u cannot code '%s' at byte %" PRIu64 " (%s); trying another order\n",
                   a.order, opt.input_label().c_str(), position, describe(a.status));
  };
  const CompressOutcome c = compress_blocks(jobs, threads);
  progress.clear();
  in.close();
  if (c.failure) return report_failure(opt, *c.failure);
  if (!opt.to_stdout())
    if (const int status = commit_output(opt, sink, in_st); status >= 0) return status;
  if (wants_report(opt))
    print_report(opt, RunReport{c.text_bytes, c.out_bytes, c.order, c.pages_used, seconds_since(t0), c.members});
  if (const int status = remove_input(opt, in_st, out); status >= 0) return status;
  return EXIT_OK;
}

}  // namespace tav
