// Files of members made and read through the run engine, as tav_e and the
// library make and read them, for the tests.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "decode_run.h"
#include "parallel_members.h"

namespace tav::test {

// `text` compressed into one run of members of `block` bytes at `order` with
// a `memory_mb` budget, with the long-range stage when `window` is not 0.
// Empty when the run fails.  Requires the numeric mode.
inline std::vector<uint8_t> compress_run(std::span<const uint8_t> text, uint32_t order, uint32_t memory_mb,
                                         uint64_t block, uint64_t window, unsigned threads = 1,
                                         bool verify = false) {
  SpanBlockSource blocks(text, block);
  CompressJobs jobs;
  jobs.next_block = [&] { return blocks.next(); };
  std::vector<uint8_t> file;
  jobs.write = [&](size_t, const CodedMember& m) {
    file.insert(file.end(), m.bytes.begin(), m.bytes.end());
    return true;
  };
  jobs.settings = {order, memory_mb};
  if (window != 0) {
    LongRangeSettings s;
    s.window_bytes = window;
    jobs.long_range = s;
  }
  jobs.verify = verify;
  if (compress_blocks(jobs, threads).failure) return {};
  return file;
}

struct RunDecoded {
  std::optional<RunError> failure;
  std::vector<uint8_t> text;
};

// `file` checked and decoded as tav_e -d does, on `threads` threads.
inline RunDecoded decode_run_of(std::span<const uint8_t> file, unsigned threads = 1) {
  RunDecoded d;
  FilePlan plan = plan_file(file);
  if ((d.failure = check_file(plan, PlainFiles::refuse))) return d;
  DecodeTarget t;
  t.write = [&](std::span<const uint8_t> b) { return d.text.insert(d.text.end(), b.begin(), b.end()), true; };
  d.failure = decode_run(file, plan_decoding(file, std::move(plan), {threads, 0}, false), t).failure;
  return d;
}

}  // namespace tav::test
