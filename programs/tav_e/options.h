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
// An input skipped with a warning (a directory, a device, a link, a name
// that already ends in .tav): xz's warning status, the same number.
inline constexpr int EXIT_SKIPPED = 2;

enum class Verbosity { quiet, normal, verbose };
enum class Mode { compress, decompress, test, list };

struct Options {
  Mode mode = Mode::compress;
  std::vector<std::string> inputs;  // the files in command-line order ("" for standard input)
  // Compress and decompress run once per input, each with these two set
  // (name_output()):
  std::string input;   // empty: standard input
  std::string output;  // empty: standard output
  bool stdout_asked = false;   // -c, or -o -
  std::string output_asked;    // -o FILE: the one input's output
  bool force = false;
  bool remove_input = false;   // --rm: remove the input once its output is in place
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
  // The output is named after the input (neither -c nor -o): the case where
  // inputs that are links, devices or compressed files are skipped.
  bool output_from_name() const { return !stdout_asked && output_asked.empty(); }
};

// Fills `opt` from the command line.  Returns -1 to go on, or the exit status
// when the run ends here (--help, --version, or a usage error already shown
// on standard error).
int parse_args(int argc, char** argv, Options& opt);

// Sets opt.output for opt.input as -c, -o, the mode and the input's name
// say.  Returns -1, or the exit status after printing why there is none (-d
// of a name without the .tav suffix).
int name_output(Options& opt);

// `name` ends in ".tav" after something: -d would name its output.
bool has_tav_suffix(const std::string& name);

}  // namespace tav
