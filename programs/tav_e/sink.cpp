#include "sink.h"

#include <unistd.h>

#include <cerrno>
#include <new>

namespace tav {

bool Sink::open(OutputFile* out) {
  out_ = out;
  memory_ = out_ == nullptr || out_->in_place();
  if (memory_) return true;
  f_ = out_->stream();
  return f_ != nullptr;
}

bool Sink::write(std::span<const uint8_t> bytes) {
  if (memory_) {
    try {
      mem_.insert(mem_.end(), bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return false;
    }
  } else if (std::fwrite(bytes.data(), 1, bytes.size(), f_) != bytes.size()) {
    return false;
  }
  size_ += bytes.size();
  return true;
}

bool Sink::rewind() {
  size_ = mark_;
  if (memory_) {
    mem_.resize(mark_);
    return true;
  }
  return std::fflush(f_) == 0 && ::ftruncate(::fileno(f_), static_cast<off_t>(mark_)) == 0 &&
         ::fseeko(f_, static_cast<off_t>(mark_), SEEK_SET) == 0;
}

bool Sink::read_back(std::vector<uint8_t>& bytes) {
  if (memory_) {
    bytes = mem_;
    return true;
  }
  if (std::fflush(f_) != 0) return false;
  std::rewind(f_);
  const bool ok = read_all_bytes(f_, bytes);
  return ::fseeko(f_, 0, SEEK_END) == 0 && ok;
}

int Sink::commit(const struct stat& source) {
  if (!memory_) return std::fflush(f_) != 0 ? errno : out_->commit(source);
  if (out_ != nullptr) {
    if (const int err = out_->rewrite(mem_.data(), mem_.size()); err != 0) return err;
    return out_->commit(source);
  }
  if (std::fwrite(mem_.data(), 1, mem_.size(), stdout) != mem_.size() || std::fflush(stdout) != 0)
    return errno;
  return 0;
}

}  // namespace tav
