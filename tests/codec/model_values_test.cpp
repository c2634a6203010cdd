// The model's worked values, to the bit: node store accounting, the context
// tree update, the level weights and integer frequencies of the first bytes.
// Built twice by the test script (default flags and -O3 -march=native); both
// builds must give the same bits.
#include <gtest/gtest.h>

#include <cfenv>
#include <cstdlib>
#include <string>
#include <vector>

#include "context_tree.h"
#include "mixer.h"
#include "model_feed.h"

namespace tav {
namespace {

class ModelValues : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(set_numeric_mode()); }
};

// ---- constants ---------------------------------------------------------------

// The tables are written as decimal literals; each must be the binary32 nearest
// to its decimal (checked here against strtof under round-to-nearest).
TEST_F(ModelValues, TableLiteralsAreNearestBinary32) {
  struct Case {
    float value;
    const char* decimal;
  };
  const Case cases[] = {
      {WIN_PRIOR_MULTI[0][0], "0.031578947"}, {WIN_PRIOR_MULTI[1][1], "0.03529412"},
      {WIN_PRIOR_MULTI[2][2], "0.0375"},      {WIN_PRIOR_MULTI[3][0], "0.5263158"},
      {WIN_PRIOR_MULTI[3][1], "0.23529412"},  {WIN_PRIOR_MULTI[4][3], "0.55"},
      {WIN_PRIOR_MULTI[8][0], "0.15789473"},  {WIN_PRIOR_MULTI[8][1], "0.1764706"},
      {WIN_PRIOR_SINGLE[0][0], "0.03"},       {WIN_PRIOR_SINGLE[8][7], "0.42"},
      {WIN_PRIOR_SINGLE[6][4], "9999"},       {HIT_BLEND[0][0], "0.3"},
      {HIT_BLEND[8][0], "0.15"},              {HIT_BLEND[2][1], "0.35"},
      {HIT_PRIOR[4][4], "0.11"},              {HIT_PRIOR[7][3], "0.05"},
      {LEVEL_FACTOR[0], "0.76"},              {LEVEL_FACTOR[1], "0.765"},
      {LEVEL_FACTOR[2], "0.8"},               {MIX_MASS, "9999743"},
  };
  std::fesetround(FE_TONEAREST);
  for (const Case& c : cases) EXPECT_EQ(bits_of(c.value), bits_of(std::strtof(c.decimal, nullptr))) << c.decimal;
  EXPECT_EQ(bits_of(UNIFORM_BIAS), 0x3F1A36E2EB1C432Dull);
  std::fesetround(FE_TOWARDZERO);
}

// ---- node store --------------------------------------------------------------

TEST_F(ModelValues, SlotsPerPage) {
  const std::pair<uint32_t, uint32_t> rows[] = {{0, 255}, {1, 163}, {2, 120}, {3, 95},  {4, 78},
                                                {12, 33}, {64, 6},  {112, 3}, {150, 2}, {225, 2},
                                                {226, 1}, {256, 1}};
  for (auto [n, cap] : rows) EXPECT_EQ(slots_per_page(n), cap) << "class " << n;
  EXPECT_EQ(slots_per_page(12) * node_bytes(12), 4092u);
}

TEST_F(ModelValues, UnusedBytesAfterRootAndFirstByte) {
  ModelFeed feed(1000, 1, 2);
  EXPECT_EQ(feed.model.store.unused_reserved_bytes(), 4064u);
  EXPECT_EQ(feed.model.store.pages_used(), 1u);
  feed.code('x');
  EXPECT_EQ(feed.model.store.unused_reserved_bytes(), 8130u);
  EXPECT_EQ(feed.model.store.pages_used(), 2u);
}

