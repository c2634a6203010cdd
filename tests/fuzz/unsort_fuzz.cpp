// The inverse on arbitrary sorted text must end, write each byte at most once
// and end every line with LF; and sorting any text that ends with LF by the
// line-bounded order and inverting it must give the text back.
#include <algorithm>
#include <vector>

#include "context_sort.h"
#include "fuzz_support.h"
#include "successor_chains.h"

using namespace tav::tools;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes unsort(const Bytes& sorted) {
  Bytes out;
  unsort_context_text(sorted, [&](std::span<const uint8_t> piece) {
    out.insert(out.end(), piece.begin(), piece.end());
  });
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes input(data, data + size);
  const Bytes out = unsort(input);
  if (out.size() > input.size()) fuzz::fail("inverse wrote more bytes than it read");
  if (!out.empty() && out.back() != 0x0A) fuzz::fail("inverse output does not end with LF");
  if (std::count(out.begin(), out.end(), 0x0A) != std::count(input.begin(), input.end(), 0x0A))
    fuzz::fail("every LF ends exactly one line");

  Bytes text = input;
  if (text.empty() || text.back() != 0x0A) text.push_back(0x0A);
  Bytes sorted;
  for (const auto p : context_sorted_positions<std::int32_t>(text, ContextOrder::line_bounded))
    sorted.push_back(text[p]);
  if (unsort(sorted) != text) fuzz::fail("line-bounded round trip");
  return 0;
}
