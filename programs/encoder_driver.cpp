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

#include "decoder_types.h"
#include "encode_stream.h"
#include "encoder_options.h"
#include "encoder_progress.h"
#include "settings.h"
#include "system_memory.h"
#include "verify_container.h"

namespace {

using namespace tav;

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

// The model needs a block the machine cannot give: no partial output is left.
void refuse_model_memory() {
  if (g_temp_name[0] != '\0') ::unlink(g_temp_name);
  std::fprintf(stderr, "tav_e: not enough memory for the model; use a smaller --memory budget\n");
  std::exit(EXIT_USAGE_OR_IO);
}

// Caps node memory at what the machine has left besides the text, so an
// oversized budget ends with a message rather than exhausting the system.
void limit_model_memory(uint64_t text_bytes) {
  NodeStore::set_block_refusal_handler(refuse_model_memory);
  const uint64_t machine = machine_memory_bytes();
  if (machine > text_bytes) NodeStore::set_system_memory_limit(machine - text_bytes);
}

// Where the compressed bytes go while they are made: a temporary file next to
// the output, or a memory buffer for standard output.  reset() empties it for
// another attempt.
class Sink {
 public:
  ~Sink() { discard(); }

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

  // A readable stream over the bytes written so far, from the start; the
  // caller closes it (for a file it is the same stream: do not close it).
  std::FILE* reader() {
    if (std::fflush(f_) != 0) return nullptr;
    if (is_memory()) return ::fmemopen(buf_, len_, "rb");
    std::rewind(f_);
    return f_;
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
  limit_model_memory(text.size());

  const auto t0 = std::chrono::steady_clock::now();
  Progress progress(opt, text.size());
  if (opt.verbosity == Verbosity::verbose)
    std::fprintf(stderr, "tav_e: %s: %zu bytes, order %u, %uM budget%s\n", opt.input_label().c_str(),
                 text.size(), opt.order, opt.memory_mb, opt.verify ? ", verify" : "");

  for (const uint32_t order : fallback_orders(opt.order)) {
    if (order != opt.order && !sink.reset()) {
      std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(),
                   std::strerror(errno));
      return EXIT_USAGE_OR_IO;
    }
    ContainerHeader h;
    h.text_length = static_cast<uint32_t>(text.size());
    h.level_limit = order + 1;
    h.memory_mb = opt.memory_mb;
    EncodeResult r;
    progress.start(order);
    {
      Model model;
      std::FILE* const out = sink.file();
      r = encode_stream(model, h, text.data(), out,
                        [&](uint32_t p) { progress.show(p, std::ftell(out)); });
    }
    progress.clear();
    if (r.status == EncodeStatus::io_error) {
      std::fprintf(stderr, "tav_e: %s: cannot write: %s\n", opt.output_label().c_str(),
                   std::strerror(errno));
      return EXIT_USAGE_OR_IO;
    }
    if (r.status != EncodeStatus::ok) {
      if (normal)
        std::fprintf(stderr, "tav_e: order %u cannot code '%s' at byte %" PRIu32 " (%s); trying another order\n",
                     order, opt.input_label().c_str(), r.position, describe(r.status));
      continue;
    }
    const uint64_t out_bytes = HEADER_BYTES + r.stream_bytes;

    if (opt.verify) {
      std::FILE* const rd = sink.reader();
      const std::string problem = rd == nullptr ? std::string("cannot read the result back")
                                                : verify_container(rd, text.data(),
                                                                   h.text_length, out_bytes);
      if (rd != nullptr && sink.is_memory()) std::fclose(rd);
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
    if (normal)
      print_report(opt, RunReport{text.size(), out_bytes, order, r.pages_used, seconds_since(t0)});
    return EXIT_OK;
  }
  std::fprintf(stderr, "tav_e: %s: no order can code it with a %uM budget\n",
               opt.input_label().c_str(), opt.memory_mb);
  return EXIT_BAD_INPUT;
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
