// NodeStore: the size-class allocator of context nodes.
//
// Which requests it refuses is part of the compressed format, because a
// refusal changes the model.  So the sizes below are fixed:
//   - a page is 4096 bytes; its first 4 bytes hold the size class n; slot k
//     starts at byte 4 + k * (16 + 9n); a page holds floor(4092 / (16 + 9n))
//     slots and no node crosses a page;
//   - a block is 1 MB = 256 pages; at most `memory_mb` blocks are reserved;
//   - a class takes a new page only when its free list is empty; pages go to
//     classes in address order and never come back;
//   - free slots of a class are handed out last in, first out; a new page's
//     slots are handed out in ascending order.
// When the budget is spent `allocate` returns NULL_NODE and the model falls
// back to updates that need no new node.
//
// Memory the system refuses (or that lies past the store's machine limit)
// while the budget still allows it is a different matter: the model can no
// longer follow the format.  The store then returns NULL_NODE too, but marks
// itself failed for good; the coding loops test `failed()` once per byte and
// stop.  Nothing here prints or ends the process.
//
// Speed: resolving a reference needs the class of its page.  Besides the
// page header, the class is kept in a table of 2 bytes per page, so that the
// lookup hits a small, hot array instead of missing on a header line in the
// middle of node memory.  Blocks are taken from 2 MB chunks marked for huge
// pages, which keeps the TLB from missing on every level of every byte; a
// chunk's second block is still counted against the budget only when the
// store needs it.  Fresh memory costs the kernel's clearing of every page on
// first touch, so while one chunk is being filled the next is obtained and
// touched on another thread; the store waits for it only if it runs out
// first.  That chunk is asked of the system early but counted, and a refusal
// reported, only when the store takes it.
#pragma once

#include <cstdint>
#include <thread>
#include <vector>

#include "decoder_types.h"

namespace tav {

inline constexpr uint32_t PAGE_BYTES = 4096;
inline constexpr uint32_t PAGE_HEADER_BYTES = 4;
inline constexpr uint32_t BLOCK_BYTES = 1u << 20;
inline constexpr uint32_t PAGES_PER_BLOCK = BLOCK_BYTES / PAGE_BYTES;
inline constexpr uint32_t CLASS_COUNT = 257;

// Slots per page of class n.
inline constexpr uint32_t slots_per_page(uint32_t n) {
  return (PAGE_BYTES - PAGE_HEADER_BYTES) / node_bytes(n);
}

class NodeStore {
 public:
  NodeStore() = default;
  ~NodeStore();
  NodeStore(const NodeStore&) = delete;
  NodeStore& operator=(const NodeStore&) = delete;

  // Empties the store, sets the budget and clears `failed()`.  memory_mb must
  // not exceed MAX_MEMORY_MB (node references have room for that many
  // blocks).  The machine limit is kept.
  void reset(uint32_t memory_mb);

  // A slot for a node of class n (0..256), or NULL_NODE when the budget is
  // spent.  The slot's bytes are undefined.  Also NULL_NODE, with `failed()`
  // set, when the system refuses memory the budget allows.
  Ref allocate(uint32_t n);

  // True once the system refused memory that the budget allowed (a block,
  // or the page-class table at reset).  The model has then diverged from the
  // format and the stream must stop.
  bool failed() const { return failed_; }

  // Takes back a slot of class n; the next request for class n returns it.
  void release(Ref node, uint32_t n);

  uint8_t* address(Ref node) const {
    const uint32_t page = page_of(node);
    return page_address(page) + PAGE_HEADER_BYTES + (node & 0xFFu) * node_bytes(page_class_[page]);
  }

  // Size class of the page that holds the node (equal to its page header).
  uint32_t symbol_count(Ref node) const { return page_class_[page_of(node)]; }

  uint32_t pages_used() const { return pages_used_; }
  uint32_t blocks_left() const { return blocks_left_; }
  uint32_t blocks_reserved() const { return static_cast<uint32_t>(blocks_.size()); }

  // Bytes of slots on the free lists, 16 + 9k per free slot of class k,
  // summed modulo 2^32.  Unhanded pages and page tails do not count.
  uint32_t unused_reserved_bytes() const;

  // Node memory the machine can give this store, in bytes (no limit by
  // default).  A block past it is treated as refused by the system, so a
  // budget larger than the machine ends in `failed()` instead of exhausting
  // the system's memory.  Survives reset().
  void set_system_memory_limit(uint64_t bytes) { system_limit_ = bytes; }

 private:
  static uint32_t page_of(Ref node) { return (node & ~NODE_REF_FLAG) >> 8; }
  uint8_t* page_address(uint32_t page) const {
    return blocks_[page / PAGES_PER_BLOCK] + (page % PAGES_PER_BLOCK) * PAGE_BYTES;
  }
  bool take_page(uint32_t& page);
  uint8_t* new_block();
  void* take_chunk();
  void prepare_next_chunk();
  void free_blocks();

  std::vector<uint8_t*> blocks_;  // 1 MB blocks in reservation order
  std::vector<void*> chunks_;     // the 2 MB allocations that hold them
  uint8_t* spare_block_ = nullptr;  // second half of the newest chunk, not yet reserved
  void* next_chunk_ = nullptr;      // obtained ahead of need, touched by `toucher_`
  std::jthread toucher_;
  uint16_t* page_class_ = nullptr;  // class of every page the budget allows
  uint32_t blocks_left_ = 0;
  uint32_t pages_used_ = 0;
  uint32_t free_head_[CLASS_COUNT] = {};   // first free slot of each class, or NULL_NODE
  uint32_t free_count_[CLASS_COUNT] = {};  // slots on each free list
  uint64_t system_limit_ = UINT64_MAX;
  bool failed_ = false;
};

}  // namespace tav
