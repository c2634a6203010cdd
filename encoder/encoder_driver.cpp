// tav_e: compresses one file into the container that tav_d reads.
//
//   tav_e <input> [<output>] [-o ORDER] [-m MB] [-h]
//
// The whole input is held in memory (the model reads earlier text through its
// successor positions).  The result is written to a temporary name next to the
// output and renamed on success, so a failed run leaves no partial file.
//
// Some inputs meet a limit of the format at some settings: a byte the model
// gives frequency 1 while the coder's range is small leaves a zero-width
// interval, after which no further byte can be coded.  The encoder notices it
// as it happens, abandons that setting and encodes again with the nearest
// order that works (order 0 last: its single weight keeps every frequency far
// above 1), and its report names the order used and why.
#include <sys/stat.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decoder_types.h"
#include "encode_stream.h"
#include "settings.h"

namespace {

using namespace tav;

constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE_OR_IO = 1;

const char* const USAGE =
    "Usage: tav_e <input> [<output>] [options]\n"
    "Compresses <input> into <output> (default: <input>.tav) for tav_d.\n"
    "Options:\n"
    "  -o, --order N    model order, 0..%u (default %u)\n"
    "  -m, --memory MB  node memory budget in MB, 1..%u (default %u)\n"
    "  -h, --help       show this text\n";

void print_usage(std::FILE* f) {
  std::fprintf(f, USAGE, MAX_ORDER, DEFAULT_ORDER, MAX_MEMORY_MB, DEFAULT_MEMORY_MB);
}

struct Options {
  std::string input, output;
  uint32_t order = DEFAULT_ORDER;
  uint32_t memory_mb = DEFAULT_MEMORY_MB;
};

bool parse_number(const char* s, uint32_t lo, uint32_t hi, uint32_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || s[0] == '-' || v < lo || v > hi) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// Returns -1 to go on, or an exit status.
int parse_args(int argc, char** argv, Options& opt) {
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      print_usage(stdout);
      return EXIT_OK;
    }
    const bool is_order = a == "-o" || a == "--order";
    const bool is_memory = a == "-m" || a == "--memory";
    if (is_order || is_memory) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tav_e: option %s needs a value\n", a.c_str());
        return EXIT_USAGE_OR_IO;
      }
      const char* v = argv[++i];
      const bool ok = is_order ? parse_number(v, 0, MAX_ORDER, opt.order)
                               : parse_number(v, 1, MAX_MEMORY_MB, opt.memory_mb);
      if (!ok) {
        std::fprintf(stderr, "tav_e: invalid value '%s' for %s (allowed: %u..%u)\n", v, a.c_str(),
                     is_order ? 0u : 1u, is_order ? MAX_ORDER : MAX_MEMORY_MB);
        return EXIT_USAGE_OR_IO;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "tav_e: unknown option '%s'\n", a.c_str());
      print_usage(stderr);
      return EXIT_USAGE_OR_IO;
    } else {
      names.push_back(a);
    }
  }
  if (names.empty() || names.size() > 2) {
    print_usage(stderr);
    return EXIT_USAGE_OR_IO;
  }
  opt.input = names[0];
  opt.output = names.size() == 2 ? names[1] : names[0] + ".tav";
  return -1;
}

bool load_input(const std::string& name, std::vector<uint8_t>& text) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "tav_e: cannot open '%s': %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  uint8_t buf[1 << 16];
  size_t got = 0;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (text.size() + got > MAX_TEXT_LENGTH) {
      std::fprintf(stderr, "tav_e: '%s' is larger than the format's limit of %" PRIu32 " bytes\n",
                   name.c_str(), MAX_TEXT_LENGTH);
      std::fclose(f);
      return false;
    }
    text.insert(text.end(), buf, buf + got);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) std::fprintf(stderr, "tav_e: cannot read '%s'\n", name.c_str());
  return !failed;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One attempt at one order into `tmp_name`.
