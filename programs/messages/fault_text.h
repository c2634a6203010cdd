// The words both programs use for faults of a compressed file.
#pragma once

#include <string>

#include "container.h"
#include "decode_loop.h"
#include "run_error.h"

namespace tav {

// The fault's sentence for tav_d's console, e.g. "Memory budget of 0M leaves
// no room for the model; the file is invalid." (no newline).
std::string header_fault_message(HeaderFault f, const ContainerHeader& h);

// The fault as a short reason, starting "invalid header: " or
// "unsupported: ", for one-line error reports.
std::string header_fault_reason(HeaderFault f, const ContainerHeader& h);

// Why a compressed file is damaged, for "damaged: REASON at position N": the
// member fault, or how the stream failed.  The stream of a member (a file
// with trailers: `checked`) is named by its number, counted from 1:
// "the stream of member 4 is damaged: it ends before its text".
std::string damage_reason(const RunError& e, bool checked);

// A plain file (no trailer) refused: "not a .tav file or cut short".
inline constexpr const char* NOT_COMPRESSED = "not a .tav file or cut short";

}  // namespace tav
