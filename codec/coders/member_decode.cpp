#include "member_decode.h"

#include <algorithm>

namespace tav {

FilePlan plan_file(std::span<const uint8_t> file, bool check_runs) {
  FilePlan plan;
  MemberIndex index = index_members(file, check_runs);
  if (index.kind == MemberIndex::Kind::damaged) {
    plan.damage = index.damage;
    plan.checked = true;
    return plan;
  }
  if (index.kind == MemberIndex::Kind::members) {
    plan.checked = true;
    plan.members = std::move(index.members);
  } else {
    const ContainerView v = split_container(file);
    Member m;
    m.header = v.header;
    m.stream_offset = std::min<uint64_t>(HEADER_BYTES, file.size());
    m.stream_bytes = file.size() - m.stream_offset;
    m.trailer.member_bytes = file.size();
    m.trailer.text_length = v.header.text_length;
    plan.members.push_back(m);
  }
  for (const Member& m : plan.members) plan.text_bytes += m.text_length();
  return plan;
}

uint64_t section_window(std::span<const uint8_t> file, const Member& m) {
  if (!m.trailer.long_range) return 0;
  // Distances are checked against the run when the member is decoded.
  const ParsedSection p =
      parse_section(file.subspan(m.section_offset, m.section_bytes), m.header.text_length, UINT64_MAX);
  return p.damage.fault == SectionFault::none ? p.window_bytes : 0;
}

std::optional<MemberDamage> RunRebuilder::rebuild(std::span<const uint8_t> file, const Member& m, uint8_t* text) {
  if (m.trailer.version == 1 || m.trailer.number == 0 || !run_) run_.emplace();
  if (!m.trailer.long_range) return std::nullopt;
  const LongRangeDecoder::Result r =
      run_->decode_block(file.subspan(m.section_offset, m.section_bytes), {text, m.header.text_length});
  if (r.damage.fault != SectionFault::none)
    return MemberDamage{m.section_offset + r.damage.offset, MemberFault::references_damaged};
  if (r.text.size() != m.text_length()) return MemberDamage{m.offset, MemberFault::text_length_mismatch};
  std::copy(r.text.begin(), r.text.end(), text);
  if (text_hash(r.text) != m.trailer.text_hash) return MemberDamage{m.offset, MemberFault::checksum_mismatch};
  return std::nullopt;
}

MemberDecodeResult decode_member(std::span<const uint8_t> file, const Member& m, bool checked,
                                 uint8_t* text, ByteSink* out, uint64_t text_base,
                                 const FileProgress& progress, uint64_t node_memory_limit,
                                 RunRebuilder* rebuild) {
  MemberDecodeResult r;
  Model model;
  model.store.set_system_memory_limit(node_memory_limit);
  const auto stream = file.subspan(m.stream_offset, m.stream_bytes);
  DecodeProgress member_progress;
  if (progress)
    member_progress = [&](uint32_t p, uint64_t stream_bytes) {
      progress(text_base + p, m.stream_offset + stream_bytes, model.store.pages_used());
    };
  r.stream = decode_stream(model, m.header, stream, text, checked ? nullptr : out, member_progress);
  r.pages_used = model.store.pages_used();
  r.unused_reserved_bytes = model.store.unused_reserved_bytes();
  r.blocks_reserved = model.store.blocks_reserved();
  r.text_bytes = r.stream.position;
  if (!checked) return r;
  // A stream that stops early keeps the text before the fault, as a plain
  // one does (a long-range member's literals are no text of their own); a
  // complete stream's text goes out only once its checks pass.
  const bool long_range = m.trailer.long_range;
  const bool complete = r.stream.status == ByteStatus::ok;
  if (complete) {
    std::optional<uint64_t> hash;
    if (!long_range) hash = text_hash({text, m.header.text_length});
    r.damage = verify_member(m, hash, r.stream.stream_bytes + r.stream.past_end);
    if (!r.damage && long_range && rebuild != nullptr) {
      r.damage = rebuild->rebuild(file, m, text);
      r.text_bytes = m.text_length();
    }
  }
  if (r.damage || (long_range && !complete)) r.text_bytes = 0;
  if (out != nullptr && r.text_bytes > 0 && !out->write({text, r.text_bytes}))
    r.stream.status = ByteStatus::output_failed;
  return r;
}

FileDecodeResult decode_file(std::span<const uint8_t> file, const FilePlan& plan, uint8_t* text,
                             ByteSink* out, const FileProgress& progress,
                             uint64_t node_memory_limit, bool rebuild) {
  FileDecodeResult f;
  RunRebuilder rebuilder;
  for (size_t i = 0; i < plan.members.size(); ++i) {
    f.member = i;
    f.last = decode_member(file, plan.members[i], plan.checked, text + f.text_written, out,
                           f.text_written, progress, node_memory_limit, rebuild ? &rebuilder : nullptr);
    if (f.last.pages_used >= f.peak_pages_used) {
      f.peak_pages_used = f.last.pages_used;
      f.peak_unused_bytes = f.last.unused_reserved_bytes;
    }
    f.text_written += f.last.text_bytes;
    if (!f.ok()) break;
  }
  return f;
}

}  // namespace tav
