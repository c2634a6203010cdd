// FileLoader: loads a whole file into one buffer of exactly its length.
//
// Used by the context sort tools and their inverse, which need random access
// to the complete text.  The buffer carries no terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

struct LoadedFile {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t length = 0;

  std::span<const std::uint8_t> bytes() const { return {data.get(), length}; }
};

// Loads `path` whole.  Regular files are read in their size as found when
// opened; anything else (a pipe, a device) is read to its end.  Throws
// ToolError naming the file when it cannot be opened or read, when it changes
// length while being read, or when there is not enough memory for it.
LoadedFile load_file(const std::string& path);
