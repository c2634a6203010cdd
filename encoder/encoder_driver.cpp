// tav_e: compresses one file or standard input into the container that tav_d
// reads, with the command line of the common compressors:
//
//   tav_e [options] [INPUT|-] [-o OUTPUT]
//
// The whole input is held in memory (the model reads earlier text through its
// successor positions).  A file result is written to a temporary name in the
// output's directory and renamed on success, so a failed or interrupted run
// leaves no partial file; a result for standard output is built in memory and
// written only once it is complete (and verified, with -t).  Messages and
// progress go to standard error only.
//
// Some inputs meet a limit of the format at some settings: a byte the model
// gives frequency 1 while the coder's range is small leaves a zero-width
// interval, after which no further byte can be coded.  The encoder notices it
// as it happens, abandons that setting and encodes again with the nearest
// order that works (order 0 last: its single weight keeps every frequency far
// above 1), and its report names the order used and why.
//
// Exit status: 0 success, 1 usage or I/O error, 2 an input that cannot be
// coded (too long for the format) or a result that failed verification.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "byte_io.h"
#include "container.h"
#include "order_fallback.h"
#include "settings.h"
#include "system_memory.h"
#include "verify_container.h"

namespace {

using namespace tav;

constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE_OR_IO = 1;
constexpr int EXIT_BAD_INPUT = 2;
constexpr const char* VERSION = "1.0";

const char* const USAGE =
    "Usage: tav_e [options] [INPUT|-] [-o OUTPUT]\n"
    "Compresses INPUT (standard input if '-' or absent) for tav_d.  The output is\n"
    "INPUT.tav, or standard output when reading standard input; the input is kept.\n"
    "\n"
    "  -o, --output FILE  write to FILE ('-': standard output)\n"
    "  -c, --stdout       write to standard output\n"
    "  -f, --force        overwrite an existing output; write to a terminal\n"
    "  -k, --keep         keep the input (always done; accepted for habit)\n"
    "  -1 .. -9           preset: higher compresses better and slower (default -%d);\n"
    "                     --fast is -1, --best is -9\n"
    "      --order N      model order, 0..%u (contexts of 0..N bytes)\n"
    "  -m, --memory MB    node memory budget in MB, 1..%u\n"
    "  -t, --verify       decode the result in memory and compare with the input\n"
    "  -q, --quiet        no report, no warnings (errors are still shown)\n"
    "  -v, --verbose      show the settings, and progress even when not on a terminal\n"
    "  -V, --version      show the version\n"
    "  -h, --help         show this text\n"
    "\n"
    "--order and --memory take precedence over a preset.  Presets:\n";

void print_usage(std::FILE* f) {
  std::fprintf(f, USAGE, DEFAULT_PRESET, MAX_ORDER, MAX_MEMORY_MB);
  for (int level = MIN_PRESET; level <= MAX_PRESET; ++level)
    std::fprintf(f, "  -%d: order %2u, %5u MB\n", level, preset(level).order,
                 preset(level).memory_mb);
  std::fprintf(f, "Exit status: 0 success, 1 usage or I/O error, 2 input that cannot be coded\n"
                  "or a result that failed verification.\n");
}

void try_help() { std::fprintf(stderr, "Try 'tav_e --help' for more information.\n"); }

enum class Verbosity { quiet, normal, verbose };

struct Options {
  std::string input;   // empty: standard input
  std::string output;  // empty: standard output
  bool force = false;
  bool verify = false;
  Verbosity verbosity = Verbosity::normal;
  uint32_t order = 0;
  uint32_t memory_mb = 0;

