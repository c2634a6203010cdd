// Context tree update.
//
// Every active level, from the highest down, updates its node with the coded
// byte s: find or insert s (growing the node into the next size class, or
// overwriting its last entry when the budget is spent), update the four header
// statistics, decay the entry frequencies and move s's entry up to keep them in
// non-increasing order, then expand s's successor into a child node if it is
// still a text position.  The returned successor field becomes the next level.
//
// Rounding: rv, rt, u, t, v and their complements are binary64 values held for
// one update; every product and every sum is one binary64 operation rounded
// toward zero, and each result is rounded to binary32 when stored.  A single
// differing bit changes the decoded text, so the expressions below keep the
// exact order and grouping of the format.
#include "context_tree.h"

#include "frequency_kernels.h"

#include <algorithm>
#include <cassert>

namespace tav {

const float VISIT_RATE[7] = {
    f32_from_bits(0x3C000000), f32_from_bits(0x3C088889), f32_from_bits(0x3C14F209),
    f32_from_bits(0x3C23D70A), f32_from_bits(0x3C360B61), f32_from_bits(0x3C4CCCCD),
    f32_from_bits(0x3C6A0EA1)};
const float VISIT_RATE_BOOST[7] = {3.0f, 3.0f, 3.5f, 3.5f, 4.0f, 4.0f, 5.0f};
const float TOTAL_RATE[7] = {
    f32_from_bits(0x3C088889), f32_from_bits(0x3C088889), f32_from_bits(0x3C14F209),
    f32_from_bits(0x3C23D70A), f32_from_bits(0x3C6A0EA1), f32_from_bits(0x3C888889),
    f32_from_bits(0x3CA3D70A)};
const float TOTAL_RATE_BOOST[7] = {3.0f, 3.0f, 3.5f, 3.5f, 6.0f, 10.0f, 10.0f};
const float SPREAD_SHARE[7] = {
    f32_from_bits(0x3E800000), f32_from_bits(0x3D800000), f32_from_bits(0x3D000000),
    f32_from_bits(0x3D000000), f32_from_bits(0x3CE38E39), f32_from_bits(0x3CC30C31),
    f32_from_bits(0x3CBA2E8C)};
const double HIT_DECAY = f64_from_bits(0x3FEFB586FB586FB6);

namespace {

constexpr float NEW_VISIT = 1.0f, NEW_WIN = 0.0f, NEW_TOTAL = 1.0f, NEW_HIT = 0.0f;

NodeView view_of(const Model& m, Ref r) { return NodeView{m.store.address(r), m.store.symbol_count(r)}; }

// Header statistics: consumes the winner flag and decays the counts.
void update_header(const NodeView& node, uint32_t j, bool found) {
  float visit = node.visit_count();
  double rv = VISIT_RATE[j];
  double rt = TOTAL_RATE[j];
  double w = 0.0;
  if (visit < 0.0f) {
    visit = -visit;
    node.set_visit_count(visit);
    w = 1.0;
    rv = static_cast<double>(VISIT_RATE[j]) * static_cast<double>(VISIT_RATE_BOOST[j]);
    rt = static_cast<double>(TOTAL_RATE[j]) * static_cast<double>(TOTAL_RATE_BOOST[j]);
  }
  const double keep_v = 1.0 - rv;
  const double keep_t = 1.0 - rt;
  node.set_win_count(static_cast<float>(keep_v * static_cast<double>(node.win_count()) + w));
  node.set_visit_count(static_cast<float>(keep_v * static_cast<double>(visit) + 1.0));
  node.set_hit_count(
      static_cast<float>(static_cast<double>(node.hit_count()) * HIT_DECAY + (found ? 1.0 : 0.0)));
  node.set_total_count(static_cast<float>(keep_t * static_cast<double>(node.total_count()) + 1.0));
}

// Decays entries 0..b-1 toward the coded entry x and moves x up past every
// entry whose frequency is not greater than its own.  Returns x's new index.
uint32_t update_frequencies(const NodeView& node, uint32_t j, uint32_t b, uint32_t x) {
  const double u = 1.0 / static_cast<double>(node.visit_count());
  const double t = SPREAD_SHARE[j];
  if (b > 0) {
    const double v = (t / static_cast<double>(b)) * u;
    decay_frequencies(node.frequencies(), b, 1.0 - u, v);
  }
  const float fx = static_cast<float>(u * (1.0 - t) + static_cast<double>(node.frequency(x)));
  node.set_frequency(x, fx);
  if (x == 0) return 0;

  const uint8_t sym = node.symbol(x);
  const Ref succ = node.successor(x);
  while (x > 0 && fx >= node.frequency(x - 1)) {
    node.set_entry(x, node.symbol(x - 1), node.frequency(x - 1), node.successor(x - 1));
    --x;
  }
  node.set_entry(x, sym, fx, succ);
  return x;
}

// Turns entry x's text-position successor into a child node holding the byte
// that followed.  Returns false when the store refuses the node.
bool expand_successor(Model& m, const NodeView& node, uint32_t x) {
  const uint32_t p = node.successor(x);
  const Ref child = m.store.allocate(1);
  if (child == NULL_NODE) return false;
  const NodeView c{m.store.address(child), 1};
  c.set_visit_count(NEW_VISIT);
  c.set_win_count(NEW_WIN);
  c.set_total_count(NEW_TOTAL);
  c.set_hit_count(NEW_HIT);
  c.set_entry(0, m.text[p], 1.0f, p + 1);
  node.set_successor(x, child);
  return true;
}

// Updates the node referenced from `slot` at `level` with byte s coded at
// position i.  Returns the successor field of s's entry, or nullptr when s was
// new here or its successor could not be expanded.
uint8_t* update_context(Model& m, uint8_t* slot, uint8_t s, uint32_t level, uint32_t i) {
  const uint32_t j = std::min(level, 6u);
  const Ref ref = load_u32(slot);
  NodeView node = view_of(m, ref);
  const uint32_t n = node.n;
  uint32_t x = node.find(s);
  const bool found = x < n;
  uint32_t b = n;

  if (!found) {
    const Ref grown = m.store.allocate(n + 1);
    if (grown != NULL_NODE) {
      const NodeView g{m.store.address(grown), n + 1};
      copy_node(node, g);
      m.store.release(ref, n);
      node = g;
      x = n;
      store_u32(slot, grown);
    } else {
      // Budget spent: the new byte takes the last entry's place; that entry's
      // subtree is lost, not released.  Only the root is ever in class 0, and
      // its first growth cannot be refused once it has a page.
      assert(n > 0);
      x = n - 1;
      b = n - 1;
    }
    node.set_entry(x, s, 0.0f, i + 1);
  }

  update_header(node, j, found);
  if (b > 1 || !found) x = update_frequencies(node, j, b, x);

  if (!found) return nullptr;
  if (!is_node_ref(node.successor(x)) && !expand_successor(m, node, x)) return nullptr;
  return node.successor_field(x);
}

// Asks the cache for the node that `field` refers to: its header and first
// entries.  The next byte weighs this node first thing, and the nodes of long
// contexts lie far apart in node memory, so without the hint every level
// waits for its own miss there.
void prefetch_node(const Model& m, const uint8_t* field) {
  const uint8_t* const base = m.store.address(load_u32(field));
  TAV_PREFETCH(base);
  TAV_PREFETCH(base + 63);
}

}  // namespace

bool init_model(Model& m, uint32_t level_limit, uint32_t memory_mb, const uint8_t* text,
                uint32_t text_length) {
  m.store.reset(memory_mb);
  m.level_limit = level_limit;
  m.text = text;
  m.text_length = text_length;
  const uint32_t levels = std::max(level_limit, 1u);
  m.stack.assign(static_cast<size_t>(levels) + 1, nullptr);
  m.level_weight.assign(levels, 0.0f);

  const Ref root = m.store.allocate(0);
  if (root == NULL_NODE) return false;
  store_u32(m.root_slot, root);
  const NodeView r = view_of(m, root);
  r.set_visit_count(1.0f);
  r.set_win_count(1.0f);
  r.set_total_count(1.0f);
  r.set_hit_count(0.0f);
  m.level_count = 1;
  m.stack[0] = m.root_slot;
  return true;
}

void update_contexts(Model& m, uint8_t s, uint32_t i) {
  assert(m.text[i] == s);
  // Each level's slot is read before any lower level moves the entry that
  // holds it; the lower level's result then replaces the stale pointer.
  for (uint32_t k = m.level_count; k-- > 0;) {
    uint8_t* const r = update_context(m, m.stack[k], s, k, i);
    m.stack[k + 1] = r;
    if (r == nullptr) {
      m.level_count = k;
    } else {
      prefetch_node(m, r);
    }
  }
  m.stack[0] = m.root_slot;
  m.level_count = std::min(m.level_limit, m.level_count + 1);
}

}  // namespace tav
