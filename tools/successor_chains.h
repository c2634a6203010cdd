// Inverse of the left-context sort: rebuilds lines of text from sorted text.
//
// For sorted text T of n bytes, successor[i] = C(T[i]) + r(i), where C(c)
// counts the bytes of T that rank below c and r(i) counts the earlier
// indices holding the same byte.  Bytes rank as signed values, as the sort
// compares them: 0x80..0xFF first, then 0x00..0x7F.  With that ranking the
// successor table is a permutation for every input, so every chain that
// starts at a LF ends at a LF and no byte is written twice.
//
// Output: for every LF of T in index order, the bytes met by following
// successors from it, up to and including the next LF.  A text that ends with
// LF and was sorted by the line-bounded order comes back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace tav::tools {

// Receives the output in order, a piece at a time.
using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

// Writes the rebuilt lines of `sorted` to `sink`.  Below 2^32 bytes the
// chains advance two bytes per step through a table of 6 bytes per byte of
// `sorted`; longer texts take one step per byte through 8 bytes per byte.
// Below 2^32 bytes the lines are shared out among `threads` threads (0: one
// per processor, up to 8); the output of all but the first is held until its
// turn, so besides that table, up to the text's length more memory.  The sink
// is called on the calling thread only.  Throws std::bad_alloc when memory
// runs out, and passes on what the sink throws.
void unsort_context_text(std::span<const std::uint8_t> sorted, const ByteSink& sink, unsigned threads = 0);

// The one-step-per-byte way that unsort_context_text takes for texts of 2^32
// bytes and more, callable on any text so that it can be checked on small
// ones.
void unsort_context_text_wide(std::span<const std::uint8_t> sorted, const ByteSink& sink);

}  // namespace tav::tools
