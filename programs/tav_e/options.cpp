#include "options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decoder_types.h"
#include "member_index.h"
#include "settings.h"
#include "size_text.h"

namespace tav {

namespace {

constexpr const char* VERSION = "1.0";

const char* const USAGE =
    "Usage: tav_e [options] [FILE...]\n"
    "Compresses each FILE (standard input if '-' or none) for tav_d, one after the\n"
    "other.  The output is FILE.tav, or standard output when reading standard input;\n"
    "the input is kept unless --rm.  With -d the output is FILE less its .tav suffix.\n"
    "\n"
    "  -z, --compress     compress (the default)\n"
    "  -d, --decompress   decompress\n"
    "  -t, --test         test the integrity of compressed files; write nothing\n"
    "  -l, --list         list the members of compressed files, without decoding\n"
    "  -o, --output FILE  write to FILE ('-': standard output); one input only\n"
    "  -c, --stdout       write to standard output (several inputs: one after another)\n"
    "  -f, --force        overwrite an existing output; write to a terminal; follow\n"
    "                     an input that is a symbolic link\n"
    "  -k, --keep         keep the input (the default; accepted for habit)\n"
    "      --rm           remove the input once its output is in place\n"
    "  -1 .. -9           preset: higher compresses better and slower (default -%d);\n"
    "                     --fast is -1, --best is -9\n"
    "      --order N      model order, 0..%u (contexts of 0..N bytes)\n"
    "  -m, --memory MB    node memory budget in MB, 1..%u\n"
    "      --verify       decode each member in memory and compare with the input\n"
    "      --long[=SIZE]  find long repeats up to SIZE back (default 1G, at most 4G)\n"
    "                     and code them as references before the model\n"
    "      --plain        with -d, -t, -l: also read plain streams (no trailer, so\n"
    "                     no check: files of the first builds)\n"
    "  -T, --threads N    compress or decode N blocks side by side (0: one per core,\n"
    "                     the default); the output is the same for any N\n"
    "      --block-size SIZE  cut the input into blocks of SIZE (K, M, G suffixes;\n"
    "                     default %s), each its own member\n"
    "  -M, --memlimit SIZE  memory the threads may take together (default: a quarter\n"
    "                     of the machine's); fewer threads run when they would not fit\n"
    "  -q, --quiet        no report, progress or warnings (errors are still shown)\n"
    "  -v, --verbose      show the settings and the report, and progress even when\n"
    "                     standard error is not a terminal\n"
    "  -V, --version      show the version\n"
    "  -h, --help         show this text\n"
    "\n"
    "--order and --memory take precedence over a preset.  Presets:\n";

// A block size as --block-size takes it: "16M", "512K", "1000".
std::string block_size_text(uint64_t bytes) {
  if (bytes % (uint64_t{1} << 20) == 0) return std::to_string(bytes >> 20) + "M";
  if (bytes % 1024 == 0) return std::to_string(bytes >> 10) + "K";
  return std::to_string(bytes);
}

void print_usage(std::FILE* f) {
  std::fprintf(f, USAGE, DEFAULT_PRESET, MAX_ORDER, MAX_MEMORY_MB, block_size_text(DEFAULT_BLOCK_BYTES).c_str());
  for (int level = MIN_PRESET; level <= MAX_PRESET; ++level)
    std::fprintf(f, "  -%d: order %2u, %5u MB\n", level, preset(level).order,
                 preset(level).memory_mb);
  std::fprintf(f, "Exit status: 0 success, 1 usage or I/O error, 2 input that cannot be coded,\n"
                  "a result that failed verification, or a damaged compressed file.\n");
}

void try_help() { std::fprintf(stderr, "Try 'tav_e --help' for more information.\n"); }

bool parse_number(const char* s, uint32_t lo, uint32_t hi, uint32_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || s[0] == '-' || v < lo || v > hi) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

enum LongOnly { OPT_ORDER = 256, OPT_FAST, OPT_BEST, OPT_VERIFY, OPT_BLOCK_SIZE, OPT_PLAIN, OPT_LONG, OPT_RM };

// -T, --block-size and -M.  False after printing the reason.
bool parse_sizes(int c, const char* arg, Options& opt) {
  if (c == 'T') {
    uint32_t n = 0;
    if (parse_number(arg, 0, MAX_THREADS, n)) {
      opt.threads = n;
      return true;
    }
    std::fprintf(stderr, "tav_e: invalid thread count '%s' (allowed: 0..%u, 0: one per core)\n", arg, MAX_THREADS);
    return false;
  }
  if (c == OPT_LONG && arg == nullptr) {
    opt.long_window = DEFAULT_LONG_WINDOW;
    return true;
  }
  const SizeParse p = c == OPT_BLOCK_SIZE ? parse_size(arg, "--block-size", 1, MAX_TEXT_LENGTH)
                      : c == OPT_LONG    ? parse_size(arg, "--long", 1, MAX_LONG_WINDOW)
                                         : parse_size(arg, "--memlimit", 1, UINT64_MAX);
  if (!p.ok) {
    std::fprintf(stderr, "tav_e: %s\n", p.error.c_str());
    return false;
  }
  (c == OPT_BLOCK_SIZE ? opt.block_bytes : c == OPT_LONG ? opt.long_window : opt.memory_limit) = p.bytes;
  return true;
}

// The file names after the options ("-" is standard input); none: standard
// input.  Returns -1 to go on, or an exit status.
int take_names(int argc, char** argv, Options& opt) {
  for (int i = optind; i < argc; ++i) opt.inputs.push_back(std::strcmp(argv[i], "-") == 0 ? "" : argv[i]);
  if (opt.inputs.empty()) opt.inputs.push_back("");
  if (opt.mode == Mode::list)
    for (const std::string& name : opt.inputs)
      if (name.empty()) {
        std::fprintf(stderr, "tav_e: --list needs file names (it reads the trailers from the end)\n");
        return EXIT_USAGE_OR_IO;
      }
  return -1;
}

// The output name -d gives INPUT: INPUT less ".tav"; empty when it has none.
std::string decompressed_name(const std::string& input) {
  const std::string suffix = ".tav";
  const size_t slash = input.find_last_of('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  if (input.size() - base <= suffix.size() || input.compare(input.size() - suffix.size(), suffix.size(), suffix) != 0)
    return {};
  return input.substr(0, input.size() - suffix.size());
}

}  // namespace

int parse_args(int argc, char** argv, Options& opt) {
  static const option longs[] = {
      {"output", required_argument, nullptr, 'o'}, {"stdout", no_argument, nullptr, 'c'},
      {"to-stdout", no_argument, nullptr, 'c'},    {"force", no_argument, nullptr, 'f'},
      {"keep", no_argument, nullptr, 'k'},         {"rm", no_argument, nullptr, OPT_RM},
      {"order", required_argument, nullptr, OPT_ORDER},
      {"memory", required_argument, nullptr, 'm'}, {"verify", no_argument, nullptr, OPT_VERIFY},
      {"plain", no_argument, nullptr, OPT_PLAIN},    {"long", optional_argument, nullptr, OPT_LONG},
      {"compress", no_argument, nullptr, 'z'},     {"decompress", no_argument, nullptr, 'd'},
      {"uncompress", no_argument, nullptr, 'd'},   {"test", no_argument, nullptr, 't'},
      {"list", no_argument, nullptr, 'l'},         {"threads", required_argument, nullptr, 'T'},
      {"block-size", required_argument, nullptr, OPT_BLOCK_SIZE},
      {"memlimit", required_argument, nullptr, 'M'}, {"memory-limit", required_argument, nullptr, 'M'},
      {"quiet", no_argument, nullptr, 'q'},        {"verbose", no_argument, nullptr, 'v'},
      {"version", no_argument, nullptr, 'V'},      {"help", no_argument, nullptr, 'h'},
      {"fast", no_argument, nullptr, OPT_FAST},    {"best", no_argument, nullptr, OPT_BEST},
      {nullptr, 0, nullptr, 0}};
  int level = DEFAULT_PRESET;
  bool has_order = false, has_memory = false, has_output = false, to_stdout = false;
  std::string output;
  opterr = 0;
  for (;;) {
    const int c = getopt_long(argc, argv, ":o:cfkm:zdtlT:M:qvVh123456789", longs, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'o': has_output = true; output = optarg; break;
      case 'c': to_stdout = true; break;
      case 'f': opt.force = true; break;
      case 'k': opt.remove_input = false; break;
      case OPT_RM: opt.remove_input = true; break;
      case 'z': opt.mode = Mode::compress; break;
      case 'd': opt.mode = Mode::decompress; break;
      case 't': opt.mode = Mode::test; break;
      case 'l': opt.mode = Mode::list; break;
      case OPT_VERIFY: opt.verify = true; break;
      case OPT_PLAIN: opt.plain = true; break;
      case OPT_LONG:
        if (!parse_sizes(c, optarg, opt)) return EXIT_USAGE_OR_IO;
        break;
      case 'T': case 'M': case OPT_BLOCK_SIZE:
        if (!parse_sizes(c, optarg, opt)) return EXIT_USAGE_OR_IO;
        break;
      case 'q': opt.verbosity = Verbosity::quiet; break;
      case 'v': opt.verbosity = Verbosity::verbose; break;
      case 'V': std::printf("tav_e %s (container: 8-byte header, order 0..%u)\n", VERSION, MAX_ORDER);
        return EXIT_OK;
      case 'h': print_usage(stdout); return EXIT_OK;
      case OPT_FAST: level = MIN_PRESET; break;
      case OPT_BEST: level = MAX_PRESET; break;
      case OPT_ORDER:
        if (!parse_number(optarg, 0, MAX_ORDER, opt.order)) {
          std::fprintf(stderr, "tav_e: invalid order '%s' (allowed: 0..%u)\n", optarg, MAX_ORDER);
          return EXIT_USAGE_OR_IO;
        }
        has_order = true;
        break;
      case 'm':
        if (!parse_number(optarg, 1, MAX_MEMORY_MB, opt.memory_mb)) {
          std::fprintf(stderr, "tav_e: invalid memory budget '%s' (allowed: 1..%u MB)\n", optarg,
                       MAX_MEMORY_MB);
          return EXIT_USAGE_OR_IO;
        }
        has_memory = true;
        break;
      case ':':
        std::fprintf(stderr, "tav_e: option '%s' needs a value\n", argv[optind - 1]);
        try_help();
        return EXIT_USAGE_OR_IO;
      case '?':
        if (optopt != 0 && optopt < 256)
          std::fprintf(stderr, "tav_e: unknown option '-%c'\n", optopt);
        else
          std::fprintf(stderr, "tav_e: unknown option '%s'\n", argv[optind - 1]);
        try_help();
        return EXIT_USAGE_OR_IO;
      default: level = c - '0'; break;  // -1 .. -9
    }
  }
  const Preset p = preset(level);
  if (!has_order) opt.order = p.order;
  if (!has_memory) opt.memory_mb = p.memory_mb;

  if (const int status = take_names(argc, argv, opt); status >= 0) return status;
  if (to_stdout && has_output && output != "-") {
    std::fprintf(stderr, "tav_e: -c and -o '%s' name two outputs; give one\n", output.c_str());
    return EXIT_USAGE_OR_IO;
  }
  if ((has_output || to_stdout) && (opt.mode == Mode::test || opt.mode == Mode::list)) {
    std::fprintf(stderr, "tav_e: %s writes no output; -o and -c do not apply\n",
                 opt.mode == Mode::test ? "--test" : "--list");
    return EXIT_USAGE_OR_IO;
  }
  if (has_output && output.empty()) {
    std::fprintf(stderr, "tav_e: the output name is empty\n");
    return EXIT_USAGE_OR_IO;
  }
  opt.stdout_asked = to_stdout || output == "-";
  if (has_output && !opt.stdout_asked) {
    if (opt.inputs.size() > 1) {
      std::fprintf(stderr, "tav_e: -o names one output, for one input, not %zu; use -c to write them all to "
                           "standard output\n", opt.inputs.size());
      try_help();
      return EXIT_USAGE_OR_IO;
    }
    opt.output_asked = output;
  }
  return -1;
}

bool has_tav_suffix(const std::string& name) { return !decompressed_name(name).empty(); }

int name_output(Options& opt) {
  if (opt.stdout_asked || opt.mode == Mode::test || opt.mode == Mode::list)
    opt.output.clear();
  else if (!opt.output_asked.empty())
    opt.output = opt.output_asked;
  else if (opt.from_stdin())
    opt.output.clear();
  else if (opt.mode == Mode::compress)
    opt.output = opt.input + ".tav";
  else if ((opt.output = decompressed_name(opt.input)).empty()) {
    std::fprintf(stderr, "tav_e: %s: no .tav suffix to remove; name the output with -o, or use -c\n",
                 opt.input.c_str());
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

}  // namespace tav
