// What every entry point of the library does around its work: the model's
// rounding mode on the calling thread for the length of the call, the
// caller's mode back before returning, and no C++ exception crossing into C.
#pragma once

#include <cfenv>
#include <cstring>
#include <new>
#include <stdexcept>

#include "decoder_types.h"
#include "run_error.h"
#include "tav.h"

namespace tav::lib {

// Sets rounding toward zero (the model's mode) and gives the caller's mode
// back when it goes out of scope.  Worker threads set their own mode.
class RoundingScope {
 public:
  RoundingScope() : saved_(std::fegetround()), ok_(set_numeric_mode()) {}
  ~RoundingScope() { std::fesetround(saved_); }
  RoundingScope(const RoundingScope&) = delete;
  RoundingScope& operator=(const RoundingScope&) = delete;
  bool ok() const { return ok_; }

 private:
  int saved_;
  bool ok_;
};

// Runs `f` (returning tav_error) and turns any exception into an error code.
// The codec throws only when it cannot get memory (or, for a size no
// container can hold, length_error); thread failures come back as values.
template <class F>
tav_error guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const RunInterrupted&) {
    return TAV_ERROR_INTERRUPTED;
  } catch (const std::length_error&) {
    return TAV_ERROR_TOO_LARGE;
  } catch (...) {
    return TAV_ERROR_MEMORY;
  }
}

// The integer a caller passed for an enumeration.  C lets any int through
// there, and reading an out-of-range value as the C++ enum is undefined, so
// the bytes are copied out and checked as an int.
template <class E>
int raw_value(const E& e) {
  static_assert(sizeof(E) == sizeof(int));
  int v;
  std::memcpy(&v, &e, sizeof v);
  return v;
}

// guarded() with the model's rounding mode set for the call.
template <class F>
tav_error coded_call(F&& f) noexcept {
  return guarded([&]() -> tav_error {
    const RoundingScope mode;
    if (!mode.ok()) return TAV_ERROR_UNSUPPORTED;
    return f();
  });
}

}  // namespace tav::lib
