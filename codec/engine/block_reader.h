// Reads input one block at a time from a file descriptor (a regular file, a
// pipe or a terminal), so that a large input or standard input is never held
// whole: only the block being returned.
//
// Every block but the last holds exactly `block_bytes` bytes, whatever sizes
// the system's reads return (short reads and EINTR are retried), so block
// boundaries depend on the input alone.  Once the end is seen the reader
// reports it again without reading.  An empty input gives no block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tav {

enum class BlockStatus { block, end, error };

struct BlockRead {
  BlockStatus status = BlockStatus::end;
  std::vector<uint8_t> bytes;  // the block, when status is block
  int error = 0;               // errno, when status is error (ENOMEM when memory ran out)
};

class BlockReader {
 public:
  // Reads from `fd`, which it does not own or close.  block_bytes >= 1.
  BlockReader(int fd, size_t block_bytes);

  // The next block, the end of input, or a read error.  After an error the
  // reader stays failed: the position in the input is no longer known.
  BlockRead next();

 private:
  bool fill(std::vector<uint8_t>& block, int& error);

  const int fd_;
  const size_t block_bytes_;
  bool at_end_ = false;
  int failed_ = 0;
};

}  // namespace tav
