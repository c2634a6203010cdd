#include "block_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <new>

namespace tav {

namespace {

// The first read of a block asks for this much; the buffer then doubles, so a
// short last block (or a small input under a large block size) does not cost
// a full block of memory.
constexpr size_t FIRST_READ = size_t{1} << 16;

}  // namespace

BlockReader::BlockReader(int fd, size_t block_bytes) : fd_(fd), block_bytes_(block_bytes) {
  assert(block_bytes >= 1);
}

// Reads until the block is full or the input ends.  False on a read error or
// when memory runs out, with `error` set.
bool BlockReader::fill(std::vector<uint8_t>& block, int& error) {
  size_t got = 0;
  try {
    while (got < block_bytes_) {
      if (got == block.size()) {
        // reserve first: resize alone may double the capacity past the block.
        const size_t size = std::min(block_bytes_, std::max(FIRST_READ, 2 * block.size()));
        block.reserve(size);
        block.resize(size);
      }
      const ssize_t n = ::read(fd_, block.data() + got, block.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = errno;
        return false;
      }
      if (n == 0) {
        at_end_ = true;
        break;
      }
      got += static_cast<size_t>(n);
    }
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
    return false;
  }
  block.resize(got);
  return true;
}

BlockRead BlockReader::next() {
  BlockRead r;
  if (failed_ != 0) return r.status = BlockStatus::error, r.error = failed_, r;
  if (at_end_) return r;
  if (!fill(r.bytes, r.error)) {
    failed_ = r.error;
    r.bytes = {};
    r.status = BlockStatus::error;
    return r;
  }
  r.status = r.bytes.empty() ? BlockStatus::end : BlockStatus::block;
  return r;
}

}  // namespace tav
