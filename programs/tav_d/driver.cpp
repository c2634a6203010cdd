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
// file's attributes and replaces the destination only once it is complete:
// a failed run never destroys an existing file.  The text decoded before a
// damaged position is kept where nothing was (see keep_partial_text).
//
// A file of members (member_decode.h) decodes member by member; a member
// whose checks fail, or trailers that do not add up, end the run as a
// damaged file.  A one-member file prints exactly what a plain file does.
// With several members the information lines are those of the first member,
// the progress line runs over the whole text (Out: the compressed bytes the
// members in progress and done have consumed), and the report gives the
// whole file's size and the node memory of the member whose model used the
// most.  Several members are decoded side by side (parallel_members.h: one
// thread per core, as many as fit in a quarter of the machine's memory), their
// text written in file order; a one-member or plain file is decoded on the
// main thread, as it always was.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "byte_io.h"
#include "decode_run.h"
#include "fault_text.h"
#include "output_file.h"
#include "output_name.h"

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
  FilePlan plan;              // its members (one for a plain file)
  DecodePlan run_plan;        // threads and node memory of the decoding
  ContainerHeader header;     // of the first member
  std::FILE* in = nullptr;
  struct stat source {};  // the compressed file, whose attributes the output takes
  OutputFile out;
  // In place through /proc (/dev/stdout) to a regular file: its old bytes
  // stay until the text is complete, so nothing is written while decoding.
  bool deferred = false;
  std::string output_name;
  uint64_t decoded = 0;  // text bytes written; the whole text after a complete run
  uint32_t start_time = 0;

  // `file_position`: the compressed bytes consumed, header included.
  void show_progress(uint64_t p, uint64_t file_position, uint32_t pages_used) const {
    std::printf("\rInp=%" PRIu64 "/%" PRIu64 " Out=%" PRIu64 " M%" PRIu32, p, plan.text_bytes,
                file_position, pages_used * 4096u);
    std::fflush(stdout);
  }
};

// A header may name more text or node memory than this machine has.  Text
// that cannot fit is refused before any work.  A budget that cannot fit is
// allowed (a file rarely uses all of it): the run's plan caps each model at
// what the machine can give, so a model that outgrows the machine ends with
// the block-refusal message instead of exhausting the system.  Returns an
// exit status, or -1 to go on.
int check_machine_memory(const Run& run) {
  const uint64_t machine = run.run_plan.machine_bytes;
  const uint64_t text_bytes = run.plan.text_bytes;
  if (machine == 0) return -1;
  if (text_bytes >= machine) {
    std::printf("The decoded text needs %" PRIu64 " bytes; this machine has %" PRIu64 " MB.\n",
                text_bytes, machine >> 20);
    explain(run.input_name, "the decoded text would not fit in this machine's memory");
    return EXIT_USAGE_OR_IO;
  }
  const uint64_t room = run.run_plan.node_room;
  if ((uint64_t{run.header.memory_mb} << 20) > room)
    std::fprintf(stderr,
                 "tav_d: %s: warning: the node budget of %" PRIu32 "M exceeds the %" PRIu64
                 " MB this machine can give; decoding stops with a message if the model needs more\n",
                 run.input_name.c_str(), run.header.memory_mb, room >> 20);
  return -1;
}

// Header values this build cannot decode, in every member, then the
// machine's memory; checked before any output exists.  Returns an exit
// status, or -1 when the file can be decoded.
int check_headers(Run& run) {
  if (const auto e = check_file(run.plan, PlainFiles::accept_any)) {
    std::printf("%s\n", header_fault_message(e->header_fault, e->header).c_str());
    explain(run.input_name, header_fault_reason(e->header_fault, e->header));
    return EXIT_BAD_INPUT;
  }
  run.run_plan = plan_decoding(run.file, run.plan, {}, true);
  return check_machine_memory(run);
}

// A plain file decodes as it always has, but nothing can tell whether its
// text is the one that was compressed: say so where scripts look.
void warn_unchecked(const Run& run) {
  if (!run.plan.checked)
    std::fprintf(stderr, "tav_d: %s: warning: no trailer, so the decoded text cannot be checked\n",
                 run.input_name.c_str());
}

// Trailers that do not add up: refused before any output exists.
int report_damaged_index(const Run& run, const MemberDamage& d) {
  std::printf("Damaged compressed file: %s at position %" PRIu64 " of the compressed file.\n",
              describe(d.fault), d.offset);
  explain(run.input_name,
          std::string("damaged: ") + describe(d.fault) + " at position " + std::to_string(d.offset));
  return EXIT_BAD_INPUT;
}

