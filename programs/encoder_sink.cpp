#include "encoder_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tav {

Sink::~Sink() { free_memory(); }

bool Sink::open(OutputFile* out) {
  out_ = out;
  if (out_ == nullptr || out_->in_place()) return open_memory();
  f_ = out_->stream();
  return f_ != nullptr;
}

bool Sink::open_memory() {
  buf_f_ = f_ = ::open_memstream(&buf_, &len_);
  return f_ != nullptr;
}

void Sink::free_memory() {
  if (buf_f_ != nullptr) std::fclose(buf_f_);
  buf_f_ = f_ = nullptr;
  std::free(buf_);
  buf_ = nullptr;
  len_ = 0;
}

bool Sink::write(std::span<const uint8_t> bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), f_) == bytes.size();
}

bool Sink::rewind() {
  if (is_memory()) {
    free_memory();
    return open_memory();
  }
  std::rewind(f_);
  return ::ftruncate(::fileno(f_), 0) == 0;
}

bool Sink::read_back(std::vector<uint8_t>& bytes) {
  if (std::fflush(f_) != 0) return false;
  if (is_memory()) {
    bytes.assign(buf_, buf_ + len_);
    return true;
  }
  std::rewind(f_);
  return read_all_bytes(f_, bytes);
}

int Sink::commit(mode_t mode) {
  if (std::fflush(f_) != 0) return errno;
  if (!is_memory()) return out_->commit(mode);
  if (out_ != nullptr) {
    if (const int err = out_->rewrite(reinterpret_cast<const uint8_t*>(buf_), len_); err != 0)
      return err;
    return out_->commit(mode);
  }
  if (std::fwrite(buf_, 1, len_, stdout) != len_ || std::fflush(stdout) != 0) return errno;
  return 0;
}

}  // namespace tav
