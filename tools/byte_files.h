// Checked binary file streams for the text tools.
//
// Every open, read, seek, write and close is checked; a failure throws
// ToolError naming the file and the reason.  The streams move data in blocks
// so that the byte-at-a-time tools keep up with the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace tav::tools {

class InputFile {
 public:
  // Opens `path` for binary reading.
  explicit InputFile(const std::string& path);
  ~InputFile();
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
  std::FILE* file_;
};

class OutputFile {
 public:
  // Creates or truncates `path` for binary writing.
  explicit OutputFile(const std::string& path);
  // Closes without checking if close() was not called; only for unwinding
  // after another failure has already been reported.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(std::span<const std::uint8_t> bytes);
  // Flushes and closes, reporting a failure of either.  Call once, after the
  // last write.
  void close();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_;
};

// Throws when `output` names the same existing file as `input`: opening the
// output would truncate the input before it is read.
void refuse_same_file(const std::string& input, const std::string& output);

}  // namespace tav::tools