EncodeResult attempt(const std::vector<uint8_t>& text, uint32_t order, uint32_t memory_mb,
                     const std::string& tmp_name) {
  std::FILE* out = std::fopen(tmp_name.c_str(), "wb");
  if (out == nullptr) return EncodeResult{EncodeStatus::io_error, 0, 0, 0};
  ContainerHeader h;
  h.text_length = static_cast<uint32_t>(text.size());
  h.level_limit = order + 1;
  h.memory_mb = memory_mb;
  Model model;
  const auto t0 = std::chrono::steady_clock::now();
  auto last_shown = t0;
  const bool show = text.size() >= (4u << 20);
  EncodeResult r = encode_stream(model, h, text.data(), out, [&](uint32_t p) {
    if (!show || seconds_since(last_shown) < 0.5) return;
    last_shown = std::chrono::steady_clock::now();
    std::fprintf(stderr, "\rtav_e: order %u: %5.1f%%", order, 100.0 * p / text.size());
  });
  if (show) std::fprintf(stderr, "\r%40s\r", "");
  if (std::fclose(out) != 0 && r.status == EncodeStatus::ok) r.status = EncodeStatus::io_error;
  return r;
}

int compress(const Options& opt) {
  if (!set_numeric_mode()) {
    std::fprintf(stderr, "tav_e: cannot set the floating-point rounding mode\n");
    return EXIT_USAGE_OR_IO;
  }
  std::vector<uint8_t> text;
  if (!load_input(opt.input, text)) return EXIT_USAGE_OR_IO;
  if (same_file(opt.input, opt.output)) {
    std::fprintf(stderr, "tav_e: output '%s' is the input itself\n", opt.output.c_str());
    return EXIT_USAGE_OR_IO;
  }
  const std::string tmp_name = opt.output + ".tmp";
  const auto t0 = std::chrono::steady_clock::now();

  for (const uint32_t order : fallback_orders(opt.order)) {
    const EncodeResult r = attempt(text, order, opt.memory_mb, tmp_name);
    if (r.status == EncodeStatus::io_error) {
      std::fprintf(stderr, "tav_e: cannot write '%s': %s\n", tmp_name.c_str(), std::strerror(errno));
      std::remove(tmp_name.c_str());
      return EXIT_USAGE_OR_IO;
    }
    if (r.status != EncodeStatus::ok) {
      std::fprintf(stderr,
                   "tav_e: order %u cannot code '%s' at byte %" PRIu32 " (%s); trying another order\n",
                   order, opt.input.c_str(), r.position, describe(r.status));
      continue;
    }
    if (std::rename(tmp_name.c_str(), opt.output.c_str()) != 0) {
      std::fprintf(stderr, "tav_e: cannot rename '%s' to '%s': %s\n", tmp_name.c_str(),
                   opt.output.c_str(), std::strerror(errno));
      std::remove(tmp_name.c_str());
      return EXIT_USAGE_OR_IO;
    }
    const double secs = seconds_since(t0);
    const uint64_t out_bytes = HEADER_BYTES + r.stream_bytes;
    const double bpb = text.empty() ? 0.0 : 8.0 * out_bytes / text.size();
    std::printf("%s -> %s: %zu -> %" PRIu64 " bytes, %.3f bits/byte, %.3fs (%.2f MB/s)\n",
                opt.input.c_str(), opt.output.c_str(), text.size(), out_bytes, bpb, secs,
                secs > 0 ? text.size() / secs / 1e6 : 0.0);
    std::printf("order %u%s, %uM budget, %" PRIu64 "k of node memory used\n", order,
                order == opt.order ? "" : " (the requested order cannot code this input)",
                opt.memory_mb, uint64_t{r.pages_used} * 4096 / 1024);
    return EXIT_OK;
  }
  std::remove(tmp_name.c_str());
  std::fprintf(stderr, "tav_e: no order can code '%s' with a %uM budget\n", opt.input.c_str(),
               opt.memory_mb);
  return EXIT_USAGE_OR_IO;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  const int early = parse_args(argc, argv, opt);
  if (early >= 0) return early;
  return compress(opt);
}
