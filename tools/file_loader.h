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

namespace tav::tools {

// Frees a loaded file's bytes: unmaps them if they were mapped, else deletes
// the buffer they were read into.
struct ReleaseLoadedBytes {
  std::size_t mapped_length = 0;
  void operator()(const std::uint8_t* bytes) const;
};

struct LoadedFile {
  std::unique_ptr<const std::uint8_t[], ReleaseLoadedBytes> data;
  std::size_t length = 0;

  std::span<const std::uint8_t> bytes() const { return {data.get(), length}; }
};

// Loads `path` whole.  Regular files are mapped read-only in their size as
// found when opened (read instead where they cannot be mapped): their pages
// come straight from the system's file cache, with no copy and no fresh
// memory.  Should such a file shrink while mapped, the process ends with a
// message naming it and status 1.  Anything else (a pipe, a device) is read
// to its end.  Throws ToolError naming the file when it cannot be opened or
// read, when it changes length while being read, or when there is not enough
// memory for it.
LoadedFile load_file(const std::string& path);

}  // namespace tav::tools
