// The streams: the same bytes as the one-shot calls (and so as tav_e) for
// any split of the input into calls and any room in the output.
#include <gtest/gtest.h>

#include <algorithm>

#include "lib_test_support.h"

using namespace tavtest;

namespace {

// Pushes `text` in pieces of `in_step` bytes through output buffers of
// `out_step` bytes; a FLUSH after every `flush_every` bytes (0: never).
Bytes compress_stream(tav_cctx* c, const Bytes& text, size_t in_step, size_t out_step, size_t flush_every = 0) {
  Bytes out, buf(out_step);
  size_t pos = 0;
  for (;;) {
    size_t n = std::min(in_step, text.size() - pos);
    if (flush_every != 0) n = std::min(n, flush_every - pos % flush_every);
    tav_in_buffer in{text.data() + pos, n, 0};
    const bool last = pos + n == text.size();
    const bool flush = flush_every != 0 && (pos + n) % flush_every == 0;
    const tav_end_directive end = last ? TAV_END : flush ? TAV_FLUSH : TAV_CONTINUE;
    size_t remaining = 1;
    while (in.pos < in.size || (end != TAV_CONTINUE && remaining != 0)) {
      tav_out_buffer o{buf.data(), buf.size(), 0};
      const tav_error e = tav_compress_stream(c, &o, &in, end, &remaining);
      EXPECT_EQ(e, TAV_OK);
      if (e != TAV_OK) return {};
      out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(o.pos));
    }
    pos += n;
    if (last) return out;
  }
}

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

TEST(LibStream, SameBytesAsOneShotForAnySplit) {
  const std::vector<std::pair<tav_param, int64_t>> params = {
      {TAV_PARAM_ORDER, 2}, {TAV_PARAM_MEMORY_MB, 8}, {TAV_PARAM_BLOCK_SIZE, 3000}};
  const SplitCase cases[] = {
      {7000, 1, 1, 1}, {6000, 777, 5, 2}, {9000, 1 << 20, 1 << 20, 2}, {0, 1, 1, 1}, {3000, 1000, 64, 1}};
  tav_cctx* c = tav_cctx_create();  // one context, stream after stream
  tav_dctx* d = tav_dctx_create();
  for (const auto& [param, value] : params) ASSERT_EQ(tav_cctx_set(c, param, value), TAV_OK);
  for (const auto& s : cases) {
    SCOPED_TRACE(testing::Message() << s.text_bytes << " bytes in " << s.in_step << ", out " << s.out_step
                                    << ", threads " << s.threads);
    const Bytes text = sample(s.text_bytes);
    ASSERT_EQ(tav_cctx_set(c, TAV_PARAM_THREADS, s.threads), TAV_OK);
    ASSERT_EQ(tav_dctx_set(d, TAV_PARAM_THREADS, s.threads), TAV_OK);
    const Bytes file = compress_stream(c, text, s.in_step, s.out_step);
    EXPECT_EQ(file, compress_with(params, text));
    EXPECT_EQ(decompress_stream(d, file, s.in_step, s.out_step), text);
  }
  tav_cctx_free(c);
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
