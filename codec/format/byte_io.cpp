#include "byte_io.h"

#include <sys/stat.h>

#include <new>

namespace tav {

bool read_all_bytes(std::FILE* in, std::vector<uint8_t>& out) {
  out.clear();
  // A regular file's size is known: one allocation instead of a doubling series.
  struct stat st {};
  const long at = std::ftell(in);
  try {
    if (::fstat(::fileno(in), &st) == 0 && S_ISREG(st.st_mode) && at >= 0 && st.st_size > at)
      out.reserve(static_cast<size_t>(st.st_size - at));
    uint8_t buf[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, in)) > 0) out.insert(out.end(), buf, buf + got);
  } catch (const std::bad_alloc&) {
    out = {};
    errno = ENOMEM;
    return false;
  }
  return std::ferror(in) == 0;
}

}  // namespace tav
