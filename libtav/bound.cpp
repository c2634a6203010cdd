// tav_compress_bound: the most bytes a compression can write for a text of a
// given size, so that a caller can size its output once.
//
// A member of k text bytes is the 8-byte header, the stream, the 0xFF
// fillers the encoder leaves out of its final window, and the 36-byte
// trailer.  The stream starts with four 0x00 bytes; every later byte is
// shifted out of the range encoder's window by a normalisation; finish()
// writes the last window, which with its fillers is always 4 bytes.  So a
// member is 8 + 4 + S + 4 + 36 = 52 + S bytes, S the bytes shifted out
// (range_encoder.cpp), and an empty member is exactly 52.
//
// S is at most 6k - 1 for k >= 1:
//  - Each byte is one encode() and at most one normalize().  Its first round
//    shifts 1, 2 or 3 bytes; a round whose 0xFF-run test succeeds resets the
//    range to 0xFF, and the next round shifts exactly 3.  At most two tests
//    succeed in a row (after the second reset the window's bytes shifted out
//    are L0 00 00), so a byte costs at most 3, 3 + 3 or 3 + 6 shifts.
//  - A byte with two resets leaves low = 0, range = 0xFF000000 and the
//    stream ending in 00 00.  No carry can reach those bytes before the next
//    shift (every later interval lies inside [0, 0xFF000000)), and the next
//    normalisation shifts at most 3 bytes, so its test still sees a 00: it
//    cannot reset.  Pairing each two-reset byte with the next byte that
//    normalises gives at most 9 + 3 = 12 for the pair, 6 a byte; every other
//    byte costs at most 6; a two-reset byte left without a partner at the
//    end costs 3 more than 6.
//  - The first byte costs at most 2: every byte value keeps a frequency of
//    at least 1 out of FREQ_TOTAL = 10,000,000 (the mixer's floor), so from
//    the initial range 0xFFFFFFFF its interval keeps floor(r / 10^7) - 1 =
//    428 >= 0x100 codes, two shifts, and the test then sees the initial
//    zeros.  Those 4 saved bytes pay for the 3 above.
// So a member of k bytes is at most 52 + 6k - 1 bytes (k >= 1), and any
// split of n bytes into m members at most 52 m + 6 n.
//
// With the long-range stage (TAV_PARAM_LONG_WINDOW) a member also carries
// its reference section and the section's 4-byte size.  The section's head
// is at most 16 bytes (version, window, count and text length as varints of
// at most 1, 5, 5 and 5 bytes), and each reference at most 15 (three varints
// of at most 5) while it takes at least 128 bytes of text from the model,
// which would have cost up to 6 each.  So 20 more bytes a member cover it.
//
// The bound is loose, about 5.5 times what random bytes take (1.08 to 1.11
// times their size at orders 0 to 16: docs/library.md has the command).  Without the
// 0xFF-run resets the argument would give 3 bytes a byte; they are rare in
// practice but nothing here rules out a text that meets one at most
// normalisations.  What it covers is every level, order, memory budget and
// thread count: none of them enters the argument.
//
// The number of members assumes the default block size, 32 MiB: the blocks
// of tav_compress, and of a context whose TAV_PARAM_BLOCK_SIZE is left at its
// default or set larger.  A context with a smaller block size B writes
// ceil(n / B) members of at most tav_compress_bound(B) bytes each.
#include <cstdint>

#include "params.h"
#include "tav.h"

namespace {

// Header, first 4 and last 4 stream bytes, trailer; then a long-range
// section's head and size.
constexpr uint64_t kMemberBytes = 52 + 20;
constexpr uint64_t kBytesPerByte = 6;   // shifted out per text byte, at most

}  // namespace

extern "C" size_t tav_compress_bound(size_t src_size) {
  const uint64_t n = src_size;
  const uint64_t block = tav::DEFAULT_BLOCK_BYTES;
  const uint64_t members = n == 0 ? 1 : n / block + (n % block != 0);
  // 6n + 72m fits in 64 bits whenever n does not exceed 2^64 / 7.
  if (n > UINT64_MAX / (kBytesPerByte + 1)) return 0;
  const uint64_t bound = kBytesPerByte * n + kMemberBytes * members;
  if (bound > SIZE_MAX) return 0;
  return static_cast<size_t>(bound);
}
