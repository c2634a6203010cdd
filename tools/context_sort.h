// Left-context sort: orders the positions of a text by the bytes before them.
//
// The context of position p is text[p-1], text[p-2], ... read backwards.
// Bytes compare as signed 8-bit values (0x80..0xFF below 0x00, LF as 10).  The
// text counts as preceded by one LF, which ends the contexts of the first line
// like any other LF; nothing before the text is ever read.
//
// Line-bounded order: the key of p is its context up to and including the
// nearest LF before p.  Keys compare as strings (they are prefix-free, since
// each ends at its first LF); equal keys keep text order.
//
// Unbounded order: the context runs back through the start-of-text LF.  When
// two contexts agree until one ends at that LF, the one that ended sorts
// first.
//
// Both orders come from one suffix array over the reversed text followed by
// the LF, with every byte XOR 0x80 so that the library's unsigned order is
// the signed order; the line-bounded order then puts each run of equal keys
// back in text order.  Time is O(n log n) at worst, never quadratic.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "huge_page_allocator.h"

namespace tav::tools {

enum class ContextOrder { line_bounded, unbounded };

// Returns the positions 0 .. n-1 of `text` in sorted order.  Index is int32_t
// (texts up to INT32_MAX - 1 bytes, four bytes of position per text byte) or
// int64_t (any length, eight bytes per text byte).  Peak memory besides the
// text: 5 bytes per byte plus the positions for the unbounded order, 5.7 plus
// the positions for the line-bounded one.  Throws std::length_error when the
// text is too long for Index and std::bad_alloc when memory runs out.
template <class Index>
BigVector<Index> context_sorted_positions(std::span<const std::uint8_t> text, ContextOrder order);

// The largest text the int32_t form accepts.
inline constexpr std::int64_t CONTEXT_SORT_MAX_32 = INT32_MAX - 1;

}  // namespace tav::tools
