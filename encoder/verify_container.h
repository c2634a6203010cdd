// Checks a finished container against the text it should hold, by decoding it
// with the decoder's own model (tav_e -t).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tav {

// Reads a whole container (header and stream) from `in`, positioned at its
// start, decodes it and compares with text[0 .. length).  `container_bytes`
// is the container's size: the decoder must consume exactly that many bytes.
// Returns an empty string when all agrees, else a short reason ("the decoded
// text differs at byte 17").  Requires the numeric mode to be set; needs
// memory for a second copy of the text and a second model.
std::string verify_container(std::FILE* in, const uint8_t* text, uint32_t length,
                             uint64_t container_bytes);

}  // namespace tav
