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
//
// Arguments after the destination are ignored, as they always were.  The text
// is decoded into a temporary file (output_file.h) that takes the compressed
// file's permissions and replaces the destination only once it is complete:
// a failed run never destroys an existing file.  The text decoded before a
// damaged position is kept where nothing was (see keep_partial_text).
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
#include "output_file.h"
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

struct Run {
  std::string input_name;
  std::vector<uint8_t> file;  // the whole compressed file
  ContainerHeader header;
  std::FILE* in = nullptr;
  mode_t mode = 0;  // the compressed file's permissions, which the output takes
  OutputFile out;
  // In place through a symlink to a regular file: its old bytes stay until
  // the text is complete, so nothing is written while decoding.
  bool deferred = false;
  std::string output_name;
  uint32_t decoded = 0;  // positions decoded; text_length after a complete run
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
// message instead of exhausting the system.  Returns an exit status, or -1 to
// go on.
int check_machine_memory(const ContainerHeader& h, const std::string& name, NodeStore& store) {
  const uint64_t machine = machine_memory_bytes();
  if (machine == 0) return -1;
  if (h.text_length >= machine) {
    std::printf("The decoded text needs %" PRIu32 " bytes; this machine has %" PRIu64 " MB.\n",
                h.text_length, machine >> 20);
    explain(name, "the decoded text would not fit in this machine's memory");
    return EXIT_USAGE_OR_IO;
  }
  const uint64_t room = machine - h.text_length;
  if ((uint64_t{h.memory_mb} << 20) > room) {
    std::fprintf(stderr,
                 "tav_d: %s: warning: the node budget of %" PRIu32 "M exceeds the %" PRIu64
                 " MB this machine can give; decoding stops with a message if the model needs more\n",
                 name.c_str(), h.memory_mb, room >> 20);
    store.set_system_memory_limit(room);
  }
  return -1;
}

// Header values this build cannot decode (container.h says which), then the
// machine's memory; checked before any output exists.  Returns an exit
// status, or -1 when the header can be decoded.
int check_header(const ContainerHeader& h, const std::string& name, NodeStore& store) {
  const HeaderFault fault = tav::check_header(h);
  if (fault != HeaderFault::none) {
    std::printf("%s\n", header_fault_message(fault, h).c_str());
    explain(name, header_fault_reason(fault, h));
    return EXIT_BAD_INPUT;
  }
  return check_machine_memory(h, name, store);
}

// The text decoded before a damaged position goes where nothing was: to a
// destination that did not exist, else to a new name beside it, so that a
// failed decode never destroys a file.  `why` starts the standard-error line,
// which then says where the text went.
void keep_partial_text(Run& run, const uint8_t* text, const std::string& why) {
  const uint32_t n = run.decoded;
  if (run.out.in_place() && !run.deferred) {  // a device: the bytes are there already
    run.out.commit(run.mode);
    explain(run.input_name, why);
    return;
  }
  const std::string count = std::to_string(n);
  if (!run.out.existed()) {
    int err = run.deferred ? run.out.rewrite(text, n) : 0;
    if (err == 0) err = run.out.commit(run.mode, false);
    if (err == 0) {
      explain(run.input_name, why + "; the " + count + " bytes before it are in " + run.output_name);
      return;
    }
    if (err != EEXIST) {  // EEXIST: someone created it meanwhile; keep theirs
      explain(run.input_name, why + "; the " + count + " bytes before it are lost: " + std::strerror(err));
      return;
    }
  }
  run.out.discard();
  const std::string kept = write_new_file(run.output_name + ".partial", text, n, run.mode);
  explain(run.input_name,
          why + "; " + run.output_name + " was left as it was, the " + count + " bytes before it " +
              (kept.empty() ? std::string("are lost: ") + std::strerror(errno) : "are in " + kept));
}

// The decoder's stopping points other than a complete run; the text decoded
// before them is kept as keep_partial_text says.  Returns an exit status.
int report_failure(Run& run, const uint8_t* text, const StreamResult& r, int write_error) {
  if (r.status == ByteStatus::output_failed) {
    std::printf("\nCannot write output file.\n");
    explain(run.output_name, std::string("cannot write: ") + std::strerror(write_error));
    return EXIT_USAGE_OR_IO;
  }
  if (r.status == ByteStatus::out_of_memory) {
    std::printf("\nFailed to allocate a block :(\n");
    keep_partial_text(run, text,
                      "not enough memory for the model (the system refused node memory at position " +
                          std::to_string(r.position) + ", with " +
                          std::to_string(run.model.store.blocks_reserved()) + " MB in use)");
    return EXIT_USAGE_OR_IO;
  }
  std::printf("\nDamaged compressed file: %s at position %" PRIu32
              " (compressed byte %" PRIu64 "); the %" PRIu32 " bytes before it were written.\n",
              describe(r.status), r.position, Run::compressed_position(r.stream_bytes), r.position);
  keep_partial_text(run, text, std::string("damaged: ") + describe(r.status) + " at position " +
                                   std::to_string(r.position));
  return EXIT_BAD_INPUT;
}

// Returns an exit status.
int decode_all(Run& run, uint8_t* text) {
  // An output written in place over a regular file gets the text only once
  // it is complete.
  FileSink out(run.deferred ? nullptr : run.out.stream());
  uint32_t next_progress_time = run.start_time;
  const StreamResult r =
      decode_stream(run.model, run.header, split_container(run.file).stream, text,
                    run.deferred ? nullptr : &out, [&](uint32_t p, uint64_t stream_bytes) {
                      const uint32_t now = tick_ms();
                      if (now >= next_progress_time) {
                        next_progress_time = now + 500;
                        run.show_progress(p, stream_bytes);
                      }
                    });
  run.decoded = r.position;
  if (r.status != ByteStatus::ok) return report_failure(run, text, r, out.error);

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
  return 0;
}

// Opens the compressed file and reads and checks its header.  Returns an exit
// status, or -1 to go on.
int open_compressed(Run& run, const char* name) {
  run.in = std::fopen(name, "rb");
  if (run.in == nullptr) {
    const int err = errno;
    std::printf("Cannot open compressed file.\n");
    explain(name, std::string("cannot open: ") + std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }
  // fopen accepts a directory, and reading it would look like an empty file.
  struct stat st {};
  if (::fstat(::fileno(run.in), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::printf("Cannot open compressed file.\n");
    explain(name, "is a directory");
    return EXIT_USAGE_OR_IO;
  }
  run.mode = st.st_mode & 07777;
  run.input_name = name;
  if (!read_all_bytes(run.in, run.file)) {
    const int err = errno;
    std::printf("Cannot read compressed file.\n");
    explain(run.input_name, std::string("cannot read: ") + std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }
  run.header = split_container(run.file).header;
  return check_header(run.header, run.input_name, run.model.store);
}

// Puts the complete text at the destination.  Returns an exit status.
int finish_output(Run& run, const uint8_t* text) {
  int err = run.deferred ? run.out.rewrite(text, run.decoded) : 0;
  if (err == 0) err = run.out.commit(run.mode);
  if (err == 0) return 0;
  std::printf("Cannot write output file.\n");
  explain(run.output_name, std::string("cannot write: ") + std::strerror(err));
  return EXIT_USAGE_OR_IO;
}

// Returns 0 or an errno value.
int open_output(Run& run) {
  if (const int err = run.out.open(run.output_name, true); err != 0) return err;
  run.deferred = run.out.in_place_regular();
  return run.out.stream() == nullptr ? errno : 0;
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
  if (const int status = open_compressed(run, argv[1]); status >= 0) return status;

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
  if (same_file(::fileno(run.in), run.output_name)) {
    std::printf("Output file \"%s\" is the compressed file itself; name another destination.\n",
                run.output_name.c_str());
    explain(run.output_name, "is the compressed file itself");
    return EXIT_USAGE_OR_IO;
  }
  catch_fatal_signals();
  // An existing destination is replaced, but only once the text is complete.
  if (const int err = open_output(run); err != 0) {
    std::printf("Cannot create output file.\n");
    explain(run.output_name, std::string("cannot create: ") + std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }

  std::printf(" \376  Input file: \"%s\"\n", argv[1]);
  std::printf(" \376 Output file: \"%s\"\n", run.output_name.c_str());
  std::printf(" \376 Using model order %i.\n", static_cast<int32_t>(run.header.level_limit - 1));
  std::printf(" \376 Using %" PRIu32 "M of RAM.\n", run.header.memory_mb);

  run.start_time = tick_ms();
  const int decoded = decode_all(run, text);
  std::fclose(run.in);
  return decoded != 0 ? decoded : finish_output(run, text);
}

}  // namespace

int main(int argc, char** argv) {
  const int status = decode_file(argc, argv);
  std::fflush(stdout);
  return status;
}
