#include "verify_container.h"

#include <algorithm>
#include <memory>
#include <new>

#include "member_decode.h"

namespace tav {

namespace {

VerifyFinding found(VerifyFinding::Kind kind, uint64_t at = 0) {
  VerifyFinding f;
  f.kind = kind;
  f.at = at;
  return f;
}

}  // namespace

VerifyFinding verify_members(std::span<const uint8_t> file, std::span<const uint8_t> text,
                             uint64_t node_memory_limit) {
  using Kind = VerifyFinding::Kind;
  // A member is verified before the run's end marks its last member.
  const FilePlan plan = plan_file(file, false);
  if (plan.damage) {
    VerifyFinding f = found(Kind::plan_damaged, plan.damage->offset);
    f.member_fault = plan.damage->fault;
    return f;
  }
  if (!plan.checked) return found(Kind::not_members);
  uint64_t model_text = 0;  // what the models code: the literals of long-range members
  for (const Member& m : plan.members) model_text += m.header.text_length;
  if (model_text != text.size()) return found(Kind::sizes_differ);
  std::unique_ptr<uint8_t[]> decoded(new (std::nothrow) uint8_t[text.size() + 1]());
  if (!decoded) return found(Kind::no_memory);
  // A long-range member's references reach into members verified before it:
  // what is checked here is what its model decoded, its literals.
  const FileDecodeResult r = decode_file(file, plan, decoded.get(), nullptr, {}, node_memory_limit, false);
  if (r.last.damage) {
    VerifyFinding f = found(Kind::member_damaged, r.last.damage->offset);
    f.member_fault = r.last.damage->fault;
    return f;
  }
  if (r.last.stream.status != ByteStatus::ok) {
    VerifyFinding f = found(Kind::stream_failed, plan.members[r.member].offset);
    f.stream = r.last.stream.status;
    return f;
  }
  const auto [differs, _] = std::mismatch(text.begin(), text.end(), decoded.get());
  if (differs != text.end()) return found(Kind::text_differs, static_cast<uint64_t>(differs - text.begin()));
  return {};
}

}  // namespace tav
