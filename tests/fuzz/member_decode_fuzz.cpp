// Whole files of members through the run engine, as tav_e -d reads them:
// plan, checks, decoding side by side, long-range blocks rebuilt in order.
// Any bytes must end with the text or a failure, never a memory error; a
// file that decodes must give exactly the text its trailers announce.
// Headers that would make a run long (large texts, budgets, deep orders)
// are skipped: the decoder itself is decoder_fuzz's.
#include <vector>

#include "decode_run.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool mode_set = tav::set_numeric_mode();
  if (!mode_set) fuzz::fail("numeric mode");
  const std::span<const uint8_t> file(data, size);
  tav::FilePlan plan = tav::plan_file(file);
  if (tav::check_file(plan, tav::PlainFiles::refuse)) return 0;
  for (const tav::Member& m : plan.members)
    if (m.text_length() > 16384 || m.header.memory_mb > 4 || m.header.level_limit > 24) return 0;
  const uint64_t announced = plan.text_bytes;
  const tav::DecodePlan run = tav::plan_decoding(file, std::move(plan), {2, 0}, false);
  std::vector<uint8_t> text;
  tav::DecodeTarget target;
  target.write = [&](std::span<const uint8_t> t) {
    text.insert(text.end(), t.begin(), t.end());
    return true;
  };
  const tav::DecodeOutcome o = tav::decode_run(file, run, target);
  if (o.text_written != text.size()) fuzz::fail("the text written is not the text counted");
  if (!o.failure && text.size() != announced) fuzz::fail("a whole decoding gave another length");
  if (o.failure && o.failure->fault != tav::RunFault::damaged) fuzz::fail("bytes gave a failure other than damage");
  return 0;
}
