// The model's side of coding one byte, the same in the decoder, the encoder,
// the tests and the benchmarks:
//
//   predict(m, p);                        frequencies of byte p
//   ... the coder finds the byte s and its interval (find_symbol on a target,
//       or symbol_interval of a known byte) and narrows its range ...
//   text[p] = s;  learn(m, s, p);         flag the winner, update the contexts
//
// The order is part of the format: the winner flag set by learn's first step
// must still be set when its second runs, and no weight is computed between.
#pragma once

#include <cstdint>

#include "context_tree.h"
#include "mixer.h"
#include "model.h"

namespace tav {

// Mixes the active contexts into the frequencies of the byte at position p
// (read them with find_symbol, symbol_interval or symbol_frequency).
inline void predict(Model& m, uint32_t p) { mix(m, p); }

// Teaches the model that byte p is s; m.text[p] == s must already hold.
// Returns false when the node store failed during the update (the system
// refused memory): the model no longer follows the format and coding must
// stop after this byte.
inline bool learn(Model& m, uint8_t s, uint32_t p) {
  flag_winner(m, s);
  update_contexts(m, s, p);
  return !m.store.failed();
}

}  // namespace tav