  bool from_stdin() const { return input.empty(); }
  bool to_stdout() const { return output.empty(); }
  std::string input_label() const { return from_stdin() ? "(stdin)" : input; }
  std::string output_label() const { return to_stdout() ? "(stdout)" : output; }
};

bool parse_number(const char* s, uint32_t lo, uint32_t hi, uint32_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || s[0] == '-' || v < lo || v > hi) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

enum LongOnly { OPT_ORDER = 256, OPT_FAST, OPT_BEST };

// Returns -1 to go on, or an exit status.
int parse_args(int argc, char** argv, Options& opt) {
  static const option longs[] = {
      {"output", required_argument, nullptr, 'o'}, {"stdout", no_argument, nullptr, 'c'},
      {"to-stdout", no_argument, nullptr, 'c'},    {"force", no_argument, nullptr, 'f'},
      {"keep", no_argument, nullptr, 'k'},         {"order", required_argument, nullptr, OPT_ORDER},
      {"memory", required_argument, nullptr, 'm'}, {"verify", no_argument, nullptr, 't'},
      {"quiet", no_argument, nullptr, 'q'},        {"verbose", no_argument, nullptr, 'v'},
      {"version", no_argument, nullptr, 'V'},      {"help", no_argument, nullptr, 'h'},
      {"fast", no_argument, nullptr, OPT_FAST},    {"best", no_argument, nullptr, OPT_BEST},
      {nullptr, 0, nullptr, 0}};
  int level = DEFAULT_PRESET;
  bool has_order = false, has_memory = false, has_output = false, to_stdout = false;
  std::string output;
  opterr = 0;
  for (;;) {
    const int c = getopt_long(argc, argv, ":o:cfkm:tqvVh123456789", longs, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'o': has_output = true; output = optarg; break;
      case 'c': to_stdout = true; break;
      case 'f': opt.force = true; break;
      case 'k': break;
      case 't': opt.verify = true; break;
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

  const int names = argc - optind;
  if (names > 1) {
    std::fprintf(stderr, "tav_e: too many file names ('%s', '%s'); name the output with -o\n",
                 argv[optind], argv[optind + 1]);
    try_help();
    return EXIT_USAGE_OR_IO;
  }
  if (names == 1 && std::strcmp(argv[optind], "-") != 0) opt.input = argv[optind];
  if (to_stdout && has_output && output != "-") {
    std::fprintf(stderr, "tav_e: -c and -o '%s' name two outputs; give one\n", output.c_str());
    return EXIT_USAGE_OR_IO;
  }
  if (has_output && output.empty()) {
    std::fprintf(stderr, "tav_e: the output name is empty\n");
    return EXIT_USAGE_OR_IO;
  }
  if (to_stdout || output == "-")
    opt.output.clear();
  else if (has_output)
    opt.output = output;
  else if (!opt.from_stdin())
    opt.output = opt.input + ".tav";
  return -1;
}

// ---- temporary output file, removed on failure and on a fatal signal -------

// The name of the temporary file while it exists, for the signal handler.
char g_temp_name[4096];

extern "C" void remove_temp_and_die(int sig) {
  if (g_temp_name[0] != '\0') ::unlink(g_temp_name);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void catch_fatal_signals() {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, remove_temp_and_die);
}

// Node memory the machine has left besides the text: the model is capped at
// it, so an oversized budget ends with a message rather than exhausting the
// system.
uint64_t model_memory_limit(uint64_t text_bytes) {
  const uint64_t machine = machine_memory_bytes();
  return machine > text_bytes ? machine - text_bytes : UINT64_MAX;
}

// Where the compressed bytes go while they are made: a temporary file next to
// the output, or a memory buffer for standard output.  reset() empties it for
// another attempt.
class Sink final : public RewindableSink {
 public:
  ~Sink() override { discard(); }

  bool write(std::span<const uint8_t> b) override {
    return std::fwrite(b.data(), 1, b.size(), f_) == b.size();
  }
  bool rewind() override { return reset(); }

  // Returns false with errno set when the temporary file cannot be created.
  bool open_file(const std::string& output) {
    const std::string pattern = output + ".XXXXXX";
    if (pattern.size() >= sizeof g_temp_name) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::memcpy(g_temp_name, pattern.c_str(), pattern.size() + 1);
    const int fd = ::mkstemp(g_temp_name);
    if (fd < 0) {
      g_temp_name[0] = '\0';
      return false;
    }
    temp_name_ = g_temp_name;
    f_ = ::fdopen(fd, "w+b");
    return f_ != nullptr;
  }

  bool open_memory() {
    f_ = ::open_memstream(&buf_, &len_);
    return f_ != nullptr;
  }

  std::FILE* file() const { return f_; }
  bool is_memory() const { return temp_name_.empty(); }

  bool reset() {
    if (is_memory()) {
      std::fclose(f_);
      std::free(buf_);
      buf_ = nullptr;
      len_ = 0;
      return open_memory();
    }
    std::rewind(f_);
    return ::ftruncate(::fileno(f_), 0) == 0;
  }

  // The bytes written so far.  False with errno set when they cannot be read.
  bool read_back(std::vector<uint8_t>& bytes) {
    if (std::fflush(f_) != 0) return false;
    if (is_memory()) {
      bytes.assign(buf_, buf_ + len_);
      return true;
    }
    std::rewind(f_);
    return read_all_bytes(f_, bytes);
  }

  // Memory: writes the buffer to standard output.  File: gives it `mode` and
  // renames it to `output` (refusing to replace an existing file unless
  // `replace`).  Returns false with errno set on failure.
  bool commit(const std::string& output, mode_t mode, bool replace) {
    if (std::fflush(f_) != 0) return false;
    if (is_memory()) return write_memory(output);
    if (::fchmod(::fileno(f_), mode) != 0 || ::fsync(::fileno(f_)) != 0) return false;
    const int closed = std::fclose(f_);
    f_ = nullptr;
    if (closed != 0) return false;
    struct stat st;
    if (!replace && ::lstat(output.c_str(), &st) == 0) {
      errno = EEXIST;
      return false;
    }
    if (std::rename(temp_name_.c_str(), output.c_str()) != 0) return false;
    temp_name_.clear();
    g_temp_name[0] = '\0';
    return true;
  }

  // Memory: the bytes go to standard output, or straight into `output` when
  // it names an existing special file.
  bool write_memory(const std::string& output) {
    const bool to_stdout = output.empty();
    std::FILE* const dest = to_stdout ? stdout : std::fopen(output.c_str(), "wb");
    if (dest == nullptr) return false;
    const bool written = std::fwrite(buf_, 1, len_, dest) == len_ && std::fflush(dest) == 0;
    const bool closed = to_stdout || std::fclose(dest) == 0;
    return written && closed;
  }

  void discard() {
    if (f_ != nullptr) std::fclose(f_);
    f_ = nullptr;
    std::free(buf_);
    buf_ = nullptr;
    if (!temp_name_.empty()) {
      ::unlink(temp_name_.c_str());
      g_temp_name[0] = '\0';
      temp_name_.clear();
    }
  }

 private:
  std::FILE* f_ = nullptr;
  std::string temp_name_;
  char* buf_ = nullptr;
  size_t len_ = 0;
};

// ---- input -----------------------------------------------------------------

// Reads the whole input.  Returns an exit status, or -1 on success.
int load_input(const Options& opt, std::FILE* in, std::vector<uint8_t>& text) {
  struct stat st;
  if (::fstat(::fileno(in), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<uint64_t>(st.st_size) <= MAX_TEXT_LENGTH)
    text.reserve(static_cast<size_t>(st.st_size));
  std::vector<uint8_t> buf(1 << 16);
  size_t got = 0;
  while ((got = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
    if (text.size() + got > MAX_TEXT_LENGTH) {
      std::fprintf(stderr, "tav_e: %s: longer than the format's limit of %" PRIu32 " bytes\n",
                   opt.input_label().c_str(), MAX_TEXT_LENGTH);
      return EXIT_BAD_INPUT;
    }
    text.insert(text.end(), buf.data(), buf.data() + got);
  }
  if (std::ferror(in)) {
    std::fprintf(stderr, "tav_e: %s: cannot read: %s\n", opt.input_label().c_str(),
                 std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  return -1;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// ---- progress ----------------------------------------------------------------

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Progress on standard error: on a terminal a line that rewrites itself, with
// -v elsewhere a line per second; nothing during the first second, so short
// runs stay silent.
class Progress {
 public:
  Progress(const Options& opt, uint64_t total)
      : label_(opt.input_label()), total_(total), tty_(::isatty(STDERR_FILENO) != 0) {
    enabled_ = opt.verbosity == Verbosity::verbose ||
               (opt.verbosity == Verbosity::normal && tty_);
  }

  void start(uint32_t order) {
    order_ = order;
    t0_ = std::chrono::steady_clock::now();
    next_ = 1.0;
  }

  void show(uint32_t position, long compressed) {
    if (!enabled_ || position == 0) return;
    const double secs = seconds_since(t0_);
    if (secs < next_) return;
    next_ = secs + (tty_ ? 0.25 : 1.0);
    std::fprintf(stderr, "%stav_e: %s: %5.1f%%, %.2f MB/s, %.3f bits/byte (order %u)%s",
                 tty_ ? "\r" : "", label_.c_str(), 100.0 * position / total_,
                 position / secs / 1e6, compressed > 0 ? 8.0 * compressed / position : 0.0, order_,
                 tty_ ? "\x1b[K" : "\n");
    shown_ = true;
  }

  // Ends a rewriting line before any other message.
  void clear() {
    if (shown_ && tty_) std::fprintf(stderr, "\r\x1b[K");
    shown_ = false;
  }

 private:
  std::string label_;
  uint64_t total_;
  bool tty_;
  bool enabled_ = false;
  bool shown_ = false;
  uint32_t order_ = 0;
  std::chrono::steady_clock::time_point t0_;
  double next_ = 1.0;
};

// ---- compression ---------------------------------------------------------------

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
  std::FILE* in = stdin;
  if (!opt.from_stdin()) {
    in = std::fopen(opt.input.c_str(), "rb");
    if (in == nullptr) {
      std::fprintf(stderr, "tav_e: %s: cannot open: %s\n", opt.input.c_str(), std::strerror(errno));
      return EXIT_USAGE_OR_IO;
    }
  }
  struct stat in_st {};
  const bool in_is_file = ::fstat(::fileno(in), &in_st) == 0 && S_ISREG(in_st.st_mode);
  if (in_st.st_mode != 0 && S_ISDIR(in_st.st_mode)) {
    std::fprintf(stderr, "tav_e: %s: is a directory\n", opt.input_label().c_str());
    return EXIT_USAGE_OR_IO;
  }
  Sink sink;
  // An output that exists and is no regular file (/dev/null, a FIFO, a
  // terminal) is written in place: a temporary file renamed over it would
  // replace the device itself.
  struct stat out_st {};
  const bool out_is_special = !opt.to_stdout() && ::stat(opt.output.c_str(), &out_st) == 0 &&
                              !S_ISREG(out_st.st_mode);
  if (out_is_special && S_ISDIR(out_st.st_mode)) {
    std::fprintf(stderr, "tav_e: %s: is a directory\n", opt.output.c_str());
    return EXIT_USAGE_OR_IO;
  }
  if (out_is_special) {
    if (!sink.open_memory()) {
      std::fprintf(stderr, "tav_e: %s: no memory for the output\n", opt.input_label().c_str());
      return EXIT_USAGE_OR_IO;
    }
  } else if (!opt.to_stdout()) {
    if (!opt.from_stdin() && same_file(opt.input, opt.output)) {
      std::fprintf(stderr, "tav_e: %s: the output is the input itself\n", opt.output.c_str());
      return EXIT_USAGE_OR_IO;
    }
    struct stat st;
    if (!opt.force && ::lstat(opt.output.c_str(), &st) == 0) {
      std::fprintf(stderr, "tav_e: %s: already exists; use -f to overwrite\n", opt.output.c_str());
      return EXIT_USAGE_OR_IO;
    }
    catch_fatal_signals();
    if (!sink.open_file(opt.output)) {
      std::fprintf(stderr, "tav_e: %s: cannot create: %s\n", opt.output.c_str(),
                   std::strerror(errno));
      return EXIT_USAGE_OR_IO;
    }
  } else if (!sink.open_memory()) {
    std::fprintf(stderr, "tav_e: %s: no memory for the output\n", opt.input_label().c_str());
    return EXIT_USAGE_OR_IO;
  }

  std::vector<uint8_t> text;
  const int loaded = load_input(opt, in, text);
  if (in != stdin) std::fclose(in);
  if (loaded >= 0) return loaded;
  const uint64_t memory_limit = model_memory_limit(text.size());

  const auto t0 = std::chrono::steady_clock::now();
  Progress progress(opt, text.size());
  if (opt.verbosity == Verbosity::verbose)
    std::fprintf(stderr, "tav_e: %s: %zu bytes, order %u, %uM budget%s\n", opt.input_label().c_str(),
                 text.size(), opt.order, opt.memory_mb, opt.verify ? ", verify" : "");

  FallbackObserver observer;
  observer.attempt_starts = [&](uint32_t order) { progress.start(order); };
  observer.progress = [&](uint32_t p, uint64_t written) { progress.show(p, static_cast<long>(written)); };
  observer.attempt_failed = [&](const FailedAttempt& a) {
    progress.clear();
    if (normal)
      std::fprintf(stderr, "tav_e: order %u cannot code '%s' at byte %" PRIu32 " (%s); trying another order\n",
                   a.order, opt.input_label().c_str(), a.position, describe(a.status));
  };
  const FallbackResult f =
      encode_with_fallback(text, {opt.order, opt.memory_mb, memory_limit}, sink, observer);
  progress.clear();
  const EncodeResult& r = f.result;
  const uint32_t order = f.order;
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
  const uint64_t out_bytes = HEADER_BYTES + r.stream_bytes;

  if (opt.verify) {
    std::vector<uint8_t> written;
    const std::string problem = !sink.read_back(written)
                                    ? std::string("cannot read the result back")
                                    : verify_container(written, text, memory_limit);
    if (!problem.empty()) {
      std::fprintf(stderr, "tav_e: %s: verification failed: %s; no output written\n",
                   opt.input_label().c_str(), problem.c_str());
      return EXIT_BAD_INPUT;
    }
  }
  const mode_t mode = in_is_file ? (in_st.st_mode & 07777) : [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  if (!sink.commit(opt.output, mode, opt.force)) {
    std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(),
                 std::strerror(errno));
    return EXIT_USAGE_OR_IO;
  }
  if (normal) {
    const double secs = seconds_since(t0);
    const double bpb = text.empty() ? 0.0 : 8.0 * out_bytes / text.size();
    std::fprintf(stderr,
                 "tav_e: %s -> %s: %zu -> %" PRIu64 " bytes, %.3f bits/byte, %.3fs (%.2f MB/s)\n",
                 opt.input_label().c_str(), opt.output_label().c_str(), text.size(), out_bytes,
                 bpb, secs, secs > 0 ? text.size() / secs / 1e6 : 0.0);
    std::fprintf(stderr, "tav_e: order %u%s, %uM budget, %" PRIu64 "k of node memory used%s\n",
                 order, order == opt.order ? "" : " (the requested order cannot code this input)",
                 opt.memory_mb, uint64_t{r.pages_used} * 4096 / 1024,
                 opt.verify ? ", verified" : "");
  }
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
