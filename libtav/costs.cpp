// The code length of every byte of a text under the model: what the coder
// would spend on it, without coding.
#include <cmath>

#include "byte_model.h"
#include "call.h"
#include "run_plan.h"
#include "range_decoder.h"

using namespace tav;
using namespace tav::lib;

namespace {

// Runs the model over `text` and leaves each byte's integer frequency in
// freq[i].  Needs the model's rounding mode.
tav_error frequencies(const uint8_t* text, uint32_t size, uint32_t order, uint32_t memory_mb, double* freq) {
  Model m;
  m.store.set_system_memory_limit(single_model_node_room(size));
  if (!init_model(m, order + 1, memory_mb, text, size)) return TAV_ERROR_MEMORY;
  for (uint32_t p = 0; p < size; ++p) {
    predict(m, p);
    freq[p] = symbol_frequency(m, text[p]);
    if (!learn(m, text[p], p)) return TAV_ERROR_MEMORY;
  }
  return TAV_OK;
}

}  // namespace

extern "C" tav_error tav_costs(const void* text, size_t size, int order, int memory_mb, double* bits) {
  if ((text == nullptr || bits == nullptr) && size > 0) return TAV_ERROR_PARAMETER;
  if (order < 0 || order > TAV_MAX_ORDER || memory_mb < 1 || memory_mb > TAV_MAX_MEMORY_MB)
    return TAV_ERROR_PARAMETER;
  if (size > MAX_TEXT_LENGTH) return TAV_ERROR_TOO_LARGE;
  const tav_error e = coded_call([&] {
    return frequencies(static_cast<const uint8_t*>(text), static_cast<uint32_t>(size),
                       static_cast<uint32_t>(order), static_cast<uint32_t>(memory_mb), bits);
  });
  if (e != TAV_OK) return e;
  // In the caller's rounding mode, as any other arithmetic of the caller's.
  for (size_t i = 0; i < size; ++i) bits[i] = std::log2(FREQ_TOTAL / bits[i]);
  return TAV_OK;
}
