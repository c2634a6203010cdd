// tav_d: restores one compressed file.
//
// Run: numeric mode, banner, arguments, header, TextBuffer, output file, four
// information lines, model, decoding loop with a progress line at most every
// 500 ms (checked every 512 bytes), then the closing report:
//   "You'd just wasted %i.%03is; %ik of reserved memory left unused.\n"
//   "%6i %5ik/%4ik %i.%03is\n"  (compressed bytes, node pages, unused, time)
// Exit status: 0 on success, 1 for usage and file errors, 2 for a damaged or
// unsupported compressed file.  Each failure prints its fixed message on
// standard output and one line on standard error that names the file and the
// reason, for scripts that keep standard output for the report.
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "byte_io.h"
#include "container.h"
#include "decode_loop.h"
#include "output_name.h"
#include "system_memory.h"

namespace {

using namespace tav;

constexpr int EXIT_USAGE_OR_IO = 1;
constexpr int EXIT_BAD_INPUT = 2;

uint32_t tick_ms() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The standard-error line of a failure: "tav_d: <file>: <reason>".
void explain(const std::string& file, const std::string& reason) {
  std::fflush(stdout);
  std::fprintf(stderr, "tav_d: %s: %s\n", file.c_str(), reason.c_str());
}

[[noreturn]] void stop(int status) {
  std::fflush(stdout);
  std::exit(status);
}

bool same_file(const char* a, const char* b) {
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

struct Run {
  std::string input_name;
  std::vector<uint8_t> file;  // the whole compressed file
  ContainerHeader header;
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  std::string output_name;
  Model model;
  uint32_t start_time = 0;

  static uint64_t compressed_position(uint64_t stream_bytes) { return HEADER_BYTES + stream_bytes; }

  void show_progress(uint32_t p, uint64_t stream_bytes) const {
    std::printf("\rInp=%" PRIu32 "/%" PRIu32 " Out=%" PRIu64 " M%" PRIu32, p, header.text_length,
                compressed_position(stream_bytes), model.store.pages_used() * 4096u);
    std::fflush(stdout);
  }
};

// A header may name more text or node memory than this machine has.  Text
// that cannot fit is refused before any work.  A budget that cannot fit is
// allowed (a file rarely uses all of it) but capped at what the machine can
// give, so a model that outgrows the machine ends with the block-refusal
// message instead of exhausting the system.
void check_machine_memory(const ContainerHeader& h, const std::string& name, NodeStore& store) {
  const uint64_t machine = machine_memory_bytes();
  if (machine == 0) return;
  if (h.text_length >= machine) {
    std::printf("The decoded text needs %" PRIu32 " bytes; this machine has %" PRIu64 " MB.\n",
                h.text_length, machine >> 20);
    explain(name, "the decoded text would not fit in this machine's memory");
    stop(EXIT_USAGE_OR_IO);
  }
  const uint64_t room = machine - h.text_length;
  if ((uint64_t{h.memory_mb} << 20) > room) {
    std::fprintf(stderr,
                 "tav_d: %s: warning: the node budget of %" PRIu32 "M exceeds the %" PRIu64
                 " MB this machine can give; decoding stops with a message if the model needs more\n",
                 name.c_str(), h.memory_mb, room >> 20);
    store.set_system_memory_limit(room);
  }
}

// Header values this build cannot decode (container.h says which), then the
// machine's memory; checked before any output exists.
void check_header(const ContainerHeader& h, const std::string& name, NodeStore& store) {
  const HeaderFault fault = tav::check_header(h);
  if (fault != HeaderFault::none) {
    std::printf("%s\n", header_fault_message(fault, h).c_str());
    explain(name, header_fault_reason(fault, h));
    stop(EXIT_BAD_INPUT);
  }
  check_machine_memory(h, name, store);
}

// The decoder's stopping points other than a complete run.  The decoded text
// so far is already in the output file.
void report_failure(const Run& run, const StreamResult& r, int write_error) {
  if (r.status == ByteStatus::output_failed) {
    std::printf("\nCannot write output file.\n");
    explain(run.output_name, std::string("cannot write: ") + std::strerror(write_error));
    stop(EXIT_USAGE_OR_IO);
  }
  if (r.status == ByteStatus::out_of_memory) {
    std::printf("\nFailed to allocate a block :(\n");
    explain(run.input_name, "not enough memory for the model (the system refused node memory at position " +
                                std::to_string(r.position) + ", with " +
                                std::to_string(run.model.store.blocks_reserved()) + " MB in use)");
    std::fclose(run.out);
    stop(EXIT_USAGE_OR_IO);
  }
  std::printf("\nDamaged compressed file: %s at position %" PRIu32
              " (compressed byte %" PRIu64 "); the %" PRIu32 " bytes before it were written.\n",
              describe(r.status), r.position, Run::compressed_position(r.stream_bytes), r.position);
  explain(run.input_name, std::string("damaged: ") + describe(r.status) + " at position " +
                              std::to_string(r.position));
  std::fclose(run.out);
  stop(EXIT_BAD_INPUT);
}

void decode_all(Run& run, uint8_t* text) {
  FileSink out(run.out);
  uint32_t next_progress_time = run.start_time;
  const StreamResult r =
      decode_stream(run.model, run.header, split_container(run.file).stream, text, &out,
                    [&](uint32_t p, uint64_t stream_bytes) {
                      const uint32_t now = tick_ms();
                      if (now >= next_progress_time) {
                        next_progress_time = now + 500;
                        run.show_progress(p, stream_bytes);
                      }
                    });
  if (r.status != ByteStatus::ok) report_failure(run, r, out.error);

  const uint32_t elapsed = tick_ms() - run.start_time;
  run.show_progress(run.header.text_length, r.stream_bytes);
  std::printf("\n");
  const uint32_t unused = run.model.store.unused_reserved_bytes();
  std::printf("You'd just wasted %" PRIu32 ".%03" PRIu32 "s; %" PRIu32
              "k of reserved memory left unused.\n",
              elapsed / 1000, elapsed % 1000, unused >> 10);
  std::printf("%6" PRIu64 " %5" PRIu32 "k/%4" PRIu32 "k %" PRIu32 ".%03" PRIu32 "s\n",
              Run::compressed_position(r.stream_bytes), run.model.store.pages_used() * 4096u / 1000,
              unused / 1000, elapsed / 1000, elapsed % 1000);
}

int decode_file(int argc, char** argv) {
  if (!set_numeric_mode()) {
    std::printf("Cannot set the floating-point rounding mode.\n");
    return EXIT_USAGE_OR_IO;
  }
  std::printf("tav_d - decoder for tav context-mixing compressed files\n");
  if (argc < 2) {
    std::printf("Usage: tav_d <compressedfile> [<destination>]\n\n");
    return EXIT_USAGE_OR_IO;
  }
  Run run;
  run.in = std::fopen(argv[1], "rb");
  if (run.in == nullptr) {
    const int err = errno;
    std::printf("Cannot open compressed file.\n");
    explain(argv[1], std::string("cannot open: ") + std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }
  run.input_name = argv[1];
  if (!read_all_bytes(run.in, run.file)) {
    const int err = errno;
    std::printf("Cannot read compressed file.\n");
    explain(run.input_name, std::string("cannot read: ") + std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }
  std::fclose(run.in);
  run.header = split_container(run.file).header;
  check_header(run.header, run.input_name, run.model.store);

  // calloc: zero pages are mapped lazily, so a long text costs memory only as
  // it is decoded.
  auto* const text = static_cast<uint8_t*>(std::calloc(run.header.text_length + 1u, 1));
  if (text == nullptr) {
    std::printf("Cannot allocate %" PRIu32 " bytes for the decoded text.\n",
                run.header.text_length);
    explain(run.input_name, "no memory for the decoded text");
    return EXIT_USAGE_OR_IO;
  }

  run.output_name = argc >= 3 ? std::string(argv[2]) : make_output_name(argv[1]);
  if (same_file(argv[1], run.output_name.c_str())) {
    std::printf("Output file \"%s\" is the compressed file itself; name another destination.\n",
                run.output_name.c_str());
    explain(run.output_name, "is the compressed file itself");
    return EXIT_USAGE_OR_IO;
  }
  run.out = std::fopen(run.output_name.c_str(), "wb");
  if (run.out == nullptr) {
    const int err = errno;
    std::printf("Cannot create output file.\n");
    explain(run.output_name, std::string("cannot create: ") + std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }

  std::printf(" \376  Input file: \"%s\"\n", argv[1]);
  std::printf(" \376 Output file: \"%s\"\n", run.output_name.c_str());
  std::printf(" \376 Using model order %i.\n", static_cast<int32_t>(run.header.level_limit - 1));
  std::printf(" \376 Using %" PRIu32 "M of RAM.\n", run.header.memory_mb);

  run.start_time = tick_ms();
  decode_all(run, text);

  if (std::fclose(run.out) != 0) {
    const int err = errno;
    std::printf("Cannot write output file.\n");
    explain(run.output_name, std::string("cannot write: ") + std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return decode_file(argc, argv); }
