// The one place where input is cut into blocks, each of which becomes a
// member: whatever feeds the input (a file descriptor read in pieces, a
// buffer in memory, a stream of calls of any size), every block but the last
// holds exactly `block_bytes` bytes and an input without a byte is one empty
// block.  So the same input gives the same members through every entry point.
//
// Memory: only the block being filled is held; its buffer grows by doubling
// from 64 KiB up to the block size, so a short input under a large block
// size does not cost a whole block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tav {

class BlockCutter {
 public:
  explicit BlockCutter(uint64_t block_bytes);  // block_bytes >= 1

  // Copies as much of `in` as the current block takes; returns how many
  // bytes were taken (fewer than `in` holds only when the block is full).
  // Throws std::bad_alloc when the block cannot grow.
  size_t take(std::span<const uint8_t> in);

  // Room at the end of the current block to fill in place (for reads from
  // a file descriptor); `filled(n)` then takes its first n bytes.  Empty when
  // the block is full.  Throws std::bad_alloc when the block cannot grow.
  std::span<uint8_t> room();
  void filled(size_t n);

  bool full() const { return block_.size() == block_bytes_; }
  // The full block; the next one starts empty.
  std::vector<uint8_t> take_block();

  // Ends the current block where the input is now, when it holds any bytes
  // (a flush of a stream): it is returned, and the next one starts empty.
  std::optional<std::vector<uint8_t>> cut();

  // The input has ended: the last block (short, or empty when the input
  // gave no block at all), once; nullopt after that or when the input ended
  // exactly on a block boundary.
  std::optional<std::vector<uint8_t>> finish();

  uint64_t block_bytes() const { return block_bytes_; }

 private:
  const uint64_t block_bytes_;
  std::vector<uint8_t> block_;
  size_t filled_before_ = 0;  // the block's real bytes when room() was given
  bool any_block_ = false;
  bool finished_ = false;
};

enum class BlockStatus { block, end, error };

struct BlockRead {
  BlockStatus status = BlockStatus::end;
  std::vector<uint8_t> bytes;  // the block, when status is block
  int error = 0;               // errno, when status is error (ENOMEM when memory ran out)
};

// Blocks of a file descriptor (a regular file, a pipe or a terminal), read
// as they are asked for: short reads and EINTR are retried, so the blocks
// depend on the input alone.  After the end, or an error, it reports the
// same again without reading.
class FdBlockSource {
 public:
  FdBlockSource(int fd, uint64_t block_bytes) : fd_(fd), cutter_(block_bytes) {}
  BlockRead next();

 private:
  const int fd_;  // not owned
  BlockCutter cutter_;
  bool at_end_ = false;
  int failed_ = 0;
};

// The blocks of a whole buffer, as the cutter gives them.
class SpanBlockSource {
 public:
  SpanBlockSource(std::span<const uint8_t> text, uint64_t block_bytes) : text_(text), cutter_(block_bytes) {}
  BlockRead next();

 private:
  std::span<const uint8_t> text_;
  BlockCutter cutter_;
};

}  // namespace tav
