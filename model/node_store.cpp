#include "node_store.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#endif

namespace tav {

namespace {

Ref make_ref(uint32_t page, uint32_t slot) { return NODE_REF_FLAG | (page << 8) | slot; }

constexpr size_t CHUNK_BYTES = 2 * size_t{BLOCK_BYTES};  // one huge page on x86-64 and aarch64

}  // namespace

NodeStore::~NodeStore() { free_blocks(); }

void NodeStore::free_blocks() {
  if (toucher_.joinable()) toucher_.join();
  std::free(next_chunk_);
  next_chunk_ = nullptr;
  for (void* c : chunks_) std::free(c);
  chunks_.clear();
  blocks_.clear();
  spare_block_ = nullptr;
  std::free(page_class_);
  page_class_ = nullptr;
}

void NodeStore::reset(uint32_t memory_mb) {
  assert(memory_mb <= MAX_MEMORY_MB);
  free_blocks();
  // Zeroed and untouched until pages are handed out: large tables cost only
  // the part that the run uses.
  page_class_ = static_cast<uint16_t*>(
      std::calloc(std::max<size_t>(size_t{memory_mb} * PAGES_PER_BLOCK, 1), sizeof(uint16_t)));
  failed_ = page_class_ == nullptr;
  // Room for every block and chunk up front, so that taking one never
  // allocates (or throws) in the middle of an update.
  try {
    blocks_.reserve(memory_mb);
    chunks_.reserve(memory_mb / 2 + 1);
  } catch (const std::bad_alloc&) {
    failed_ = true;
  }
  blocks_left_ = failed_ ? 0 : memory_mb;
  pages_used_ = 0;
  for (uint32_t k = 0; k < CLASS_COUNT; ++k) {
    free_head_[k] = NULL_NODE;
    free_count_[k] = 0;
  }
}

// A block for the store: the spare half of the last chunk, or the first half
// of a new one.  Memory is counted against the budget only here, so it is
// counted only when the budget allows another block.  Null when the system
// refuses.
uint8_t* NodeStore::new_block() {
  if (spare_block_ != nullptr) {
    uint8_t* const b = spare_block_;
    spare_block_ = nullptr;
    return b;
  }
  void* const chunk = take_chunk();
  if (chunk == nullptr) return nullptr;
  chunks_.push_back(chunk);
  spare_block_ = static_cast<uint8_t*>(chunk) + BLOCK_BYTES;
  if (blocks_left_ > 2) prepare_next_chunk();
  return static_cast<uint8_t*>(chunk);
}

// The chunk prepared ahead, once its touching is done, or a new one; null
// when the system (or the machine's limit) refuses.
void* NodeStore::take_chunk() {
  if (toucher_.joinable()) toucher_.join();
  if (next_chunk_ != nullptr) return std::exchange(next_chunk_, nullptr);
  const bool within_limit = (chunks_.size() + 1) * CHUNK_BYTES <= system_limit_;
  void* const chunk = within_limit ? std::aligned_alloc(CHUNK_BYTES, CHUNK_BYTES) : nullptr;
#if defined(MADV_HUGEPAGE)
  if (chunk != nullptr) madvise(chunk, CHUNK_BYTES, MADV_HUGEPAGE);  // advice only
#endif
  return chunk;
}

// Obtains the chunk after the newest and has another thread touch its pages.
// Nothing here is an error: without memory or a thread, `take_chunk` asks the
// system again when the chunk is needed.
void NodeStore::prepare_next_chunk() {
  if ((chunks_.size() + 1) * CHUNK_BYTES > system_limit_) return;
  next_chunk_ = std::aligned_alloc(CHUNK_BYTES, CHUNK_BYTES);
  if (next_chunk_ == nullptr) return;
#if defined(MADV_HUGEPAGE)
  madvise(next_chunk_, CHUNK_BYTES, MADV_HUGEPAGE);
#endif
  try {
    toucher_ = std::jthread([chunk = static_cast<volatile uint8_t*>(next_chunk_)] {
      for (size_t i = 0; i < CHUNK_BYTES; i += PAGE_BYTES) chunk[i] = 0;
    });
  } catch (const std::system_error&) {
    // No thread: the store touches the chunk itself as it fills it.
  }
}

// Pages are handed out in address order, block after block, so the list of
// free pages is always the tail of the newest block: a counter stands for it.
// A refused block leaves the budget as it was but fails the store for good.
bool NodeStore::take_page(uint32_t& page) {
  if (pages_used_ == blocks_.size() * PAGES_PER_BLOCK) {
    if (blocks_left_ == 0 || failed_) return false;
    uint8_t* const block = new_block();
    if (block == nullptr) {
      failed_ = true;
      return false;
    }
    --blocks_left_;
    blocks_.push_back(block);
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
  page_class_[page] = static_cast<uint16_t>(n);
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
