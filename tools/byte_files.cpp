#include "byte_files.h"

#include <sys/stat.h>

#include <cerrno>

#include "tool_error.h"

namespace tav::tools {

namespace {
// Large stream buffers: the tools are limited by the number of library
// calls, not by the disk.
constexpr std::size_t STREAM_BUFFER = 1 << 20;
}  // namespace

InputFile::InputFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {
  if (file_ == nullptr) throw ToolError(path_, "cannot open for reading: " + errno_reason());
  std::setvbuf(file_, nullptr, _IOFBF, STREAM_BUFFER);
}

InputFile::~InputFile() { std::fclose(file_); }

std::size_t InputFile::read(std::span<std::uint8_t> buffer) {
  const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file_);
  if (got < buffer.size() && std::ferror(file_)) throw ToolError(path_, "read error: " + errno_reason());
  return got;
}

void InputFile::rewind() {
  if (std::fseek(file_, 0, SEEK_SET) != 0)
    throw ToolError(path_, "cannot go back to the start for a second pass: " + errno_reason());
}

OutputFile::OutputFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
  if (file_ == nullptr) throw ToolError(path_, "cannot create: " + errno_reason());
  std::setvbuf(file_, nullptr, _IOFBF, STREAM_BUFFER);
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void OutputFile::write(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    throw ToolError(path_, "write error: " + errno_reason());
}

void OutputFile::close() {
  std::FILE* const file = file_;
  file_ = nullptr;
  // fflush first so that the reason is the one of the failed write, not of
  // the close.
  const bool flushed = std::fflush(file) == 0;
  const std::string reason = flushed ? std::string() : errno_reason();
  const bool closed = std::fclose(file) == 0;
  if (!flushed) throw ToolError(path_, "write error: " + reason);
  if (!closed) throw ToolError(path_, "close failed: " + errno_reason());
}

void refuse_same_file(const std::string& input, const std::string& output) {
  struct stat in {}, out {};
  if (::stat(input.c_str(), &in) != 0 || ::stat(output.c_str(), &out) != 0) return;
  // Character devices such as /dev/null may stand on both sides harmlessly.
  if (S_ISREG(in.st_mode) && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
    throw ToolError(output, "is the same file as the input " + input + "; refusing to overwrite it");
}

}  // namespace tav::tools
