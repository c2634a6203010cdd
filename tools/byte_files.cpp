#include "byte_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "tool_error.h"

namespace tav::tools {

namespace {
// Large stream buffers: the tools are limited by the number of library
// calls, not by the disk.
constexpr std::size_t STREAM_BUFFER = 1 << 20;

std::string reason(int err) { return std::strerror(err); }
}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
  if (const int err = file_.open(path); err != 0)
    throw ToolError(path_, err == EISDIR ? "read error: " + reason(err) : "cannot open for reading: " + reason(err));
  stream_ = file_.stream();
  if (stream_ == nullptr) throw ToolError(path_, "cannot open for reading: " + errno_reason());
  std::setvbuf(stream_, nullptr, _IOFBF, STREAM_BUFFER);
}

std::size_t InputFile::read(std::span<std::uint8_t> buffer) {
  const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), stream_);
  if (got < buffer.size() && std::ferror(stream_)) throw ToolError(path_, "read error: " + errno_reason());
  return got;
}

void InputFile::rewind() {
  if (std::fseek(stream_, 0, SEEK_SET) != 0)
    throw ToolError(path_, "cannot go back to the start for a second pass: " + errno_reason());
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
  // An interrupt removes a named temporary, where the file system has no
  // unnamed ones.
  catch_fatal_signals();
  if (const int err = file_.open(path, true); err != 0) throw ToolError(path_, "cannot create: " + reason(err));
  // A regular file reached through /dev/stdout is written in place, from its
  // start, as the shell's redirection asked.
  if (file_.in_place_regular())
    if (const int err = file_.rewrite(nullptr, 0); err != 0) throw ToolError(path_, "write error: " + reason(err));
  stream_ = file_.stream();
  if (stream_ == nullptr) throw ToolError(path_, "cannot create: " + errno_reason());
  std::setvbuf(stream_, nullptr, _IOFBF, STREAM_BUFFER);
}

void OutputFile::write(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size())
    throw ToolError(path_, "write error: " + errno_reason());
}

void OutputFile::close() {
  // fflush first so that the reason is the one of the failed write, not of
  // putting the file in place.
  if (std::fflush(stream_) != 0) throw ToolError(path_, "write error: " + errno_reason());
  if (const int err = file_.commit(); err != 0) throw ToolError(path_, "close failed: " + reason(err));
}

void refuse_same_file(const std::string& input, const std::string& output) {
  struct stat in {}, out {};
  if (::stat(input.c_str(), &in) != 0 || ::stat(output.c_str(), &out) != 0) return;
  // Character devices such as /dev/null may stand on both sides harmlessly.
  if (same_regular_file(in, out))
    throw ToolError(output, "is the same file as the input " + input + "; refusing to overwrite it");
}

}  // namespace tav::tools
