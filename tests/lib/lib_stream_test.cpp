// The streams: decoding takes compressed bytes in pieces of any size into
// any room, and a flush ends a block.  That compression gives the one-shot
// calls' bytes for any split is guarded with every other entry point in
// tests/programs/same_bytes_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>

#include "lib_test_support.h"

using namespace tavtest;

namespace {

Bytes decompress_stream(tav_dctx* d, const Bytes& file, size_t in_step, size_t out_step) {
  Bytes text, buf(out_step);
  size_t pos = 0, remaining = 1;
  while (pos < file.size() || remaining != 0) {
    const size_t n = std::min(in_step, file.size() - pos);
    tav_in_buffer in{file.data() + pos, n, 0};
    tav_out_buffer o{buf.data(), buf.size(), 0};
    const tav_error e = tav_decompress_stream(d, &o, &in, pos + n == file.size() ? TAV_END : TAV_CONTINUE, &remaining);
    EXPECT_EQ(e, TAV_OK);
    if (e != TAV_OK) return {};
    pos += in.pos;
    text.insert(text.end(), buf.begin(), buf.begin() + static_cast<long>(o.pos));
  }
  return text;
}

struct SplitCase {
  size_t text_bytes, in_step, out_step;
  int threads;
};

TEST(LibStream, DecodesForAnySplit) {
  const std::vector<std::pair<tav_param, int64_t>> params = {
      {TAV_PARAM_ORDER, 2}, {TAV_PARAM_MEMORY_MB, 8}, {TAV_PARAM_BLOCK_SIZE, 3000}};
  const SplitCase cases[] = {
      {7000, 1, 1, 1}, {6000, 777, 5, 2}, {9000, 1 << 20, 1 << 20, 2}, {0, 1, 1, 1}, {3000, 1000, 64, 1}};
  tav_dctx* d = tav_dctx_create();  // one context, stream after stream
  for (const auto& s : cases) {
    SCOPED_TRACE(testing::Message() << s.text_bytes << " bytes in " << s.in_step << ", out " << s.out_step
                                    << ", threads " << s.threads);
    const Bytes text = sample(s.text_bytes);
    ASSERT_EQ(tav_dctx_set(d, TAV_PARAM_THREADS, s.threads), TAV_OK);
    EXPECT_EQ(decompress_stream(d, compress_with(params, text), s.in_step, s.out_step), text);
  }
  tav_dctx_free(d);
}

TEST(LibStream, FlushEndsTheBlock) {
  const Bytes text = sample(7500);
  tav_cctx* c = tav_cctx_create();
  ASSERT_EQ(tav_cctx_set(c, TAV_PARAM_ORDER, 2), TAV_OK);
  ASSERT_EQ(tav_cctx_set(c, TAV_PARAM_BLOCK_SIZE, 3000), TAV_OK);
  const Bytes flushed = compress_stream(c, text, 1000, 100, 2500);
  tav_cctx_free(c);
  EXPECT_EQ(flushed, compress_with({{TAV_PARAM_ORDER, 2}, {TAV_PARAM_BLOCK_SIZE, 2500}}, text));
}

}  // namespace
