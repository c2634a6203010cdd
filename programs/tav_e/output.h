// Opening and committing tav_e's named output, shared by compression and
// decompression: the checks before any work (the output is not the input, an
// existing file needs -f, no terminal without -f) and the messages when the
// result cannot be put in place.  Both return an exit status, or -1 to go on.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "options.h"
#include "run_plan.h"
#include "sink.h"
#include "output_file.h"

namespace tav {

// `what` names the data a terminal refuses ("compressed data"); null: a
// terminal is a fine output.
int open_output(const Options& opt, int in_fd, const struct stat& in_st, OutputFile& out,
                const char* what);

int commit_output(const Options& opt, Sink& sink, mode_t mode);

// Refuses a terminal as standard output unless forced.
int check_stdout(const Options& opt, const char* what);

// The threads of a run's plan, with tav_e's notice on standard error when
// the memory limit reduced them (unless -q).
unsigned report_threads(const Options& opt, const ThreadPlan& plan);

// -T and -M as the run engine takes them.
RunLimits run_limits(const Options& opt);

}  // namespace tav
