// The suffix-array sorts against the plain comparison sorts, both orders and
// both index widths, on arbitrary small texts.
#include <vector>

#include "context_sort.h"
#include "fuzz_support.h"
#include "reference_sort.h"

using namespace tav::tools;

namespace {

template <class Index>
void check(const std::vector<uint8_t>& text, ContextOrder order,
           const std::vector<std::int64_t>& expected) {
  const auto got = context_sorted_positions<Index>(text, order);
  if (got.size() != expected.size()) fuzz::fail("sorted length");
  for (size_t k = 0; k < got.size(); ++k)
    if (static_cast<std::int64_t>(got[k]) != expected[k]) fuzz::fail("sorted order differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;  // the reference is quadratic on repetitive text
  const std::vector<uint8_t> text(data, data + size);
  for (const ContextOrder order : {ContextOrder::line_bounded, ContextOrder::unbounded}) {
    const auto expected = reference::reference_positions(text, order);
    check<std::int32_t>(text, order, expected);
    check<std::int64_t>(text, order, expected);
  }
  return 0;
}
