#include "file_loader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "tool_error.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::unique_ptr<std::uint8_t[]> allocate(const std::string& path, std::size_t length) {
  try {
    return std::make_unique_for_overwrite<std::uint8_t[]>(length);
  } catch (const std::bad_alloc&) {
    throw ToolError(path, "not enough memory to load " + std::to_string(length) + " bytes");
  }
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
  LoadedFile file;
  std::size_t capacity = 0;
  for (;;) {
    if (file.length == capacity) {
      const std::size_t grown = capacity == 0 ? (1 << 16) : capacity * 2;
      auto bigger = allocate(path, grown);
      if (file.length != 0) std::memcpy(bigger.get(), file.data.get(), file.length);
      file.data = std::move(bigger);
      capacity = grown;
    }
    const std::size_t n = read_fully(f, path, file.data.get() + file.length, capacity - file.length);
    if (n == 0) break;
    file.length += n;
  }
  // Give back the slack so the caller holds exactly the file's length.
  auto exact = allocate(path, file.length);
  if (file.length != 0) std::memcpy(exact.get(), file.data.get(), file.length);
  file.data = std::move(exact);
  return file;
}

}  // namespace

LoadedFile load_file(const std::string& path) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) throw ToolError(path, "cannot open for reading: " + errno_reason());
  struct stat st {};
  if (::fstat(fileno(f.get()), &st) != 0) throw ToolError(path, "cannot inspect: " + errno_reason());
  if (S_ISDIR(st.st_mode)) throw ToolError(path, "is a directory");
  if (!S_ISREG(st.st_mode)) return load_stream(f.get(), path);

  LoadedFile file;
  file.length = static_cast<std::size_t>(st.st_size);
  file.data = allocate(path, file.length);
  const std::size_t got = read_fully(f.get(), path, file.data.get(), file.length);
  if (got != file.length) throw ToolError(path, "file shrank while being read");
  std::uint8_t extra;
  if (std::fread(&extra, 1, 1, f.get()) != 0) throw ToolError(path, "file grew while being read");
  return file;
}
