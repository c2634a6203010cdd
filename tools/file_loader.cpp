#include "file_loader.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

#include "input_file.h"
#include "tool_error.h"

namespace tav::tools {

namespace {

std::unique_ptr<std::uint8_t[]> allocate(const std::string& path, std::size_t length) {
  try {
    return std::make_unique_for_overwrite<std::uint8_t[]>(length);
  } catch (const std::bad_alloc&) {
    throw ToolError(path, "not enough memory to load " + std::to_string(length) + " bytes");
  }
}

// A mapped file that another process cuts short raises SIGBUS when the
// missing pages are read.  The handler can only use what it finds ready:
// the message is composed when the file is mapped.
char truncated_message[512];
std::size_t truncated_message_length = 0;

extern "C" void report_truncated_mapping(int) {
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, truncated_message, truncated_message_length);
  ::_exit(1);
}

void report_truncation_of(const std::string& path) {
  const std::string message =
      std::string(program_invocation_short_name) + ": " + path + ": file shrank while being read\n";
  truncated_message_length = std::min(message.size(), sizeof truncated_message);
  std::memcpy(truncated_message, message.data(), truncated_message_length);
  struct sigaction action {};
  action.sa_handler = report_truncated_mapping;
  ::sigaction(SIGBUS, &action, nullptr);
}

// Maps `length` (> 0) bytes of the open file read-only; null where the file
// cannot be mapped.
const std::uint8_t* map_file(int fd, const std::string& path, std::size_t length) {
  void* p = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (p == MAP_FAILED) return nullptr;
  report_truncation_of(path);
  return static_cast<const std::uint8_t*>(p);
}

// Reads until `length` bytes are in or the file ends; returns the count.
std::size_t read_fully(std::FILE* f, const std::string& path, std::uint8_t* into, std::size_t length) {
  std::size_t got = 0;
  while (got < length) {
    const std::size_t n = std::fread(into + got, 1, length - got, f);
    if (n == 0) {
      if (std::ferror(f)) throw ToolError(path, "read error: " + errno_reason());
      break;
    }
    got += n;
  }
  return got;
}

LoadedFile load_stream(std::FILE* f, const std::string& path) {
  std::unique_ptr<std::uint8_t[]> buffer;
  std::size_t length = 0, capacity = 0;
  for (;;) {
    if (length == capacity) {
      const std::size_t grown = capacity == 0 ? (1 << 16) : capacity * 2;
      auto bigger = allocate(path, grown);
      if (length != 0) std::memcpy(bigger.get(), buffer.get(), length);
      buffer = std::move(bigger);
      capacity = grown;
    }
    const std::size_t n = read_fully(f, path, buffer.get() + length, capacity - length);
    if (n == 0) break;
    length += n;
  }
  // Give back the slack so the caller holds exactly the file's length.
  auto exact = allocate(path, length);
  if (length != 0) std::memcpy(exact.get(), buffer.get(), length);
  LoadedFile file;
  file.data.reset(exact.release());
  file.length = length;
  return file;
}

}  // namespace

LoadedFile load_file(const std::string& path) {
  tav::InputFile in;
  if (const int err = in.open(path); err != 0) {
    if (err == EISDIR) throw ToolError(path, "is a directory");
    throw ToolError(path, std::string("cannot open for reading: ") + std::strerror(err));
  }
  std::FILE* const f = in.stream();
  if (f == nullptr) throw ToolError(path, "cannot open for reading: " + errno_reason());
  if (!in.regular()) return load_stream(f, path);

  LoadedFile file;
  file.length = static_cast<std::size_t>(in.status().st_size);
  if (file.length == 0) return file;
  if (const std::uint8_t* mapped = map_file(in.fd(), path, file.length)) {
    file.data = {mapped, ReleaseLoadedBytes{file.length}};
    return file;
  }
  auto buffer = allocate(path, file.length);
  const std::size_t got = read_fully(f, path, buffer.get(), file.length);
  if (got != file.length) throw ToolError(path, "file shrank while being read");
  std::uint8_t extra;
  if (std::fread(&extra, 1, 1, f) != 0) throw ToolError(path, "file grew while being read");
  file.data.reset(buffer.release());
  return file;
}

void ReleaseLoadedBytes::operator()(const std::uint8_t* bytes) const {
  if (mapped_length != 0)
    ::munmap(const_cast<std::uint8_t*>(bytes), mapped_length);
  else
    delete[] bytes;
}

}  // namespace tav::tools
