#include "parallel_members.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <tuple>
#include <utility>

#include "decoder_types.h"
#include "ordered_jobs.h"
#include "verify_container.h"

namespace tav {

namespace {

// Totals over every job in flight.  Each job adds the change in its own
// position, so a job that starts again (another order) takes back what it had
// counted.
class SharedProgress {
 public:
  // Adds `delta_text` and `delta_bytes`; returns the new totals.
  std::pair<uint64_t, uint64_t> add(int64_t delta_text, int64_t delta_bytes) {
    const uint64_t t = text_.fetch_add(static_cast<uint64_t>(delta_text)) + static_cast<uint64_t>(delta_text);
    const uint64_t b = bytes_.fetch_add(static_cast<uint64_t>(delta_bytes)) + static_cast<uint64_t>(delta_bytes);
    return {t, b};
  }
  // Runs `f` unless another thread is reporting.
  template <class F>
  void try_report(F&& f) {
    const std::unique_lock lock(report_, std::try_to_lock);
    if (lock.owns_lock()) f();
  }
  template <class F>
  void report(F&& f) {
    const std::lock_guard lock(report_);
    f();
  }

 private:
  std::atomic<uint64_t> text_{0};
  std::atomic<uint64_t> bytes_{0};
  std::mutex report_;
};

// What one compression job has counted into SharedProgress so far.
struct JobCount {
  uint64_t text = 0;
  uint64_t bytes = 0;
  // Counts the job at `text_now` and `bytes_now`; returns the new totals.
  std::pair<uint64_t, uint64_t> move_to(SharedProgress& p, uint64_t text_now, uint64_t bytes_now) {
    const auto totals = p.add(static_cast<int64_t>(text_now - text), static_cast<int64_t>(bytes_now - bytes));
    text = text_now;
    bytes = bytes_now;
    return totals;
  }
};

struct BlockJob {
  std::vector<uint8_t> text;  // what the model codes: the block, or its literals
  size_t index = 0;
  uint32_t number = 0;    // of its member in the run
  uint64_t position = 0;  // of the block in the whole input
  uint64_t block_bytes = 0;
  // With the long-range stage: the block's section, length and XXH64.
  std::vector<uint8_t> section;
  std::optional<LongRangePart> long_range;
};

RunError block_failure(const BlockJob& in, RunFault f) {
  RunError e;
  e.member = in.index;
  e.text_position = in.position;
  e.fault = f;
  return e;
}

// Codes one block into `out`, verified when asked.  False with `err` set.
bool code_block(const CompressJobs& jobs, SharedProgress& shared, BlockJob& in, CodedMember& out,
                RunError& err) {
  set_numeric_mode();  // the rounding mode belongs to each thread
  JobCount count;
  uint32_t order = jobs.settings.order;
  uint64_t t = 0, b = 0;
  FallbackObserver observer;
  observer.attempt_starts = [&](uint32_t o) {
    order = o;
    std::tie(t, b) = count.move_to(shared, 0, 0);
  };
  if (jobs.progress || jobs.stop)
    observer.progress = [&](uint32_t p, uint64_t written) {
      if (jobs.stop && jobs.stop()) throw RunInterrupted();
      std::tie(t, b) = count.move_to(shared, p, written);
      if (jobs.progress) shared.try_report([&] { jobs.progress(t, b, order); });
    };
  if (jobs.attempt_failed)
    observer.attempt_failed = [&](const FailedAttempt& a) {
      shared.report([&] { jobs.attempt_failed(a, in.position + a.position); });
    };
  VectorSink sink;
  // The worker cannot know whether its block is the last: MemberRun marks it.
  LongRangePart* const part = in.long_range ? &*in.long_range : nullptr;
  if (part != nullptr) part->section = in.section;
  const MemberEncodeResult r = encode_member(in.text, jobs.settings, sink, observer, {in.number, false}, part);
  const EncodeStatus status = r.coded.result.status;
  if (status != EncodeStatus::ok) {
    std::tie(t, b) = count.move_to(shared, 0, 0);
    err = block_failure(in, status == EncodeStatus::out_of_memory ? RunFault::out_of_memory
                                                                   : RunFault::cannot_code);
    err.encode = status;
    return false;
  }
  count.move_to(shared, in.text.size(), sink.bytes.size());
  if (jobs.verify) {
    const VerifyFinding finding = verify_members(sink.bytes, in.text, jobs.settings.node_memory_limit);
    if (finding) {
      err = block_failure(in, RunFault::verify);
      err.verify = finding;
      return false;
    }
  }
  out.bytes = std::move(sink.bytes);
  out.text_bytes = in.block_bytes;
  out.order = r.coded.order;
  out.pages_used = r.coded.result.pages_used;
  return true;
}

// The long-range stage, in input order on the calling thread: the model will
// code the block's literals; the member carries its section.
void take_long_repeats(LongRangeEncoder& stage, BlockJob& in) {
  LongRangeBlock b = stage.encode_block(in.text);
  in.section = write_section(b.references, stage.settings().window_bytes, in.block_bytes);
  in.long_range = LongRangePart{{}, static_cast<uint32_t>(in.block_bytes), text_hash(in.text)};
  in.text = std::move(b.literals);
}

}  // namespace

LongRangeEncoder& MemberRun::long_range_encoder(const LongRangeSettings& s) {
  if (!long_range_) long_range_.emplace(s);
  return *long_range_;
}

bool MemberRun::add(size_t index, CodedMember m, const MemberWriter& write) {
  if (!flush(write)) return false;
  held_ = std::move(m);
  held_index_ = index;
  ++added_;
  return true;
}

bool MemberRun::flush(const MemberWriter& write) {
  if (!held_) return true;
  const bool ok = write(held_index_, *held_);
  held_.reset();
  return ok;
}

bool MemberRun::end(const MemberWriter& write, const EncodeSettings& s) {
  if (!held_) {
    VectorSink sink;
    const MemberEncodeResult r =
        encode_member({}, s, sink, {}, {static_cast<uint32_t>(added_), true});
    if (r.coded.result.status != EncodeStatus::ok) return errno = ENOMEM, false;
    CodedMember m;
    m.bytes = std::move(sink.bytes);
    m.order = r.coded.order;
    held_ = std::move(m);
    held_index_ = static_cast<size_t>(added_++);
  }
  mark_last_member(held_->bytes);
  return flush(write);
}

CompressOutcome compress_blocks(const CompressJobs& jobs, unsigned threads) {
  SharedProgress shared;
  CompressOutcome c;
  c.order = jobs.settings.order;
  uint64_t position = 0;
  bool any = false;
  MemberRun own_run;
  MemberRun& run = jobs.run != nullptr ? *jobs.run : own_run;
  const uint64_t first_number = run.members();
  // Counts what goes out: members are written one behind the coding.
  const MemberWriter write = [&](size_t index, const CodedMember& m) {
    if (!jobs.write(index, m)) return false;
    ++c.members;
    c.text_bytes += m.text_bytes;
    c.out_bytes += m.bytes.size();
    return true;
  };
  OrderedJobs<BlockJob, CodedMember, RunError> ordered;
  ordered.produce = [&](size_t index, BlockJob& in, RunError& err) {
    BlockRead r = jobs.next_block();
    if (jobs.stop && jobs.stop()) throw RunInterrupted();
    in.index = index;
    in.number = static_cast<uint32_t>(first_number + index);
    in.position = position;
    if (r.status == BlockStatus::error) {
      err = block_failure(in, r.error == ENOMEM ? RunFault::out_of_memory : RunFault::read);
      err.error = r.error;
      return NextJob::failed;
    }
    // An empty input is one empty member, as a whole-text compression gives.
    if (r.status == BlockStatus::end && any) return NextJob::end;
    any = true;
    in.text = std::move(r.bytes);
    in.block_bytes = in.text.size();
    position += in.block_bytes;
    if (jobs.long_range) take_long_repeats(run.long_range_encoder(*jobs.long_range), in);
    return NextJob::ready;
  };
  ordered.work = [&](BlockJob& in, CodedMember& out, RunError& err, std::stop_token) {
    try {
      return code_block(jobs, shared, in, out, err);
    } catch (const std::bad_alloc&) {
      err = block_failure(in, RunFault::out_of_memory);
      err.encode = EncodeStatus::out_of_memory;
      return false;
    }
  };
  const auto write_failed = [&](RunError& err) {
    err.member = c.members;
    err.text_position = c.text_bytes;
    err.fault = RunFault::write;
    err.error = errno;
  };
  ordered.consume = [&](size_t index, CodedMember& m, RunError& err) {
    if (c.order == jobs.settings.order) c.order = m.order;
    c.pages_used = std::max(c.pages_used, m.pages_used);
    if (run.add(index, std::move(m), write)) return true;
    write_failed(err);
    return false;
  };
  JobsOutcome<RunError> o;
  try {
    o = run_ordered_jobs(ordered, JobLimits{threads, 0});
  } catch (const RunInterrupted&) {
    c.failure.emplace();
    c.failure->fault = RunFault::interrupted;
    return c;
  }
  c.threads_used = o.threads_used;
  if (o.failure) {
    c.failure = o.failure->error;
    // The members before the failure go out whole, the held one too (not as
    // the last: the run is cut short, which decoders will say).
    if (c.failure->fault != RunFault::write) run.flush(write);
  } else if (jobs.run == nullptr && !run.end(write, jobs.settings)) {
    c.failure.emplace();
    write_failed(*c.failure);
  }
  return c;
}

namespace {

// A member's text, zeroed as the decoder expects.  calloc takes fresh zero
// pages from the system, touched only as the text is written, so a header
// that claims far more text than its stream holds costs no time or memory
// for the text that never comes.
struct FreeBytes {
  void operator()(uint8_t* p) const { std::free(p); }
};
using ZeroedBytes = std::unique_ptr<uint8_t[], FreeBytes>;

struct DecodedMember {
  size_t index = 0;
  MemberDecodeResult r;
  ZeroedBytes text;  // text length + 1 bytes
};

bool decode_one(const DecodeJobs& jobs, SharedProgress& shared, size_t index, DecodedMember& out) {
  set_numeric_mode();  // the rounding mode belongs to each thread
  const Member& m = jobs.plan->members[index];
  out.index = index;
  // Room for the member's text: a long-range member's block, rebuilt later
  // from the literals decoded here.
  out.text.reset(static_cast<uint8_t*>(std::calloc(uint64_t{m.text_length()} + 1, 1)));
  if (!out.text) throw std::bad_alloc();
  FileProgress progress;
  JobCount count;
  uint64_t t = 0, b = 0;
  uint32_t calls = 0;
  if (jobs.progress || jobs.stop)
    progress = [&](uint64_t p, uint64_t file_position, uint32_t pages) {
      // Called every 512 bytes: the stop request every 64 KiB.
      if (jobs.stop && ++calls % 128 == 0 && jobs.stop()) throw RunInterrupted();
      std::tie(t, b) = count.move_to(shared, p, file_position - m.offset);
      if (jobs.progress) shared.try_report([&] { jobs.progress(t, b, pages); });
    };
  out.r = decode_member(jobs.file, m, jobs.plan->checked, out.text.get(), nullptr, 0, progress,
                        jobs.node_memory_limit);
  return out.r.stream.status == ByteStatus::ok && !out.r.damage;
}

}  // namespace

ParallelDecodeResult decode_members(const DecodeJobs& jobs, unsigned threads) {
  SharedProgress shared;
  ParallelDecodeResult pr;
  FileDecodeResult& f = pr.file;
  const size_t count = jobs.plan->members.size();
  // Keeps the peak of the node memory, as decode_file does.
  const auto note = [&](const DecodedMember& d) {
    f.member = d.index;
    f.last = d.r;
    if (d.r.pages_used >= f.peak_pages_used) {
      f.peak_pages_used = d.r.pages_used;
      f.peak_unused_bytes = d.r.unused_reserved_bytes;
    }
  };
  // Hands `n` bytes of `d`'s text to the writer.
  const auto hand_over = [&](DecodedMember& d, uint64_t n) {
    if (n > 0 && !jobs.write(d.index, {d.text.get(), n})) {
      pr.write_error = errno;
      d.r.stream.status = ByteStatus::output_failed;
      return false;
    }
    f.text_written += n;
    return true;
  };
  OrderedJobs<size_t, DecodedMember, DecodedMember> ordered;
  ordered.produce = [&](size_t index, size_t& in, DecodedMember&) {
    if (index >= count) return NextJob::end;
    in = index;
    return NextJob::ready;
  };
  ordered.work = [&](size_t& in, DecodedMember& out, DecodedMember& err, std::stop_token) {
    try {
      if (decode_one(jobs, shared, in, out)) return true;
    } catch (const std::bad_alloc&) {
      out.index = in;
      out.text.reset();
      out.r.stream.status = ByteStatus::out_of_memory;
    }
    err = std::move(out);
    return false;
  };
  // Long-range blocks are rebuilt here, in file order, from the literals the
  // workers decoded and the text of the run before them.
  RunRebuilder rebuilder;
  ordered.consume = [&](size_t, DecodedMember& d, DecodedMember& err) {
    const Member& m = jobs.plan->members[d.index];
    if (jobs.plan->checked) {
      d.r.damage = rebuilder.rebuild(jobs.file, m, d.text.get());
      if (m.trailer.long_range && !d.r.damage) d.r.text_bytes = m.text_length();
    }
    note(d);
    if (!d.r.damage && hand_over(d, d.r.text_bytes)) return true;
    err = std::move(d);
    return false;
  };
  // Not const: the failed member's text is moved out of it, not copied.
  JobsOutcome<DecodedMember> o = run_ordered_jobs(ordered, JobLimits{threads, 0});
  pr.threads_used = o.threads_used;
  if (!o.failure) return pr;
  DecodedMember d = std::move(o.failure->error);
  note(d);
  if (o.failure->stage == JobStage::work && !d.r.damage && d.text) {
    // A stream that stopped early keeps the text before the fault.
    hand_over(d, d.r.text_bytes);
    f.last = d.r;
  } else if (o.failure->stage == JobStage::consume) {
    f.last = d.r;
  }
  return pr;
}

}  // namespace tav
