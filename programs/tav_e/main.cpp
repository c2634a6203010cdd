// tav_e: compresses files or standard input into the container that tav_d
// reads, and decompresses, tests and lists such files, with the command line
// of the common compressors:
//
//   tav_e [options] [FILE...]
//
// This file only parses the command line and runs the mode: the inputs are
// run in turn in inputs.cpp, compression is in compress.cpp, decompression,
// test and list in decompress.cpp.  Messages and progress go to standard
// error only.
//
// Some inputs meet a limit of the format at some settings: a byte the model
// gives frequency 1 while the coder's range is small leaves a zero-width
// interval, after which no further byte can be coded.  The encoder notices it
// as it happens, abandons that setting and encodes again with the nearest
// order that works (order 0 last: its single weight keeps every frequency far
// above 1), and its report names the order used and why.
//
// Exit status: 0 success, 1 usage or I/O error, 2 an input that no order can
// code, a result that failed verification, a damaged compressed file, or an
// input skipped with a warning; with several inputs, the highest of them.
#include <cstdio>
#include <new>

#include "decoder_types.h"
#include "modes.h"
#include "options.h"

namespace {

using namespace tav;

int run(const Options& opt) {
  switch (opt.mode) {
    case Mode::test: return test_files(opt);
    case Mode::list: return list_files(opt);
    default: return run_inputs(opt);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  const int early = parse_args(argc, argv, opt);
  if (early >= 0) return early;
  if (!set_numeric_mode()) {
    std::fprintf(stderr, "tav_e: cannot set the floating-point rounding mode\n");
    return EXIT_USAGE_OR_IO;
  }
  try {
    return run(opt);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tav_e: not enough memory\n");
    return EXIT_USAGE_OR_IO;
  }
}
