// Decoding a whole compressed file, the same way for every entry point:
// check what its trailers and headers say (check_file), plan the run
// (run_plan.h), decode the members side by side and hand their texts over in
// order (decode_run), and say what went wrong as one RunError.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "member_decode.h"
#include "run_error.h"
#include "run_plan.h"

namespace tav {

// What a reader makes of a plain file (no trailer: the files of the first
// builds, or anything else, or a file of members cut short).  It carries no
// check, so only a reader asked for it takes one.
enum class PlainFiles {
  refuse,        // not_compressed
  accept_whole,  // a plain file with a whole header
  accept_any,    // also one shorter than its header (initial field values)
};

// Trailers that add up and headers this build can decode, in every member,
// and a plain file only as `plain` says; the first fault otherwise (damaged
// with the member fault and its offset, header with the header at fault, or
// not_compressed).
std::optional<RunError> check_file(const FilePlan& plan, PlainFiles plain);

struct DecodeTarget {
  // Calling thread, in order: text whose member passed its checks (a plain
  // file's text as it is decoded), or once the text before a stream fault.
  // False with errno set stops the run as a write failure.
  std::function<bool(std::span<const uint8_t> text)> write;
  // Any thread, serialized: as FileProgress, over the whole text.
  FileProgress progress;
  StopRequest stop;  // any thread; may be empty
  // Optional: room for the file's whole text + 1, zeroed.  Every member's
  // text is placed here too; a file of one member is decoded straight into it.
  uint8_t* whole_text = nullptr;
};

struct DecodeOutcome {
  std::optional<RunError> failure;
  uint64_t text_written = 0;       // text handed to `write`
  uint32_t peak_pages_used = 0;    // the most node pages any member's model used
  uint32_t peak_unused_bytes = 0;  // unused reserved bytes of that member's model
  uint32_t last_pages_used = 0;    // of the last member decoded
  uint64_t last_stream_end = 0;    // file offset where the last member's decoder stopped
  unsigned threads_used = 0;
};

// Decodes every member of `plan.file` (check_file found nothing) on
// plan.threads threads, each model within plan.node_room.  A stop request
// ends it as RunFault::interrupted.
DecodeOutcome decode_run(std::span<const uint8_t> file, const DecodePlan& plan, const DecodeTarget& target);

}  // namespace tav
