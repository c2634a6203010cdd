// Compressor to decoder round trips through real container bytes, with the
// decoder consuming exactly the stream the compressor wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "container_io.h"
#include "decode_loop.h"
#include "encode_stream.h"
#include "order_fallback.h"
#include "settings.h"

namespace tav {
namespace {

using test::Bytes;

// Containers are named by level_limit here, so that 0 levels can be asked
// for: the order level_limit - 1 wraps, and the header's order + 1 wraps back.
test::Compressed compress(const Bytes& text, uint32_t level_limit, uint32_t memory_mb) {
  return test::compress_text(text, level_limit - 1, memory_mb);
}

test::Decompressed decompress(const Bytes& file) { return test::decompress_file(file); }

Bytes from(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes english(size_t n) {
  const std::string words[] = {"the ", "of ", "and ", "to ", "in ", "a ", "is ", "that ", "for ",
                               "it ", "as ", "was ", "with ", "be ", "by ", "on ", "not ",
                               "he ", "this ", "are ", "or ", "his ", "from ", "at ", "which ",
                               "but ", "have ", "an ", "had ", "they ", "you ", "were ", "their ",
                               "one ", "all ", "we ", "can ", "her ", "has ", "there ", "been ",
                               "if ", "more ", "when ", "will ", "would ", "who ", "so ", "no.\n"};
  std::mt19937 rng(7);
  Bytes out;
  while (out.size() < n) {
    const std::string& w = words[rng() % std::size(words)];
    out.insert(out.end(), w.begin(), w.end());
  }
  out.resize(n);
  return out;
}

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

Bytes all_byte_values(int rounds) {
  Bytes out;
  for (int r = 0; r < rounds; ++r)
    for (int b = 0; b < 256; ++b) out.push_back(static_cast<uint8_t>(r % 2 ? 255 - b : b));
  return out;
}

void expect_round_trip(const Bytes& text, uint32_t level_limit, uint32_t memory_mb,
                       const std::string& what) {
  SCOPED_TRACE(what + " level_limit=" + std::to_string(level_limit) +
               " memory_mb=" + std::to_string(memory_mb));
  const test::Compressed c = compress(text, level_limit, memory_mb);
  ASSERT_EQ(c.enc.status, EncodeStatus::ok) << describe(c.enc.status) << " at " << c.enc.position;
  ASSERT_EQ(c.file.size(), HEADER_BYTES + c.enc.stream_bytes);
  const test::Decompressed d = decompress(c.file);
  ASSERT_EQ(d.result.status, ByteStatus::ok) << describe(d.result.status) << " at " << d.result.position;
  EXPECT_TRUE(d.text == text) << "decoded text differs";
  // The decoder reads exactly the bytes the compressor wrote.
  EXPECT_EQ(d.result.stream_bytes, c.enc.stream_bytes);
}

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(set_numeric_mode()); }
};

TEST_F(RoundTrip, InputsAndOrders) {
  const struct {
    const char* name;
    Bytes text;
  } inputs[] = {
      {"empty", {}},
      {"one byte", {0x41}},
      {"one repeated byte", Bytes(5000, 'z')},
      {"all byte values", all_byte_values(6)},
      {"english-like", english(60000)},
      {"random", random_bytes(20000, 3)},
      {"0xFF run", Bytes(3000, 0xFF)},
      {"short text", from("abracadabra, abracadabra!\n")},
  };
  for (const auto& in : inputs)
    for (uint32_t level_limit : {0u, 1u, 2u, 3u, 7u, 10u, 17u})
      expect_round_trip(in.text, level_limit, 64, in.name);
}

TEST_F(RoundTrip, BudgetsThatRunOut) {
  // 1 and 2 MB run out on these inputs: node growth and successor expansion
  // are refused and the model falls back to overwriting and dropping levels.
  const Bytes text = english(400000);
  for (uint32_t mb : {1u, 2u}) {
    expect_round_trip(text, 7, mb, "english");
    expect_round_trip(random_bytes(150000, 9), 4, mb, "random");
  }
  // Check the budget was really spent: every page of the budget was taken.
  Model m;
  ContainerHeader h;
  h.text_length = static_cast<uint32_t>(text.size());
  h.level_limit = 7;
  h.memory_mb = 1;
  VectorSink out;
  ASSERT_EQ(encode_stream(m, h, text.data(), out).status, EncodeStatus::ok);
  EXPECT_EQ(m.store.pages_used(), 256u);
  EXPECT_EQ(m.store.blocks_left(), 0u);
}

TEST_F(RoundTrip, LargeBudgetAndDeepOrder) {
  expect_round_trip(english(300000), 33, 2048, "english deep");
  expect_round_trip(english(50000), MAX_LEVEL_LIMIT, 256, "the full context stack");
  // One level more does not fit the decoder's stack: neither side codes it.
  const Bytes text = english(1000);
  EXPECT_EQ(compress(text, MAX_LEVEL_LIMIT + 1, 256).enc.status, EncodeStatus::invalid_header);
  Bytes file = compress(text, MAX_LEVEL_LIMIT, 256).file;
  file[4] = static_cast<uint8_t>(MAX_LEVEL_LIMIT + 1);
  file[5] = static_cast<uint8_t>((MAX_LEVEL_LIMIT + 1) >> 8);
  EXPECT_EQ(decompress(file).result.status, ByteStatus::invalid_header);
}

// A sink that takes `room` bytes and refuses the rest.
struct SmallSink final : ByteSink {
  size_t room;
  Bytes bytes;
  explicit SmallSink(size_t n) : room(n) {}
  bool write(std::span<const uint8_t> b) override {
    if (bytes.size() + b.size() > room) return false;
    bytes.insert(bytes.end(), b.begin(), b.end());
    return true;
  }
};

// Memory the machine refuses, and an output that refuses bytes, stop both
// coders with their own status; the decoder hands over the text it decoded
// before the failure, in order.
TEST_F(RoundTrip, RefusedMemoryAndOutputStopTheCoders) {
  const Bytes text = english(400000);
  const test::Compressed c = compress(text, 9, 64);
  ASSERT_EQ(c.enc.status, EncodeStatus::ok);
  const ContainerView v = split_container(c.file);
  constexpr uint64_t TWO_BLOCKS = 2u << 20;  // well below what this text needs
  {
    Model m;
    m.store.set_system_memory_limit(TWO_BLOCKS);
    Bytes decoded(text.size() + 1);
    VectorSink out;
    const StreamResult r = decode_stream(m, v.header, v.stream, decoded.data(), &out);
    ASSERT_EQ(r.status, ByteStatus::out_of_memory);
    EXPECT_GT(r.position, 0u);
    EXPECT_LT(r.position, text.size());
    ASSERT_EQ(out.bytes.size(), r.position);
    EXPECT_TRUE(std::equal(out.bytes.begin(), out.bytes.end(), text.begin()));
  }
  {
    Model m;
    m.store.set_system_memory_limit(TWO_BLOCKS);
    VectorSink out;
    ContainerHeader h = v.header;
    EXPECT_EQ(encode_stream(m, h, text.data(), out).status, EncodeStatus::out_of_memory);
  }
  for (const size_t room : {size_t{0}, size_t{70000}}) {
    Model m;
    Bytes decoded(text.size() + 1);
    SmallSink out(room);
    const StreamResult r = decode_stream(m, v.header, v.stream, decoded.data(), &out);
    EXPECT_EQ(r.status, ByteStatus::output_failed) << room;
    EXPECT_TRUE(std::equal(out.bytes.begin(), out.bytes.end(), text.begin()));
    SmallSink enc_out(room);
    EXPECT_EQ(encode_stream(m, v.header, text.data(), enc_out).status, EncodeStatus::io_error) << room;
  }
}

// The decoder's progress comes before every 512th byte, with the stream
// bytes consumed so far, up to what it consumes in all.
TEST_F(RoundTrip, ProgressOfTheDecoder) {
  const Bytes text = english(3000);
  const test::Compressed c = compress(text, 5, 8);
  const ContainerView v = split_container(c.file);
  std::vector<uint32_t> positions;
  uint64_t last_bytes = 0;
  Bytes decoded(text.size() + 1);
  Model m;
  const StreamResult r = decode_stream(m, v.header, v.stream, decoded.data(), nullptr,
                                       [&](uint32_t p, uint64_t bytes) {
                                         positions.push_back(p);
                                         EXPECT_GE(bytes, last_bytes);
                                         last_bytes = bytes;
                                       });
  ASSERT_EQ(r.status, ByteStatus::ok);
  EXPECT_EQ(positions, (std::vector<uint32_t>{0, 512, 1024, 1536, 2048, 2560}));
  EXPECT_LE(last_bytes, r.stream_bytes);
}

TEST_F(RoundTrip, HeaderOnlyAndShortFiles) {
  // A header with text_length 0 and no stream: nothing to decode.
  Bytes file(8, 0);
  file[4] = 5;
  file[6] = 1;
  test::Decompressed d = decompress(file);
  EXPECT_EQ(d.result.status, ByteStatus::ok);
  EXPECT_TRUE(d.text.empty());
  // Four zero bytes: text_length 0, the other fields keep 257 and 512.
  const Bytes four(4, 0);
  const ContainerHeader h = parse_header_bytes(four.data(), 4);
  EXPECT_EQ(h.text_length, 0u);
  EXPECT_EQ(h.level_limit, 257u);
  EXPECT_EQ(h.memory_mb, 512u);
  const uint8_t five[5] = {1, 0, 0, 0, 0x07};
  EXPECT_EQ(parse_header_bytes(five, 5).level_limit, 0x107u);
}

// A 1000-byte random block repeated with a single-byte change in every third
// copy: high orders give the changed byte frequency 1 while the summed level
// weight is large, and the range can run out.  The compressor must notice it
// (never write a file the decoder cannot read), and order 0 must always work.
TEST_F(RoundTrip, RangeExhaustionIsDetectedAndOrderZeroWorks) {
  int exhausted = 0, tried = 0;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const Bytes block = random_bytes(1000, seed);
    Bytes text;
    std::mt19937 rng(seed * 77);
    for (int copy = 0; copy < 400; ++copy) {
      Bytes b = block;
      if (copy % 3 == 2) b[rng() % b.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      text.insert(text.end(), b.begin(), b.end());
    }
    for (uint32_t order = 4; order <= 8; ++order) {
      ++tried;
      const test::Compressed c = compress(text, order + 1, 256);
      if (c.enc.status == EncodeStatus::range_exhausted) {
        ++exhausted;
        // The decoder of such a stream would meet a range of 0 at the next byte:
        // the stream the compressor wrote so far cannot be completed.
        EXPECT_LT(c.enc.position, text.size() - 1);
        continue;
      }
      ASSERT_EQ(c.enc.status, EncodeStatus::ok);
      const test::Decompressed d = decompress(c.file);
      EXPECT_TRUE(d.text == text) << "seed " << seed << " order " << order;
    }
    expect_round_trip(text, 1, 256, "order 0 on the repeated block");
  }
  EXPECT_GT(exhausted, 0) << "no setting provoked the limit in " << tried << " tries";
}

// The repeated block on which order 6 meets the coder's limit at byte 74032
// (golden_hash_test holds the same case): the fallback reports the failed
// attempt and ends with order 5, whose stream decodes.  Failures no order can
// help end the search at once.
TEST_F(RoundTrip, FallbackToAnotherOrder) {
  const Bytes text = test::repeated_block();
  std::vector<uint32_t> started;
  std::vector<FailedAttempt> failed;
  FallbackObserver observer;
  observer.attempt_starts = [&](uint32_t order) { started.push_back(order); };
  observer.attempt_failed = [&](const FailedAttempt& a) { failed.push_back(a); };
  VectorSink out;
  out.bytes = {1, 2, 3};  // rewound before the second attempt only
  const FallbackResult f = encode_with_fallback(text, {6, 8}, out, observer);
  ASSERT_EQ(f.result.status, EncodeStatus::ok);
  EXPECT_EQ(f.order, 5u);
  EXPECT_EQ(started, (std::vector<uint32_t>{6, 5}));
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].order, 6u);
  EXPECT_EQ(failed[0].position, 74032u);
  EXPECT_EQ(failed[0].status, EncodeStatus::range_exhausted);
  const test::Decompressed d = decompress(out.bytes);
  EXPECT_EQ(d.header.level_limit, 6u);
  EXPECT_TRUE(d.text == text);

  struct Refusing final : RewindableSink {
    bool write(std::span<const uint8_t>) override { return false; }
    bool rewind() override { return true; }
  } refusing;
  VectorSink out2;
  const struct {
    RewindableSink& sink;
    uint64_t memory_limit;  // 1 byte: not even the root's block
    EncodeStatus status;
  } stops[] = {{refusing, UINT64_MAX, EncodeStatus::io_error},
               {out2, 1, EncodeStatus::out_of_memory}};
  for (const auto& c : stops) {
    started.clear();
    EXPECT_EQ(encode_with_fallback(text, {6, 8, c.memory_limit}, c.sink, observer).result.status,
              c.status);
    EXPECT_EQ(started, (std::vector<uint32_t>{6}));
  }
  EXPECT_EQ(failed.size(), 1u);
}

TEST(FallbackOrders, NeighboursThenOrderZero) {
  EXPECT_EQ(fallback_orders(6), (std::vector<uint32_t>{6, 5, 7, 4, 8, 0}));
  EXPECT_EQ(fallback_orders(1), (std::vector<uint32_t>{1, 0, 2, 3}));
  EXPECT_EQ(fallback_orders(0), (std::vector<uint32_t>{0, 1, 2}));
}

}  // namespace
}  // namespace tav
