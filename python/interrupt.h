// Library calls that Ctrl-C can stop.
//
// Python runs signal handlers only in the main thread, between bytecodes,
// and a call that codes with the GIL released would deliver KeyboardInterrupt
// only when it returns, minutes later for a large text.  So, in the main
// thread, the call runs on a helper thread while the calling thread wakes
// every 50 ms, takes the GIL and lets Python run its handlers
// (PyErr_CheckSignals).  A handler that raises sets the StopFlag, which the
// library's interrupt check reads on its coding threads; the call then ends
// with TAV_ERROR_INTERRUPTED within about 64 KiB of text per thread, the
// helper is joined, and the handler's exception is raised in its place.
// In any other thread signals never arrive, and the call runs on the calling
// thread with the GIL released.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

#include "codec_calls.h"

namespace tav_python {

// Remembers the interpreter's main thread; called once when the module is
// imported.
void note_main_thread();

// Runs `work` with the GIL released (the caller holds it), as above.  An
// exception `work` throws is thrown here; a signal handler's exception wins
// over whatever the stopped work gave, and is thrown as
// pybind11::error_already_set.
void run_interruptible(const std::function<void()>& work, StopFlag& stop);

}  // namespace tav_python
