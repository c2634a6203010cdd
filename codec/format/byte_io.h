// Byte sinks, where the coders put what they produce, and whole-file reads.
// A sink takes bytes in order and may refuse them (a full disk, no memory);
// after a refusal the caller stops and treats what it wrote as lost.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace tav {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends `bytes`; false when they cannot be kept.
  virtual bool write(std::span<const uint8_t> bytes) = 0;
};

// A sink that can drop everything written to it and start again, for a
// coder that may abandon an attempt.
class RewindableSink : public ByteSink {
 public:
  // Empties the sink; false when it cannot.
  virtual bool rewind() = 0;
};

// Keeps everything in memory.
class VectorSink final : public RewindableSink {
 public:
  bool write(std::span<const uint8_t> b) override {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return true;
  }
  bool rewind() override {
    bytes.clear();
    return true;
  }
  std::vector<uint8_t> bytes;
};

// Writes to a stdio stream it does not own; `error` keeps the errno of the
// first failed write.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(std::FILE* f) : f_(f) {}
  bool write(std::span<const uint8_t> b) override {
    if (std::fwrite(b.data(), 1, b.size(), f_) == b.size()) return true;
    if (error == 0) error = errno;
    return false;
  }
  int error = 0;

 private:
  std::FILE* f_;
};

// Reads `in` from its current position to its end into `out` (replacing its
// contents).  False on a read error or when memory runs out, with errno set.
bool read_all_bytes(std::FILE* in, std::vector<uint8_t>& out);

}  // namespace tav