TEST_F(ModelValues, StoreRefusesOnlyClassesWithoutFreeSlots) {
  NodeStore store;
  store.reset(1);
  std::vector<Ref> taken;
  for (uint32_t k = 0; k < 256; ++k) taken.push_back(store.allocate(k));  // one page each
  EXPECT_EQ(store.pages_used(), 256u);
  EXPECT_EQ(store.blocks_left(), 0u);
  EXPECT_EQ(store.allocate(256), NULL_NODE);  // no page left
  const Ref second = store.allocate(1);       // class 1 has 162 free slots
  EXPECT_NE(second, NULL_NODE);
  store.release(taken[3], 3);
  EXPECT_EQ(store.allocate(3), taken[3]);  // last in, first out
  EXPECT_EQ(store.allocate(255), NULL_NODE);  // one slot per page, already taken
  EXPECT_EQ(store.pages_used(), 256u);
}

// Memory the machine cannot give fails the store, even while the budget
// would still allow more blocks: allocations that need a new page return
// null from then on, the failure stays after the limit is lifted, and only
// reset() clears it.
TEST_F(ModelValues, BlocksBeyondTheMachineFailTheStore) {
  NodeStore store;
  store.set_system_memory_limit(2u << 20);  // one 2 MB chunk: two blocks
  store.reset(8);
  for (uint32_t k = 0; k < 2 * PAGES_PER_BLOCK; ++k) ASSERT_NE(store.allocate(255), NULL_NODE);
  EXPECT_FALSE(store.failed());
  EXPECT_EQ(store.allocate(255), NULL_NODE);
  EXPECT_TRUE(store.failed());
  EXPECT_EQ(store.blocks_left(), 6u);  // the refused block is not counted
  store.set_system_memory_limit(UINT64_MAX);
  EXPECT_EQ(store.allocate(255), NULL_NODE);
  store.reset(8);
  EXPECT_FALSE(store.failed());
  EXPECT_NE(store.allocate(255), NULL_NODE);
}

TEST_F(ModelValues, NewPageHandsOutSlotsInAscendingOrder) {
  NodeStore store;
  store.reset(1);
  const Ref a = store.allocate(2), b = store.allocate(2), c = store.allocate(2);
  EXPECT_EQ(store.address(b) - store.address(a), static_cast<ptrdiff_t>(node_bytes(2)));
  EXPECT_EQ(store.address(c) - store.address(b), static_cast<ptrdiff_t>(node_bytes(2)));
  EXPECT_EQ(store.symbol_count(c), 2u);
  EXPECT_EQ(store.unused_reserved_bytes(), (120u - 3u) * node_bytes(2));
}

TEST_F(ModelValues, OneMegabyteRefusesTheRootsGrowthIntoClass256) {
  ModelFeed feed(400, 1, 1);  // order 0, 1 MB
  for (int b = 0; b < 256; ++b) feed.code(static_cast<uint8_t>(b));
  const NodeView root = feed.model.node_at_level(0);
  EXPECT_EQ(root.n, 255u);
  EXPECT_LT(root.find(255), root.n);  // the newest byte took the last entry's place
  EXPECT_EQ(feed.model.store.pages_used(), 256u);
  int missing = 0;
  for (int b = 0; b < 256; ++b) missing += root.find(static_cast<uint8_t>(b)) == root.n;
  EXPECT_EQ(missing, 1);
}

// ---- context tree ------------------------------------------------------------

TEST_F(ModelValues, FirstByteUpdatesTheRoot) {
  ModelFeed feed(10, 3, 1);
  feed.code('a');
  const NodeView root = feed.model.node_at_level(0);
  ASSERT_EQ(root.n, 1u);
  EXPECT_EQ(root.visit_count(), 1.9921875f);
  EXPECT_EQ(root.win_count(), 0.9921875f);
  EXPECT_EQ(bits_of(root.total_count()), 0x3FFEEEEEu);
  EXPECT_EQ(root.hit_count(), 0.0f);
  EXPECT_EQ(bits_of(root.frequency(0)), 0x3EC0C0C0u);  // nearest rounding would give ...C1
  EXPECT_EQ(root.successor(0), 1u);
  EXPECT_EQ(feed.model.level_count, 1u);
}

