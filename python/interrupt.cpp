#include "interrupt.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace tav_python {
namespace {

namespace py = pybind11;

// The thread Python runs signal handlers in.
unsigned long main_thread = 0;

// How often the waiting thread lets the handlers run.
constexpr std::chrono::milliseconds SLICE{50};

// Gives the GIL up for its lifetime; take() and give() hold it again
// briefly.  The destructor takes it back on every path out.
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  ~GilReleased() {
    if (state_ != nullptr) PyEval_RestoreThread(state_);
  }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;
  void take() {
    PyEval_RestoreThread(state_);
    state_ = nullptr;
  }
  void give() { state_ = PyEval_SaveThread(); }

 private:
  PyThreadState* state_;
};

// The work on its helper thread, and what the waiting thread sees of it.
struct HelperRun {
  std::mutex mutex;
  std::condition_variable ended_cv;
  bool ended = false;
  std::exception_ptr failure;
};

// Joins the helper on every path out, so that nothing it uses goes first.
struct Joined {
  std::thread thread;
  ~Joined() {
    if (thread.joinable()) thread.join();
  }
};

}  // namespace

void note_main_thread() {
  main_thread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

void run_interruptible(const std::function<void()>& work, StopFlag& stop) {
  stop.clear();
  if (PyThread_get_thread_ident() != main_thread) {
    py::gil_scoped_release unlocked;
    work();
    return;
  }
  HelperRun run;
  bool interrupted = false;  // a handler raised: its exception is set in this thread
  {
    GilReleased unlocked;
    Joined helper;
    try {
      helper.thread = std::thread([&] {
        try {
          work();
        } catch (...) {
          run.failure = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(run.mutex);
        run.ended = true;
        run.ended_cv.notify_one();
      });
    } catch (const std::system_error&) {
      work();  // no thread to be had: run here, without the interrupt
      return;
    }
    std::unique_lock<std::mutex> lock(run.mutex);
    while (!run.ended_cv.wait_for(lock, SLICE, [&] { return run.ended; })) {
      if (interrupted) continue;  // stopping: only the end is awaited now
      lock.unlock();
      unlocked.take();
      if (PyErr_CheckSignals() != 0) {
        interrupted = true;
        stop.request();
      }
      unlocked.give();
      lock.lock();
    }
  }
  // The handler's exception stays set from PyErr_CheckSignals to here.
  if (interrupted) throw py::error_already_set();
  if (run.failure) std::rethrow_exception(run.failure);
}

}  // namespace tav_python
