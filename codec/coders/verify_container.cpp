#include "verify_container.h"

#include <algorithm>
#include <memory>
#include <new>

#include "container.h"
#include "decode_loop.h"
#include "member_decode.h"

namespace tav {

std::string verify_container(std::span<const uint8_t> container, std::span<const uint8_t> text,
                             uint64_t node_memory_limit) {
  const ContainerView v = split_container(container);
  if (!v.header_complete || v.header.text_length != text.size()) return "the header does not match";
  const HeaderFault fault = check_header(v.header);
  if (fault != HeaderFault::none) return header_fault_reason(fault, v.header);
  const uint32_t length = v.header.text_length;
  // One spare byte, as the decoder's text buffer has.
  std::unique_ptr<uint8_t[]> decoded(new (std::nothrow) uint8_t[size_t{length} + 1]());
  if (!decoded) return "no memory for the decoded text";
  StreamResult r;
  {
    Model m;
    m.store.set_system_memory_limit(node_memory_limit);
    r = decode_stream(m, v.header, v.stream, decoded.get());
  }
  if (r.status != ByteStatus::ok)
    return std::string(describe(r.status)) + " at byte " + std::to_string(r.position);
  const auto [differs, _] = std::mismatch(text.begin(), text.end(), decoded.get());
  if (differs != text.end())
    return "the decoded text differs at byte " + std::to_string(differs - text.begin());
  if (HEADER_BYTES + r.stream_bytes != container.size())
    return "the decoder reads " + std::to_string(HEADER_BYTES + r.stream_bytes) + " of " +
           std::to_string(container.size()) + " bytes";
  return {};
}

std::string verify_members(std::span<const uint8_t> file, std::span<const uint8_t> text,
                           uint64_t node_memory_limit) {
  const FilePlan plan = plan_file(file);
  if (plan.damage)
    return std::string(describe(plan.damage->fault)) + " at byte " + std::to_string(plan.damage->offset);
  if (!plan.checked) return "the file carries no trailer";
  if (plan.text_bytes != text.size()) return "the headers do not match";
  std::unique_ptr<uint8_t[]> decoded(new (std::nothrow) uint8_t[text.size() + 1]());
  if (!decoded) return "no memory for the decoded text";
  const FileDecodeResult r = decode_file(file, plan, decoded.get(), nullptr, {}, node_memory_limit);
  const Member& m = plan.members[r.member];
  if (r.last.damage)
    return std::string(describe(r.last.damage->fault)) + " at byte " + std::to_string(r.last.damage->offset);
  if (r.last.stream.status != ByteStatus::ok)
    return std::string(describe(r.last.stream.status)) + " in the member at byte " + std::to_string(m.offset);
  const auto [differs, _] = std::mismatch(text.begin(), text.end(), decoded.get());
  if (differs != text.end())
    return "the decoded text differs at byte " + std::to_string(differs - text.begin());
  return {};
}

}  // namespace tav
