// Context tree: initialisation and the update after every coded byte.
//
// Arithmetic (rounding toward zero, binary64 steps, binary32 stores) and the
// order of every step are part of the compressed format; see context_tree.cpp.
#pragma once

#include <cstdint>

#include "model.h"

namespace tav {

// Rate tables, indexed by min(level, 6).  Fixed bit patterns: several differ in
// the last bit from the quotient the model's own arithmetic would give.
extern const float VISIT_RATE[7];
extern const float VISIT_RATE_BOOST[7];
extern const float TOTAL_RATE[7];
extern const float TOTAL_RATE_BOOST[7];
extern const float SPREAD_SHARE[7];
extern const double HIT_DECAY;

// Prepares `m` for a text of `text_length` bytes held at `text` (written by
// the caller position by position before each update).  Sizes the context
// stack from level_limit.  Returns false when the node store refuses the root
// (a budget of 0 MB).  Requires the numeric mode to be set.
bool init_model(Model& m, uint32_t level_limit, uint32_t memory_mb, const uint8_t* text,
                uint32_t text_length);

// Updates every active context with byte s at position i (text[i] == s must
// already hold), consuming the winner flag, and rebuilds the context stack.
void update_contexts(Model& m, uint8_t s, uint32_t i);

}  // namespace tav
