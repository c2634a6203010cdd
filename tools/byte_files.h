// Checked binary file streams for the text tools, over the file handling
// they share with tav_e and tav_d (programs/files).
//
// Every open, read, seek, write and commit is checked; a failure throws
// ToolError naming the file and the reason.  An output is written beside
// its name and put there only once complete, so a failed run leaves an
// existing file as it was and no partial one.  The streams move data in
// blocks so that the byte-at-a-time tools keep up with the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "input_file.h"
#include "output_file.h"

namespace tav::tools {

class InputFile {
 public:
  // Opens `path` for binary reading; a directory is refused as a failed
  // read, as the streaming tools have always reported it.
  explicit InputFile(const std::string& path);
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Reads up to `buffer.size()` bytes; returns how many, 0 only at the end of
  // the file.  A read error throws instead of looking like the end.
  std::size_t read(std::span<std::uint8_t> buffer);
  // Goes back to the first byte, for a second pass.
  void rewind();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  tav::InputFile file_;
  std::FILE* stream_ = nullptr;
};

class OutputFile {
 public:
  // Prepares `path` for the result (tav::OutputFile, replacing an existing
  // file once the result is complete).  A device, a FIFO or /dev/stdout is
  // written through its name.
  explicit OutputFile(const std::string& path);
  // A result that was not closed is dropped: the path stays as it was.
  ~OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(std::span<const std::uint8_t> bytes);
  // Flushes and puts the result at its path, reporting a failure of either.
  // Call once, after the last write.
  void close();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  tav::OutputFile file_;
  std::FILE* stream_ = nullptr;
};

// Throws when `output` names the same existing file as `input`: the output
// would replace the input before it is read.
void refuse_same_file(const std::string& input, const std::string& output);

}  // namespace tav::tools
