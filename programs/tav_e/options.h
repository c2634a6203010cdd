// tav_e's command line: the mode, options, their defaults and limits, and the
// usage text.  Parsing only reads argv and prints usage errors; it opens
// nothing.  The letters follow xz, zstd, bzip2 and gzip: -z compress, -d
// decompress, -t test, -l list; verify-after-compress is --verify.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings.h"

namespace tav {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_USAGE_OR_IO = 1;
inline constexpr int EXIT_BAD_INPUT = 2;

enum class Verbosity { quiet, normal, verbose };
enum class Mode { compress, decompress, test, list };

struct Options {
  Mode mode = Mode::compress;
  std::string input;   // empty: standard input (compress, decompress)
  std::vector<std::string> inputs;  // test, list: the files ("" for standard input)
  std::string output;  // empty: standard output
  bool force = false;
  bool verify = false;
  bool plain = false;  // -d, -t, -l also read plain streams (no trailer, no check)
  uint64_t long_window = 0;  // --long: the long-range stage's window; 0: off
  Verbosity verbosity = Verbosity::normal;
  uint32_t order = 0;
  uint32_t memory_mb = 0;
  unsigned threads = 0;                      // 0: one per core
  uint64_t block_bytes = DEFAULT_BLOCK_BYTES;
  uint64_t memory_limit = 0;                 // 0: default_memory_limit() of the machine

  bool from_stdin() const { return input.empty(); }
  bool to_stdout() const { return output.empty(); }
  std::string input_label() const { return from_stdin() ? "(stdin)" : input; }
  std::string output_label() const { return to_stdout() ? "(stdout)" : output; }
};

// Fills `opt` from the command line.  Returns -1 to go on, or the exit status
// when the run ends here (--help, --version, or a usage error already shown
// on standard error).
int parse_args(int argc, char** argv, Options& opt);

}  // namespace tav
