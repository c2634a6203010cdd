// The codec driven over memory, as tav_e drives it over files: blocks
// compressed into members on planned threads, and whole files planned,
// checked and decoded member by member.  Shared by the one-shot calls and
// the streams; results are tav_error codes, nothing is printed.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "block_reader.h"
#include "member_decode.h"
#include "params.h"
#include "tav.h"

namespace tav::lib {

// Threads for `jobs` jobs of `block_bytes` each (at most `jobs`), within the
// memory limit, as tav_e plans them.
unsigned compress_threads(const Params& p, uint64_t block_bytes, uint64_t jobs);

using MemberWriter = std::function<void(std::span<const uint8_t> member)>;

// Compresses every block `next` gives (an input that gives none is one empty
// member) with p's order and budget on `threads` threads; `write` takes the
// members in order.  `block_bytes` is the largest block, for the memory plan.
tav_error compress_members(const Params& p, unsigned threads, uint64_t block_bytes,
                           const std::function<BlockRead()>& next, const MemberWriter& write);

// Plans a whole compressed file: its trailers must add up and its headers
// be ones this library decodes.
tav_error plan_compressed(std::span<const uint8_t> file, FilePlan& plan);

using TextWriter = std::function<void(std::span<const uint8_t> text)>;

// Decodes every member of `plan` on up to p.threads threads within
// p.memory_limit; `write` takes each member's text once it is checked (a
// plain file's text as it is decoded).  TAV_ERROR_DAMAGED at the first fault.
tav_error decode_members_to(const Params& p, std::span<const uint8_t> file, const FilePlan& plan,
                            const TextWriter& write);

}  // namespace tav::lib