TEST_F(ModelValues, TwoDifferentBytes) {
  ModelFeed feed(10, 3, 1);
  feed.code(0x61);
  feed.code(0x62);
  const NodeView root = feed.model.node_at_level(0);
  ASSERT_EQ(root.n, 2u);
  EXPECT_EQ(root.visit_count(), 2.97662353515625f);
  EXPECT_EQ(root.win_count(), 0.98443603515625f);
  EXPECT_EQ(bits_of(root.total_count()), 0x403E6789u);
  EXPECT_EQ(root.hit_count(), 0.0f);
  EXPECT_EQ(root.symbol(0), 0x61);
  EXPECT_EQ(bits_of(root.frequency(0)), 0x3EAAFFC5u);
  EXPECT_EQ(root.symbol(1), 0x62);
  EXPECT_EQ(bits_of(root.frequency(1)), 0x3E810156u);
}

TEST_F(ModelValues, LevelCountFollowsNewBytesAndLimit) {
  struct Case {
    const char* text;
    uint32_t level_limit;
    uint32_t level_count_after;
  };
  const Case cases[] = {
      {"a", 1, 1},     {"a", 0, 0},     {"aa", 3, 2},  {"aaa", 3, 3}, {"aaaa", 3, 3},
      {"abab", 5, 3},  {"ababc", 5, 1}, {"aaaab", 9, 1}, {"ababb", 5, 2}, {"", 0, 1},
  };
  for (const Case& c : cases) {
    const std::string t = c.text;
    ModelFeed feed(static_cast<uint32_t>(t.size()) + 1, c.level_limit, 4);
    for (char ch : t) feed.code(static_cast<uint8_t>(ch));
    EXPECT_EQ(feed.model.level_count, c.level_count_after) << t << " limit " << c.level_limit;
  }
}

TEST_F(ModelValues, SingleEntryNodeKeepsItsFrequency) {
  // "aa": after the second 'a' the order-1 node of "a" exists with entry 'a' at 1.0;
  // a third 'a' codes it again and only its header changes.
  ModelFeed feed(10, 2, 1);
  feed.code('a');
  feed.code('a');
  feed.code('a');
  ASSERT_EQ(feed.model.level_count, 2u);
  const NodeView child = feed.model.node_at_level(1);
  ASSERT_EQ(child.n, 1u);
  EXPECT_EQ(child.frequency(0), 1.0f);
  EXPECT_GT(child.visit_count(), 1.0f);
}

// ---- mixing and weights --------------------------------------------------------

TEST_F(ModelValues, FirstByteWeightsAndFrequencies) {
  ModelFeed feed(10, 3, 1);
  EXPECT_EQ(bits_of(context_weight(feed.model.node_at_level(0), 1, 0)), 0x3FE10624D4BC6A7Full);
  mix(feed.model, 0);
  EXPECT_EQ(bits_of(feed.model.level_weight[0]), 0x3F083126u);
  EXPECT_EQ(bits_of(feed.model.floor_share), 0x40D8E6BC91485A0Eull);
  int64_t total = 0;
  for (uint32_t s = 0; s < 256; ++s) {
    EXPECT_EQ(symbol_frequency(feed.model, s), 25498);
    total += symbol_frequency(feed.model, s);
  }
  EXPECT_EQ(total, 6527488);
}

TEST_F(ModelValues, SecondByteWeightsAndFrequencies) {
  ModelFeed feed(10, 3, 1);
  feed.code('b');
  EXPECT_DOUBLE_EQ(context_weight(feed.model.node_at_level(0), 1, 0), 0.13502187449846637);
  mix(feed.model, 1);
  EXPECT_EQ(bits_of(feed.model.level_weight[0]), 0x3E0A432Cu);
  EXPECT_DOUBLE_EQ(feed.model.floor_share, 30758.33219351388);
  int64_t total = 0;
  for (uint32_t s = 0; s < 256; ++s) {
    EXPECT_EQ(symbol_frequency(feed.model, s), s == 'b' ? 831084 : 30758) << s;
    total += symbol_frequency(feed.model, s);
  }
  EXPECT_EQ(total, 8674374);
}

