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
#include "container.h"
#include "modes.h"
#include "output.h"
#include "sink.h"
#include "job_plan.h"
#include "member_decode.h"
#include "parallel_members.h"

namespace tav {

namespace {

struct Compressed {
  std::string label;  // the name in messages
  std::vector<uint8_t> bytes;
  struct stat st {};
  FilePlan plan;
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

// Trailers that add up, headers this build can decode.  Returns an exit
// status, or -1.
int check_plan(Compressed& c) {
  c.plan = plan_file(c.bytes);
  if (c.plan.damage) return damaged(c, describe(c.plan.damage->fault), c.plan.damage->offset);
  for (const Member& m : c.plan.members) {
    const HeaderFault fault = check_header(m.header);
    if (fault != HeaderFault::none) {
      std::fprintf(stderr, "tav_e: %s: %s\n", c.label.c_str(), header_fault_reason(fault, m.header).c_str());
      return EXIT_BAD_INPUT;
    }
  }
  return -1;
}

// Threads for the members of `c`: -T within -M for the largest member.
unsigned decode_threads(const Options& opt, const FilePlan& plan, uint64_t& node_limit) {
  const JobMemory job = decode_job(plan);
  const unsigned threads = job_threads(opt, job, plan.members.size());
  node_limit = model_memory_limit((uint64_t{threads} + 1) * (job.block_bytes + 1));
  return threads;
}

// Decodes every member of `c` into `write`.  Returns an exit status.
int decode(const Options& opt, const Compressed& c,
           const std::function<bool(std::span<const uint8_t>)>& write) {
  DecodeJobs jobs;
  jobs.file = c.bytes;
  jobs.plan = &c.plan;
  jobs.write = [&](size_t, std::span<const uint8_t> text) { return write(text); };
  const unsigned threads = decode_threads(opt, c.plan, jobs.node_memory_limit);
  const ParallelDecodeResult r = decode_members(jobs, threads);
  const FileDecodeResult& f = r.file;
  if (f.ok()) return EXIT_OK;
  if (f.last.damage) return damaged(c, describe(f.last.damage->fault), f.last.damage->offset);
  const StreamResult& s = f.last.stream;
  if (s.status == ByteStatus::output_failed) {
    std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(), std::strerror(r.write_error));
    return EXIT_USAGE_OR_IO;
  }
  if (s.status == ByteStatus::out_of_memory) {
    std::fprintf(stderr, "tav_e: %s: not enough memory for the model\n", c.label.c_str());
    return EXIT_USAGE_OR_IO;
  }
  return damaged(c, describe(s.status), c.plan.members[f.member].stream_offset + s.stream_bytes);
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
  for (const Member& m : c.plan.members) {
    char check[24] = "none";
    if (c.plan.checked) std::snprintf(check, sizeof check, "%016" PRIx64, m.trailer.text_hash);
    std::printf("%8zu %12" PRIu64 " %12" PRIu64 " %12" PRIu32 " %6s %6" PRIu32 " %10" PRIu32 "  %s\n", ++i,
                m.offset, m.trailer.member_bytes, m.header.text_length,
                ratio(m.trailer.member_bytes, m.header.text_length).c_str(), m.header.level_limit - 1,
                m.header.memory_mb, check);
  }
}

}  // namespace

int decompress(const Options& opt) {
  if (const int status = check_stdout(opt, nullptr); status >= 0) return status;
  Compressed c;
  if (const int status = read_compressed(opt.input, c); status >= 0) return status;
  if (const int status = check_plan(c); status >= 0) return status;
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
                 opt.output_label().c_str(), c.bytes.size(), c.plan.text_bytes, c.plan.members.size(),
                 c.plan.members.size() == 1 ? "" : "s");
  return EXIT_OK;
}

int test_files(const Options& opt) {
  int worst = EXIT_OK;
  for (const std::string& name : opt.inputs) {
    Compressed c;
    int status = read_compressed(name, c);
    if (status < 0) status = check_plan(c);
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
    if (status < 0) status = check_plan(c);
    worst = std::max(worst, status < 0 ? EXIT_OK : status);
    if (status >= 0) continue;
    if (!header || opt.verbosity == Verbosity::verbose)
      std::printf("%sMembers   Compressed  Uncompressed  Ratio  Check  Filename\n",
                  header && opt.verbosity == Verbosity::verbose ? "\n" : "");
    header = true;
    std::printf("%7zu %12zu %13" PRIu64 " %6s  %-5s  %s\n", c.plan.members.size(), c.bytes.size(),
                c.plan.text_bytes, ratio(c.bytes.size(), c.plan.text_bytes).c_str(),
                c.plan.checked ? "XXH64" : "none", c.label.c_str());
    if (opt.verbosity == Verbosity::verbose) list_members(c);
  }
  std::fflush(stdout);
  return worst;
}

}  // namespace tav
