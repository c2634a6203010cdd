// What ended a run that did not succeed, as one value for every entry point:
// what happened, where (the block or member, the offset in the compressed
// file, the position in the text) and the facts behind it.  The programs turn
// it into their own messages and exit statuses, the library into a tav_error;
// nothing here is a sentence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "container.h"
#include "decode_loop.h"
#include "encode_stream.h"
#include "member_index.h"
#include "verify_container.h"

namespace tav {

enum class RunFault {
  read,           // the input could not be read (`error`)
  write,          // the output refused bytes (`error`)
  out_of_memory,  // the system refused memory: node memory or a buffer
  cannot_code,    // no order codes a block within its budget (`encode`: the last failure)
  verify,         // a member does not decode to its block (`verify`)
  header,         // a header this build cannot decode (`header_fault`, `header`)
  not_compressed, // no trailer: not a file of members, or one cut short
  damaged,        // compressed data damaged: `member_fault` when a check or the
                  // trailers fail, else `stream` says how the stream failed
  interrupted,    // the caller's stop() asked the run to end
};

// Thrown from inside a run when its stop() says so; the engine turns it into
// RunFault::interrupted once every worker has stopped.
struct RunInterrupted {};

// A caller's request to end a run early, asked now and then (about every
// 64 KiB of text on each thread): true ends it.
using StopRequest = std::function<bool()>;

struct RunError {
  RunFault fault = RunFault::damaged;
  size_t member = 0;           // the block or member where it happened
  uint64_t file_offset = 0;    // damaged: offset in the compressed file
  uint64_t text_position = 0;  // compression: where the block starts in the input;
                               // decoding: text bytes handed over before the fault
  int error = 0;               // read, write: errno
  HeaderFault header_fault = HeaderFault::none;
  ContainerHeader header;      // header: the header at fault
  MemberFault member_fault = MemberFault::none;
  ByteStatus stream = ByteStatus::ok;
  EncodeStatus encode = EncodeStatus::ok;
  VerifyFinding verify;
  uint32_t blocks_reserved = 0;  // out_of_memory while decoding: node memory taken, in MB
};

}  // namespace tav
