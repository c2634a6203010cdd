// tav_e's modes, each a whole run that returns the exit status: compress
// (compress.cpp) and decompress (decompress.cpp) take one input, opt.input to
// opt.output, and run_inputs (inputs.cpp) runs them over every input named;
// test and list (decompress.cpp) go through every input themselves.
#pragma once

#include <string>

#include "options.h"

namespace tav {

int compress(const Options& opt);
int decompress(const Options& opt);
int test_files(const Options& opt);
int list_files(const Options& opt);

// Compresses or decompresses each of opt.inputs in turn; one that fails is
// reported and the next one still runs.  Returns the highest status.
int run_inputs(const Options& opt);

// Whether input `name` ("" for standard input) is one to run in opt.mode, as
// xz decides: a directory never is; when the output would be named after the
// input, neither is a device or FIFO, a symbolic link without -f, nor for
// compression a name that already ends in .tav.  Returns -1 to go on, or
// EXIT_SKIPPED after the warning (not with -q).
int skip_input(const Options& opt, const std::string& name);

// The message for a file whose run ran out of memory; returns its status.
int not_enough_memory(const std::string& label);

}  // namespace tav
