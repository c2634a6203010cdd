// Where tav_e's compressed bytes go while they are made: the temporary file of
// an OutputFile, or a memory buffer for standard output and for outputs
// written in place (a device, a FIFO, a symlink), which receive the result
// only once it is complete and verified.  rewind() empties it for another
// attempt at a different order.
#pragma once

#include <sys/types.h>

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
  ~Sink() override;
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // The bytes go to `out`'s temporary file, or to memory when `out` is null
  // (standard output) or writes in place.  False with errno set on failure.
  bool open(OutputFile* out);

  bool write(std::span<const uint8_t> bytes) override;
  bool rewind() override;
  bool is_memory() const { return buf_f_ != nullptr; }

  // The bytes written so far.  False with errno set when they cannot be read.
  bool read_back(std::vector<uint8_t>& bytes);

  // Puts the result at its destination: standard output, the in-place
  // output, or the temporary file committed with `mode`.  Returns 0 or an
  // errno value (EEXIST: another run created the output meanwhile).
  int commit(mode_t mode);

 private:
  bool open_memory();
  void free_memory();

  OutputFile* out_ = nullptr;
  std::FILE* f_ = nullptr;      // where encode_stream writes
  std::FILE* buf_f_ = nullptr;  // f_ when it is a memory stream
  char* buf_ = nullptr;
  size_t len_ = 0;
};

}  // namespace tav
