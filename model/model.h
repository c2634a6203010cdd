// Model: everything one instance of the context model owns.  The decoder and
// the compressor each hold their own; nothing is shared between instances.
#pragma once

#include <cstdint>
#include <vector>

#include "context_node.h"
#include "decoder_types.h"
#include "node_store.h"

namespace tav {

struct Model {
  NodeStore store;

  // Context tree.  stack[k] points at the 4-byte field holding the reference
  // of the level-k node: root_slot for level 0, otherwise the successor field
  // of the last coded byte's entry in the level-(k-1) node.
  uint8_t root_slot[4] = {};
  std::vector<uint8_t*> stack;  // level_limit + 1 entries (level level_limit is written, never read)
  uint32_t level_count = 0;
  uint32_t level_limit = 0;

  // TextBuffer: byte p holds the coded byte of position p once it is coded.
  const uint8_t* text = nullptr;
  uint32_t text_length = 0;

  // Mixer scratch, rebuilt for every byte.
  float symbol_mass[256] = {};
  std::vector<float> level_weight;  // one per level
  double floor_share = 0.0;

  NodeView node_at_level(uint32_t k) const {
    const Ref r = load_u32(stack[k]);
    return NodeView{store.address(r), store.symbol_count(r)};
  }
};

}  // namespace tav
