// Opening an input for tav_d, tav_e and the text tools: a file opened for
// reading whose status is known before a byte is read, and never a
// directory (whose reads fail, or look like an empty file through stdio).
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace tav {

class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` for reading.  Returns 0, or an errno value: EISDIR for a
  // directory, or why it cannot be opened or examined.
  int open(const std::string& path);
  // Standard input as it is: never closed here.  Returns 0, or an errno
  // value as open() does.
  int open_stdin();

  int fd() const { return fd_; }
  // What fstat() said when the file was opened.
  const struct stat& status() const { return st_; }
  bool regular() const { return S_ISREG(st_.st_mode); }
  // A buffered stream over the file, owned here.  Null with errno set on
  // failure.
  std::FILE* stream();
  void close();

 private:
  int fd_ = -1;
  bool borrowed_ = false;  // standard input
  std::FILE* f_ = nullptr;
  struct stat st_ {};
};

}  // namespace tav
