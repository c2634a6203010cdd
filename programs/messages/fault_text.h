// The words both programs use for faults of a compressed file.
#pragma once

#include <string>

#include "container.h"

namespace tav {

// The fault's sentence for tav_d's console, e.g. "Memory budget of 0M leaves
// no room for the model; the file is invalid." (no newline).
std::string header_fault_message(HeaderFault f, const ContainerHeader& h);

// The fault as a short reason, starting "invalid header: " or
// "unsupported: ", for one-line error reports.
std::string header_fault_reason(HeaderFault f, const ContainerHeader& h);

}  // namespace tav
