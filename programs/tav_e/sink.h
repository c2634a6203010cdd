// Where tav_e's compressed bytes go while they are made: the temporary file of
// an OutputFile, or a memory buffer for standard output and for outputs
// written in place (a device, a FIFO, a symlink), which receive the result
// only once it is complete and verified.  rewind() goes back to the last
// mark (the start of the member being written) for another attempt at a
// different order; the members before the mark stay.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "byte_io.h"
#include "output_file.h"

namespace tav {

class Sink final : public RewindableSink {
 public:
  Sink() = default;
  ~Sink() override = default;
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // The bytes go to `out`'s temporary file, or to memory when `out` is null
  // (standard output) or writes in place.  False with errno set on failure.
  bool open(OutputFile* out);

  bool write(std::span<const uint8_t> bytes) override;
  bool rewind() override;
  bool is_memory() const { return memory_; }
  // Makes the current end the point rewind() returns to.
  void mark() { mark_ = size_; }

  // The bytes written so far.  False with errno set when they cannot be read.
  bool read_back(std::vector<uint8_t>& bytes);

  // Puts the result at its destination: standard output, the in-place
  // output, or the temporary file committed with the attributes of `source`
  // (OutputFile::commit).  Returns 0 or an errno value (EEXIST: another run
  // created the output meanwhile).
  int commit(const struct stat& source);

 private:
  OutputFile* out_ = nullptr;
  std::FILE* f_ = nullptr;     // the temporary file, unless in memory
  bool memory_ = false;
  std::vector<uint8_t> mem_;   // the bytes, when in memory
  uint64_t size_ = 0;          // bytes written
  uint64_t mark_ = 0;          // where rewind() returns to
};

}  // namespace tav
