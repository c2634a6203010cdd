// Where tav_e's compressed bytes go while they are made: the temporary file of
// an OutputFile, or a memory buffer for standard output and for outputs
// written in place (a device, a FIFO, a symlink), which receive the result
// only once it is complete and verified.  reset() empties it for another
// attempt at a different order.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>

#include "output_file.h"

namespace tav {

class Sink {
 public:
  Sink() = default;
  ~Sink();
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // The bytes go to `out`'s temporary file, or to memory when `out` is null
  // (standard output) or writes in place.  False with errno set on failure.
  bool open(OutputFile* out);

  std::FILE* file() const { return f_; }
  bool is_memory() const { return buf_f_ != nullptr; }
  bool reset();

  // A readable stream over the bytes written so far, from the start; the
  // caller closes it when is_memory() (for a file it is the same stream).
  std::FILE* reader();

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
