#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "size_text.h"

namespace tav {

int open_output(const Options& opt, int in_fd, const struct stat& in_st, OutputFile& out,
                const char* what) {
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
  if (what != nullptr && !opt.force && ::isatty(out.fd())) {
    std::fprintf(stderr, "tav_e: %s: %s not written to a terminal; use -o FILE, or -f\n",
                 opt.output.c_str(), what);
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

int commit_output(const Options& opt, Sink& sink, const struct stat& source) {
  const int err = sink.commit(source);
  if (err == 0) return -1;
  if (err == EEXIST)  // another run created the output since open_output()
    std::fprintf(stderr, "tav_e: %s: already exists; use -f to overwrite\n", opt.output.c_str());
  else
    std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(), std::strerror(err));
  return EXIT_USAGE_OR_IO;
}

int remove_input(const Options& opt, const struct stat& in_st, const OutputFile& out) {
  if (!opt.remove_input || opt.from_stdin() || opt.to_stdout()) return -1;
  const char* name = opt.input.c_str();
  if (out.in_place()) {
    if (opt.verbosity != Verbosity::quiet)
      std::fprintf(stderr, "tav_e: %s: kept: %s is not a file of its own\n", name, opt.output.c_str());
    return -1;
  }
  // The name must still lead to the file that was read (or be the link that
  // was followed to it): another file put there meanwhile is not removed.
  struct stat now {};
  if (::stat(name, &now) != 0 || now.st_dev != in_st.st_dev || now.st_ino != in_st.st_ino) {
    std::fprintf(stderr, "tav_e: %s: not removed: the name no longer leads to the file read\n", name);
    return EXIT_USAGE_OR_IO;
  }
  if (::unlink(name) != 0) {
    std::fprintf(stderr, "tav_e: %s: cannot remove: %s\n", name, std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

int open_input(const Options& opt, InputFile& in) {
  const int err = opt.from_stdin() ? in.open_stdin() : in.open(opt.input);
  if (err == EISDIR) {
    std::fprintf(stderr, "tav_e: %s: is a directory\n", opt.input_label().c_str());
    return EXIT_USAGE_OR_IO;
  }
  if (err != 0) {
    std::fprintf(stderr, "tav_e: %s: cannot open: %s\n", opt.input_label().c_str(), std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

namespace {

// Standard output is the file named as the input, or standard input's.
bool stdout_is_input(const Options& opt) {
  struct stat out {}, in {};
  if (::fstat(STDOUT_FILENO, &out) != 0) return false;
  const int got = opt.from_stdin() ? ::fstat(STDIN_FILENO, &in) : ::stat(opt.input.c_str(), &in);
  return got == 0 && same_regular_file(out, in);
}

}  // namespace

int check_stdout(const Options& opt, const char* what) {
  if (!opt.to_stdout()) return -1;
  if (stdout_is_input(opt)) {
    std::fprintf(stderr, "tav_e: %s: the output is the input itself\n", opt.input_label().c_str());
    return EXIT_USAGE_OR_IO;
  }
  if (what == nullptr || opt.force || !::isatty(STDOUT_FILENO)) return -1;
  std::fprintf(stderr, "tav_e: %s: %s not written to a terminal; use -o FILE, or -f\n",
               opt.input_label().c_str(), what);
  return EXIT_USAGE_OR_IO;
}

unsigned report_threads(const Options& opt, const ThreadPlan& plan) {
  if (plan.reduced && opt.verbosity != Verbosity::quiet)
    std::fprintf(stderr, "tav_e: using %u %s instead of %u to stay within %s of memory (%u x %s)\n",
                 plan.threads, plan.threads == 1 ? "thread" : "threads", plan.wanted,
                 format_size(plan.limit_bytes).c_str(), plan.wanted, format_size(plan.job_bytes).c_str());
  return plan.threads;
}

RunLimits run_limits(const Options& opt) { return {opt.threads, opt.memory_limit}; }

}  // namespace tav