TEST_F(ModelValues, WeightsOfSpecialNodes) {
  ModelFeed feed(10, 3, 1);
  feed.code('a');
  feed.code('a');  // creates the order-1 node of "a": one entry at 1.0, fresh header
  ASSERT_EQ(feed.model.level_count, 2u);
  const NodeView child = feed.model.node_at_level(1);
  ASSERT_EQ(child.n, 1u);
  EXPECT_EQ(bits_of(context_weight(child, 2, 1)), 0x3F891912ADF83192ull);
  EXPECT_EQ(bits_of(static_cast<float>(context_weight(child, 2, 1))), 0x3C48C895u);
  // win_count 0 where the multi-entry win prior is 0 (level 1 of five levels).
  uint8_t raw[NODE_HEADER_BYTES + 2 * ENTRY_BYTES] = {};
  const NodeView two{raw, 2};
  two.set_visit_count(1.0f);
  two.set_total_count(1.0f);
  EXPECT_EQ(context_weight(two, 5, 1), 0.0);
}

TEST_F(ModelValues, NoActiveLevelGivesFlatFrequencies) {
  ModelFeed feed(1000, 0, 1);
  feed.code('q');  // level_limit 0: the first byte leaves no active level
  ASSERT_EQ(feed.model.level_count, 0u);
  for (uint32_t p : {1u, 7u, 500u}) {
    mix(feed.model, p);
    int64_t total = 0;
    for (uint32_t s = 0; s < 256; ++s) total += symbol_frequency(feed.model, s);
    EXPECT_EQ(symbol_frequency(feed.model, 0), 39062);
    EXPECT_EQ(total, 9999872);
  }
}

TEST_F(ModelValues, SearchBoundaries) {
  ModelFeed feed(10, 3, 1);
  mix(feed.model, 0);  // every byte 25498
  const struct {
    uint32_t target, symbol;
  } cases[] = {{0, 0}, {25497, 0}, {25498, 1}, {25498 * 200 + 5, 200}, {6527487, 255}};
  for (auto c : cases) EXPECT_EQ(find_symbol(feed.model, c.target).symbol, c.symbol) << c.target;
  const SymbolInterval past = find_symbol(feed.model, 6527488);
  EXPECT_EQ(past.symbol, 256u);
  EXPECT_EQ(past.cum_low, 6527488u);
  const SymbolInterval iv = symbol_interval(feed.model, 200);
  EXPECT_EQ(iv.cum_low, 25498u * 200);
  EXPECT_EQ(iv.freq, 25498u);
}

// ---- winner flag -------------------------------------------------------------

struct FlagCase {
  const char* name;
  float top_freq;    // frequency of s in the top node's entry 0
  float lower_freq;  // frequency of s in the lower node (0 = absent)
  int expected;      // level flagged, -1 none
};

TEST_F(ModelValues, WinnerFlag) {
  const FlagCase cases[] = {
      {"top gives all mass", 1.0f, 0.9f, 1},
      {"lower predicts better", 0.6f, 0.7f, 0},
      {"tie goes to the higher level", 0.6f, 0.6f, 1},
      {"zero frequency never wins", 0.0f, 0.0f, -1},
  };
  for (const FlagCase& c : cases) {
    Model m;
    uint8_t text[4] = {};
    ASSERT_TRUE(init_model(m, 2, 1, text, 4));
    // Hand-build: root (level 0) with one entry, a child (level 1) with one entry.
    const Ref low = m.store.allocate(1), top = m.store.allocate(1);
    const NodeView lo{m.store.address(low), 1}, hi{m.store.address(top), 1};
    for (const NodeView* v : {&lo, &hi}) {
      v->set_visit_count(1.0f);
      v->set_win_count(0.0f);
      v->set_total_count(1.0f);
      v->set_hit_count(0.0f);
    }
    lo.set_entry(0, c.lower_freq > 0 ? 's' : 't', c.lower_freq, 0);
    hi.set_entry(0, 's', c.top_freq, 0);
    store_u32(m.root_slot, low);
    uint8_t top_slot[4];
    store_u32(top_slot, top);
    m.stack[1] = top_slot;
    m.level_count = 2;
    flag_winner(m, 's');
    const int flagged = hi.visit_count() < 0 ? 1 : lo.visit_count() < 0 ? 0 : -1;
    EXPECT_EQ(flagged, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace tav
