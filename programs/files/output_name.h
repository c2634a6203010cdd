// Default name of the decoded file: the final path component of the
// compressed file's name with its extension (from its last dot) replaced by
// ".unp", or ".unp" appended when it has no dot.  "/", "\" and ":" separate
// path components, so the result always names a file in the working
// directory.  Names of any length are accepted.
#pragma once

#include <string>

namespace tav {

std::string make_output_name(const std::string& compressed_name);

}  // namespace tav