// The text decoded before a damaged position goes where nothing was: to a
// destination that did not exist, else to a new name beside it, so that a
// failed decode never destroys a file.  `why` starts the standard-error line,
// which then says where the text went.
void keep_partial_text(Run& run, const uint8_t* text, const std::string& why) {
  const uint64_t n = run.decoded;
  if (run.out.in_place() && !run.deferred) {  // a device: the bytes are there already
    run.out.commit_partial(run.source);
    explain(run.input_name, why);
    return;
  }
  const std::string count = std::to_string(n);
  if (!run.out.existed()) {
    int err = run.deferred ? run.out.rewrite(text, n) : 0;
    if (err == 0) err = run.out.commit_partial(run.source);
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
  const std::string kept = write_new_file(run.output_name + ".partial", text, n, run.source);
  explain(run.input_name,
          why + "; " + run.output_name + " was left as it was, the " + count + " bytes before it " +
              (kept.empty() ? std::string("are lost: ") + std::strerror(errno) : "are in " + kept));
}

// A member whose checks failed once its text was decoded: the text of the
// members before it is kept.  Returns an exit status.
int report_member_damage(Run& run, const uint8_t* text, const RunError& e) {
  std::printf("\nDamaged compressed file: %s at position %" PRIu64
              " of the compressed file; the %" PRIu64 " bytes before it were written.\n",
              describe(e.member_fault), e.file_offset, run.decoded);
  keep_partial_text(run, text, std::string("damaged: ") + describe(e.member_fault) + " at position " +
                                   std::to_string(e.file_offset));
  return EXIT_BAD_INPUT;
}

// The decoder's stopping points other than a complete run; the text decoded
// before them is kept as keep_partial_text says.  Returns an exit status.
int report_failure(Run& run, const uint8_t* text, const RunError& e) {
  if (e.fault == RunFault::damaged && e.member_fault != MemberFault::none)
    return report_member_damage(run, text, e);
  if (e.fault == RunFault::write) {
    std::printf("\nCannot write output file.\n");
    explain(run.output_name, std::string("cannot write: ") + std::strerror(e.error));
    return EXIT_USAGE_OR_IO;
  }
  if (e.fault == RunFault::out_of_memory) {
    std::printf("\nFailed to allocate a block :(\n");
    keep_partial_text(run, text,
                      "not enough memory for the model (the system refused node memory at position " +
                          std::to_string(run.decoded) + ", with " + std::to_string(e.blocks_reserved) +
                          " MB in use)");
    return EXIT_USAGE_OR_IO;
  }
  const std::string reason = damage_reason(e, run.plan.checked);
  std::printf("\nDamaged compressed file: %s at position %" PRIu64
              " (compressed byte %" PRIu64 "); the %" PRIu64 " bytes before it were written.\n",
              reason.c_str(), run.decoded, e.file_offset, run.decoded);
  keep_partial_text(run, text, "damaged: " + reason + " at position " + std::to_string(e.file_offset));
  return EXIT_BAD_INPUT;
}

// Returns an exit status.
int decode_all(Run& run, uint8_t* text) {
  uint32_t next_progress_time = run.start_time;
  const FileProgress progress = [&](uint64_t p, uint64_t file_position, uint32_t pages_used) {
    const uint32_t now = tick_ms();
    if (now >= next_progress_time) {
      next_progress_time = now + 500;
      run.show_progress(p, file_position, pages_used);
    }
  };
  // An output written in place over a regular file gets the text only once
  // it is complete.
  FileSink out(run.deferred ? nullptr : run.out.stream());
  DecodeTarget target;
  target.whole_text = text;
  target.progress = progress;
  if (!run.deferred)
    target.write = [&](std::span<const uint8_t> piece) {
      if (out.write(piece)) return true;
      errno = out.error;
      return false;
    };
  const DecodeOutcome f = decode_run(run.file, run.run_plan, target);
  run.decoded = f.text_written;
  if (f.failure) return report_failure(run, text, *f.failure);

  const uint32_t elapsed = tick_ms() - run.start_time;
  // One member: the bytes the decoder consumed, as for a plain file; several:
  // the whole file, every byte of which was checked.
  const uint64_t compressed = run.plan.members.size() == 1 ? f.last_stream_end : run.file.size();
  run.show_progress(run.plan.text_bytes, compressed, f.last_pages_used);
  std::printf("\n");
  const uint32_t unused = f.peak_unused_bytes;
  std::printf("You'd just wasted %" PRIu32 ".%03" PRIu32 "s; %" PRIu32
              "k of reserved memory left unused.\n",
              elapsed / 1000, elapsed % 1000, unused >> 10);
  std::printf("%6" PRIu64 " %5" PRIu32 "k/%4" PRIu32 "k %" PRIu32 ".%03" PRIu32 "s\n", compressed,
              f.peak_pages_used * 4096u / 1000, unused / 1000, elapsed / 1000, elapsed % 1000);
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
  run.source = st;
  run.input_name = name;
  if (!read_all_bytes(run.in, run.file)) {
    const int err = errno;
    std::printf("Cannot read compressed file.\n");
    explain(run.input_name, std::string("cannot read: ") + std::strerror(err));
    return EXIT_USAGE_OR_IO;
  }
  run.plan = plan_file(run.file);
  if (run.plan.damage) return report_damaged_index(run, *run.plan.damage);
  run.header = run.plan.members[0].header;
  return check_headers(run);
}

// Puts the complete text at the destination.  Returns an exit status.
int finish_output(Run& run, const uint8_t* text) {
  int err = run.deferred ? run.out.rewrite(text, run.decoded) : 0;
  if (err == 0) err = run.out.commit(run.source);
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
  auto* const text = static_cast<uint8_t*>(std::calloc(run.plan.text_bytes + 1u, 1));
  if (text == nullptr) {
    std::printf("Cannot allocate %" PRIu64 " bytes for the decoded text.\n",
                run.plan.text_bytes);
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
  std::printf(" \376 Using model order %i.\n", static_cast<int32_t>(run.header.order()));
  std::printf(" \376 Using %" PRIu32 "M of RAM.\n", run.header.memory_mb);

  warn_unchecked(run);
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
