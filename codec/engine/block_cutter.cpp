#include "block_cutter.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <new>

namespace tav {

namespace {

// The first piece of a block asks for this much room; the buffer then
// doubles up to the block size.
constexpr size_t FIRST_ROOM = size_t{1} << 16;

}  // namespace

BlockCutter::BlockCutter(uint64_t block_bytes) : block_bytes_(block_bytes) { assert(block_bytes >= 1); }

std::span<uint8_t> BlockCutter::room() {
  const size_t used = block_.size();
  filled_before_ = used;
  if (used == block_bytes_) return {};
  // reserve first: resize alone may double the capacity past the block.
  const size_t size = static_cast<size_t>(std::min<uint64_t>(block_bytes_, std::max(FIRST_ROOM, 2 * used)));
  if (block_.capacity() < size) block_.reserve(size);
  block_.resize(block_.capacity() < block_bytes_ ? block_.capacity() : static_cast<size_t>(block_bytes_));
  return {block_.data() + used, block_.size() - used};
}

void BlockCutter::filled(size_t n) {
  // room() has grown the block; `n` of the new bytes are real.
  assert(n <= block_.size());
  block_.resize(filled_before_ + n);
}

size_t BlockCutter::take(std::span<const uint8_t> in) {
  size_t taken = 0;
  while (taken < in.size() && !full()) {
    const std::span<uint8_t> r = room();
    const size_t n = std::min(r.size(), in.size() - taken);
    std::memcpy(r.data(), in.data() + taken, n);
    filled(n);
    taken += n;
  }
  return taken;
}

std::vector<uint8_t> BlockCutter::take_block() {
  assert(full());
  any_block_ = true;
  std::vector<uint8_t> b = std::move(block_);
  block_ = {};
  return b;
}

std::optional<std::vector<uint8_t>> BlockCutter::cut() {
  if (block_.empty()) return std::nullopt;
  any_block_ = true;
  std::vector<uint8_t> b = std::move(block_);
  block_ = {};
  return b;
}

std::optional<std::vector<uint8_t>> BlockCutter::finish() {
  if (finished_) return std::nullopt;
  finished_ = true;
  if (block_.empty() && any_block_) return std::nullopt;
  any_block_ = true;
  std::vector<uint8_t> b = std::move(block_);
  block_ = {};
  return b;
}

BlockRead FdBlockSource::next() {
  BlockRead r;
  if (failed_ != 0) return r.status = BlockStatus::error, r.error = failed_, r;
  try {
    while (!at_end_ && !cutter_.full()) {
      const std::span<uint8_t> room = cutter_.room();
      const ssize_t n = ::read(fd_, room.data(), room.size());
      if (n < 0 && errno == EINTR) {
        cutter_.filled(0);
        continue;
      }
      if (n < 0) {
        failed_ = errno;
        return r.status = BlockStatus::error, r.error = failed_, r;
      }
      cutter_.filled(static_cast<size_t>(n));
      at_end_ = n == 0;
    }
  } catch (const std::bad_alloc&) {
    failed_ = ENOMEM;
    return r.status = BlockStatus::error, r.error = failed_, r;
  }
  if (cutter_.full()) return r.status = BlockStatus::block, r.bytes = cutter_.take_block(), r;
  if (auto last = cutter_.finish()) return r.status = BlockStatus::block, r.bytes = std::move(*last), r;
  return r;
}

BlockRead SpanBlockSource::next() {
  BlockRead r;
  try {
    text_ = text_.subspan(cutter_.take(text_));
  } catch (const std::bad_alloc&) {
    return r.status = BlockStatus::error, r.error = ENOMEM, r;
  }
  if (cutter_.full()) return r.status = BlockStatus::block, r.bytes = cutter_.take_block(), r;
  if (auto last = cutter_.finish()) return r.status = BlockStatus::block, r.bytes = std::move(*last), r;
  return r;
}

}  // namespace tav
