// Shared body of context_sort_line and context_sort_file.
#pragma once

#include "context_sort.h"

// Runs the program: `context_sort_* [INPUT [OUTPUT]]`, by default
// "english_lf" into "english.out".  Returns the exit status.
int context_sort_main(int argc, char** argv, ContextOrder order);
