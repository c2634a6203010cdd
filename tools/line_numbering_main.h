// Shared body of line_number_msb and line_number_lsb.
#pragma once

#include "line_tagging.h"

namespace tav::tools {

// Runs the program: `line_number_* INPUT OUTPUT`; any other number of
// arguments is a usage error.  Returns the exit status.
int line_numbering_main(int argc, char** argv, DigitOrder order);

}  // namespace tav::tools
