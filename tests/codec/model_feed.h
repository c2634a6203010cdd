// Drives a model instance through a byte sequence the way both coders do
// (predict, learn), without a range coder.
#pragma once

#include <cstdint>
#include <vector>

#include "byte_model.h"

namespace tav {

struct ModelFeed {
  std::vector<uint8_t> text;
  Model model;
  uint32_t position = 0;

  ModelFeed(uint32_t text_length, uint32_t level_limit, uint32_t memory_mb)
      : text(text_length + 1u, 0) {
    init_model(model, level_limit, memory_mb, text.data(), text_length);
  }

  void code(uint8_t s) {
    text[position] = s;
    predict(model, position);
    learn(model, s, position);
    ++position;
  }
};

}  // namespace tav
