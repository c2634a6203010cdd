#include "node_store.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

namespace tav {

namespace {

[[noreturn]] void report_block_refusal() {
  std::printf("\nFailed to allocate a block :(\n");
  std::fflush(stdout);
  std::exit(2);
}

NodeStore::RefusalHandler g_refusal_handler = nullptr;

Ref make_ref(uint32_t page, uint32_t slot) { return NODE_REF_FLAG | (page << 8) | slot; }

}  // namespace

void NodeStore::set_block_refusal_handler(RefusalHandler h) { g_refusal_handler = h; }

NodeStore::~NodeStore() { free_blocks(); }

void NodeStore::free_blocks() {
  for (uint8_t* b : blocks_) std::free(b);
  blocks_.clear();
}

void NodeStore::reset(uint32_t memory_mb) {
  assert(memory_mb <= MAX_MEMORY_MB);
  free_blocks();
  blocks_.reserve(memory_mb);
  blocks_left_ = memory_mb;
  pages_used_ = 0;
  for (uint32_t k = 0; k < CLASS_COUNT; ++k) {
    free_head_[k] = NULL_NODE;
    free_count_[k] = 0;
  }
}

// Pages are handed out in address order, block after block, so the list of
// free pages is always the tail of the newest block: a counter stands for it.
bool NodeStore::take_page(uint32_t& page) {
  if (pages_used_ == blocks_.size() * PAGES_PER_BLOCK) {
    if (blocks_left_ == 0) return false;
    void* const block = std::aligned_alloc(PAGE_BYTES, BLOCK_BYTES);
    if (block == nullptr) {
      if (g_refusal_handler != nullptr) g_refusal_handler();
      report_block_refusal();
    }
    --blocks_left_;
    blocks_.push_back(static_cast<uint8_t*>(block));
  }
  page = pages_used_++;
  return true;
}

Ref NodeStore::allocate(uint32_t n) {
  assert(n < CLASS_COUNT);
  if (free_head_[n] != NULL_NODE) {
    const Ref slot = free_head_[n];
    free_head_[n] = load_u32(address(slot));
    --free_count_[n];
    return slot;
  }
  uint32_t page = 0;
  if (!take_page(page)) return NULL_NODE;
  uint8_t* const p = page_address(page);
  store_u32(p, n);
  // Thread slots 1.. in ascending order; slot 0 is handed out at once.
  const uint32_t cap = slots_per_page(n);
  for (uint32_t k = 1; k < cap; ++k) {
    const Ref next = (k + 1 < cap) ? make_ref(page, k + 1) : NULL_NODE;
    store_u32(p + PAGE_HEADER_BYTES + k * node_bytes(n), next);
  }
  free_head_[n] = cap > 1 ? make_ref(page, 1) : NULL_NODE;
  free_count_[n] = cap - 1;
  return make_ref(page, 0);
}

void NodeStore::release(Ref node, uint32_t n) {
  assert(n < CLASS_COUNT && symbol_count(node) == n);
  store_u32(address(node), free_head_[n]);
  free_head_[n] = node;
  ++free_count_[n];
}

uint32_t NodeStore::unused_reserved_bytes() const {
  uint32_t sum = 0;
  for (uint32_t k = 0; k < CLASS_COUNT; ++k) sum += free_count_[k] * node_bytes(k);
  return sum;
}

}  // namespace tav
