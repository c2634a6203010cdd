// Shared body of context_sort_line and context_sort_file.
#pragma once

#include "context_sort.h"

namespace tav::tools {

// Runs the program: `context_sort_* [INPUT [OUTPUT]]`, by default
// "english_lf" into "english.out".  A non-empty input whose last byte is not
// LF is sorted all the same, with a warning on standard error that the
// inverse cannot rebuild its last line.  Returns the exit status.
int context_sort_main(int argc, char** argv, ContextOrder order);

}  // namespace tav::tools
