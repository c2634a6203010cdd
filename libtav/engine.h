// The library's side of the run engine (codec/engine): its parameters in,
// the engine's failures out as tav_error codes.  Shared by the one-shot
// calls and the streams; nothing is printed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "block_cutter.h"
#include "decode_run.h"
#include "parallel_members.h"
#include "params.h"
#include "tav.h"

namespace tav::lib {

// The plan of compressing `input_bytes` (nullopt: a stream) with p.
CompressPlan compress_plan(const Params& p, std::optional<uint64_t> input_bytes);

using MemberBytesWriter = std::function<void(std::span<const uint8_t> member)>;

// Compresses every block `next` gives (a source of block_cutter.h) as
// `plan` says; `write` takes the members in order.  With `run`, the members
// belong to a run that goes on after the call (the caller ends it);
// without, they are a whole run.
tav_error compress_members(const CompressPlan& plan, const std::function<BlockRead()>& next,
                           const MemberBytesWriter& write, MemberRun* run = nullptr,
                           const StopRequest& stop = {});

// Ends `run` (its last member marked, or an empty member to close it).
tav_error end_run(const CompressPlan& plan, MemberRun& run, const MemberBytesWriter& write);

// Plans a whole compressed file: its trailers must add up and its headers
// be ones this library decodes; a plain stream (no trailer, no check) only
// when `plain` (with a whole header).
tav_error plan_compressed(std::span<const uint8_t> file, FilePlan& plan, bool plain = false);

using TextWriter = std::function<void(std::span<const uint8_t> text)>;

// Decodes every member of `plan` on up to p.threads threads within
// p.memory_limit; `write` takes each member's text once it is checked (a
// plain file's text as it is decoded).  TAV_ERROR_DAMAGED at the first fault.
tav_error decode_members_to(const Params& p, std::span<const uint8_t> file, const FilePlan& plan,
                            const TextWriter& write);

}  // namespace tav::lib
