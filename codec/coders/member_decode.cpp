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
  for (const Member& m : plan.members) plan.text_bytes += m.header.text_length;
  return plan;
}

MemberDecodeResult decode_member(std::span<const uint8_t> file, const Member& m, bool checked,
                                 uint8_t* text, ByteSink* out, uint64_t text_base,
                                 const FileProgress& progress, uint64_t node_memory_limit) {
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
  if (!checked) return r;
  // A stream that stops early keeps the text before the fault, as a plain
  // one does; a complete stream's text goes out only once its checks pass.
  const bool complete = r.stream.status == ByteStatus::ok;
  if (complete)
    r.damage = verify_member(m, text_hash({text, m.header.text_length}),
                             r.stream.stream_bytes + r.stream.past_end);
  const uint32_t keep = r.damage ? 0 : r.stream.position;
  if (out != nullptr && keep > 0 && !out->write({text, keep}))
    r.stream.status = ByteStatus::output_failed;
  return r;
}

FileDecodeResult decode_file(std::span<const uint8_t> file, const FilePlan& plan, uint8_t* text,
                             ByteSink* out, const FileProgress& progress,
                             uint64_t node_memory_limit) {
  FileDecodeResult f;
  for (size_t i = 0; i < plan.members.size(); ++i) {
    f.member = i;
    f.last = decode_member(file, plan.members[i], plan.checked, text + f.text_written, out,
                           f.text_written, progress, node_memory_limit);
    if (f.last.pages_used >= f.peak_pages_used) {
      f.peak_pages_used = f.last.pages_used;
      f.peak_unused_bytes = f.last.unused_reserved_bytes;
    }
    // Only a member that failed its checks keeps its text back.
    if (!f.last.damage) f.text_written += f.last.stream.position;
    if (!f.ok()) break;
  }
  return f;
}

}  // namespace tav
