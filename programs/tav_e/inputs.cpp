// Running compression or decompression over every input named, as xz does:
// each in turn, a failure reported on its own line and the next one run,
// the exit status the highest of them; and the inputs skipped with a warning
// before anything is opened (opening a FIFO would wait for a writer).
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "modes.h"

namespace tav {

namespace {

int skip(const Options& opt, const std::string& name, const char* why) {
  if (opt.verbosity != Verbosity::quiet) std::fprintf(stderr, "tav_e: %s: %s\n", name.c_str(), why);
  return EXIT_SKIPPED;
}

}  // namespace

int skip_input(const Options& opt, const std::string& name) {
  struct stat st {};
  // A name that cannot be examined is opened anyway, which says why it fails.
  if (name.empty() || ::lstat(name.c_str(), &st) != 0) return -1;
  const bool writes = opt.mode == Mode::compress || opt.mode == Mode::decompress;
  const bool named_after = writes && opt.output_from_name();
  if (S_ISLNK(st.st_mode)) {
    if (named_after && !opt.force) return skip(opt, name, "is a symbolic link, skipping (-f follows it)");
    if (::stat(name.c_str(), &st) != 0) return -1;
  }
  if (S_ISDIR(st.st_mode)) return skip(opt, name, "is a directory, skipping");
  if (named_after && !S_ISREG(st.st_mode))
    return skip(opt, name, "is not a regular file, skipping (-c or -o reads it)");
  if (named_after && opt.mode == Mode::compress && has_tav_suffix(name))
    return skip(opt, name, "already has the .tav suffix, skipping");
  return -1;
}

int not_enough_memory(const std::string& label) {
  std::fprintf(stderr, "tav_e: %s: not enough memory\n", label.c_str());
  return EXIT_USAGE_OR_IO;
}

int run_inputs(const Options& opt) {
  int worst = EXIT_OK;
  for (const std::string& name : opt.inputs) {
    Options one = opt;
    one.input = name;
    int status = skip_input(one, name);
    if (status < 0) status = name_output(one);
    if (status < 0) {
      try {
        status = opt.mode == Mode::decompress ? decompress(one) : compress(one);
      } catch (const std::bad_alloc&) {
        // The temporary output was removed while the stack unwound.
        status = not_enough_memory(one.input_label());
      }
    }
    worst = std::max(worst, status);
  }
  return worst;
}

}  // namespace tav
