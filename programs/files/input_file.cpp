#include "input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tav {

int InputFile::open(const std::string& path) {
  close();
  // O_NOCTTY: a terminal named as the input must not become the controlling
  // one.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return errno;
  int err = ::fstat(fd_, &st_) != 0 ? errno : 0;
  if (err == 0 && S_ISDIR(st_.st_mode)) err = EISDIR;
  if (err != 0) close();
  return err;
}

int InputFile::open_stdin() {
  close();
  if (::fstat(STDIN_FILENO, &st_) != 0) return errno;
  if (S_ISDIR(st_.st_mode)) return EISDIR;
  fd_ = STDIN_FILENO;
  borrowed_ = true;
  return 0;
}

std::FILE* InputFile::stream() {
  if (f_ == nullptr && fd_ >= 0) f_ = borrowed_ ? stdin : ::fdopen(fd_, "rb");
  return f_;
}

void InputFile::close() {
  if (borrowed_) {
    // standard input stays open
  } else if (f_ != nullptr) {
    std::fclose(f_);
  } else if (fd_ >= 0) {
    ::close(fd_);
  }
  f_ = nullptr;
  fd_ = -1;
  borrowed_ = false;
}

}  // namespace tav
