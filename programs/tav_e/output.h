// Opening and committing tav_e's output, shared by compression and
// decompression: the checks before any work (the output is not the input, an
// existing file needs -f, no terminal without -f) and the messages when the
// result cannot be put in place.  Each returns an exit status, or -1 to go on.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "options.h"
#include "run_plan.h"
#include "sink.h"
#include "input_file.h"
#include "output_file.h"

namespace tav {

// `what` names the data a terminal refuses ("compressed data"); null: a
// terminal is a fine output.
int open_output(const Options& opt, int in_fd, const struct stat& in_st, OutputFile& out,
                const char* what);

// The output takes the attributes of `source`, the input (OutputFile::commit).
int commit_output(const Options& opt, Sink& sink, const struct stat& source);

// --rm: removes the input once `out`, a committed file, holds its result;
// `in_st` is what the input was when opened.  Standard input, standard
// output and an output written in place (a device, a FIFO) keep it.
int remove_input(const Options& opt, const struct stat& in_st, const OutputFile& out);

// Opens opt.input (standard input when none is named), refusing a
// directory.  Returns an exit status, or -1.
int open_input(const Options& opt, InputFile& in);

// Refuses standard output when it is the input (a regular file, as cat
// refuses it: `tav_e -c a.txt >> a.txt` would read its own output), before
// the input is read; and a terminal, unless forced, for `what` (null: a
// terminal is a fine output).
int check_stdout(const Options& opt, const char* what);

// The threads of a run's plan, with tav_e's notice on standard error when
// the memory limit reduced them (unless -q).
unsigned report_threads(const Options& opt, const ThreadPlan& plan);

// -T and -M as the run engine takes them.
RunLimits run_limits(const Options& opt);

}  // namespace tav
