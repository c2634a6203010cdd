#include "decode_run.h"

#include <algorithm>
#include <cerrno>

#include "parallel_members.h"

namespace tav {

namespace {

// Hands the decoder's pieces to the target, keeping the errno of a refusal.
class TargetSink final : public ByteSink {
 public:
  explicit TargetSink(const DecodeTarget& t) : t_(t) {}
  bool write(std::span<const uint8_t> b) override {
    if (!t_.write || t_.write(b)) return true;
    error = errno;
    return false;
  }
  int error = 0;

 private:
  const DecodeTarget& t_;
};

RunError failure_of(const FileDecodeResult& f, const FilePlan& plan, int write_error) {
  RunError e;
  e.member = f.member;
  e.text_position = f.text_written;
  if (f.last.damage) {
    e.fault = RunFault::damaged;
    e.member_fault = f.last.damage->fault;
    e.file_offset = f.last.damage->offset;
    return e;
  }
  e.stream = f.last.stream.status;
  e.file_offset = plan.members[f.member].stream_offset + f.last.stream.stream_bytes;
  switch (f.last.stream.status) {
    case ByteStatus::output_failed:
      e.fault = RunFault::write;
      e.error = write_error;
      break;
    case ByteStatus::out_of_memory:
      e.fault = RunFault::out_of_memory;
      e.blocks_reserved = f.last.blocks_reserved;
      break;
    case ByteStatus::invalid_header:
      e.fault = RunFault::header;
      e.header = plan.members[f.member].header;
      e.header_fault = check_header(e.header);
      break;
    default:
      e.fault = RunFault::damaged;
  }
  return e;
}

DecodeOutcome outcome_of(const FileDecodeResult& f, const FilePlan& plan, int write_error) {
  DecodeOutcome o;
  o.text_written = f.text_written;
  o.peak_pages_used = f.peak_pages_used;
  o.peak_unused_bytes = f.peak_unused_bytes;
  o.last_pages_used = f.last.pages_used;
  if (!plan.members.empty()) o.last_stream_end = plan.members[f.member].stream_offset + f.last.stream.stream_bytes;
  if (!f.ok()) o.failure = failure_of(f, plan, write_error);
  return o;
}

// One member on the calling thread, straight into the whole text.
DecodeOutcome decode_in_place(std::span<const uint8_t> file, const DecodePlan& plan, const DecodeTarget& target) {
  TargetSink sink(target);
  const FileDecodeResult f =
      decode_file(file, plan.file, target.whole_text, &sink, target.progress, plan.node_room);
  return outcome_of(f, plan.file, sink.error);
}

DecodeOutcome decode_side_by_side(std::span<const uint8_t> file, const DecodePlan& plan,
                                  const DecodeTarget& target) {
  DecodeJobs jobs;
  jobs.file = file;
  jobs.plan = &plan.file;
  jobs.progress = target.progress;
  jobs.stop = target.stop;
  jobs.node_memory_limit = plan.node_room;
  uint64_t at = 0;
  jobs.write = [&](size_t, std::span<const uint8_t> text) {
    if (target.whole_text != nullptr) std::copy(text.begin(), text.end(), target.whole_text + at);
    at += text.size();
    return !target.write || target.write(text);
  };
  const ParallelDecodeResult r = decode_members(jobs, plan.threads.threads);
  DecodeOutcome o = outcome_of(r.file, plan.file, r.write_error);
  o.threads_used = r.threads_used;
  return o;
}

RunError file_damage(MemberFault fault, uint64_t offset) {
  RunError e;
  e.fault = RunFault::damaged;
  e.member_fault = fault;
  e.file_offset = offset;
  return e;
}

}  // namespace

std::optional<RunError> check_file(const FilePlan& plan, PlainFiles plain) {
  if (plan.damage) return file_damage(plan.damage->fault, plan.damage->offset);
  if (!plan.checked && plain == PlainFiles::refuse) {
    RunError e;
    e.fault = RunFault::not_compressed;
    return e;
  }
  const uint64_t header_end = plan.members.front().stream_offset;
  if (!plan.checked && plain == PlainFiles::accept_whole && header_end < HEADER_BYTES)
    return file_damage(MemberFault::header_cut_short, header_end);
  for (size_t i = 0; i < plan.members.size(); ++i) {
    const Member& m = plan.members[i];
    const HeaderFault fault = check_header(m.header);
    if (fault == HeaderFault::none) continue;
    RunError e;
    e.fault = RunFault::header;
    e.member = i;
    e.file_offset = m.offset;
    e.header_fault = fault;
    e.header = m.header;
    return e;
  }
  return std::nullopt;
}

DecodeOutcome decode_run(std::span<const uint8_t> file, const DecodePlan& plan, const DecodeTarget& target) {
  try {
    if (target.whole_text != nullptr && plan.file.members.size() == 1 && !target.stop)
      return decode_in_place(file, plan, target);
    return decode_side_by_side(file, plan, target);
  } catch (const RunInterrupted&) {
    DecodeOutcome o;
    o.failure.emplace();
    o.failure->fault = RunFault::interrupted;
    return o;
  }
}

}  // namespace tav
