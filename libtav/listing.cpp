// The members of a compressed file, from its headers and trailers alone.
#include "call.h"
#include "engine.h"

using namespace tav;
using namespace tav::lib;

namespace {

tav_member_info info_of(const Member& m, bool checked) {
  tav_member_info i{};
  i.offset = m.offset;
  i.compressed_bytes = m.trailer.member_bytes;
  i.text_bytes = m.text_length();
  i.order = m.header.level_limit - 1;
  i.memory_mb = m.header.memory_mb;
  i.checked = checked ? 1 : 0;
  i.text_hash = checked ? m.trailer.text_hash : 0;
  return i;
}

}  // namespace

extern "C" tav_error tav_list(const void* src, size_t src_size, tav_member_info* members, size_t capacity,
                              size_t* count) {
  if ((src == nullptr && src_size > 0) || (members == nullptr && capacity > 0) || count == nullptr)
    return TAV_ERROR_PARAMETER;
  return guarded([&] {
    FilePlan plan;
    if (const tav_error e = plan_compressed({static_cast<const uint8_t*>(src), src_size}, plan); e != TAV_OK)
      return e;
    *count = plan.members.size();
    for (size_t i = 0; i < plan.members.size() && i < capacity; ++i)
      members[i] = info_of(plan.members[i], plan.checked);
    return TAV_OK;
  });
}
