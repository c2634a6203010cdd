// Every error code the library gives, each from the input that causes it:
// the call fails cleanly, never crashes, and says which fault it found.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "lib_test_support.h"

using namespace tavtest;

extern "C" {  // lib_raw_values.c
tav_error set_raw_param(tav_cctx* c, int param, int64_t value);
const char* raw_error_message(int code);
tav_error compress_stream_raw(tav_cctx* c, tav_out_buffer* out, tav_in_buffer* in, int end);
tav_error decompress_stream_raw(tav_dctx* d, tav_out_buffer* out, tav_in_buffer* in, int end);
}

namespace {

// A three-member file of 7000 bytes of text.
const Bytes& three_members() {
  static const Bytes file = compress_with({{TAV_PARAM_ORDER, 2}, {TAV_PARAM_MEMORY_MB, 8}, {TAV_PARAM_BLOCK_SIZE, 2500}},
                                          sample(7000));
  return file;
}

Bytes changed(Bytes b, const std::function<void(Bytes&)>& f) {
  f(b);
  return b;
}

tav_error decompress_status(const Bytes& file) {
  Bytes text(10000);
  size_t n = 0;
  return tav_decompress(file.data(), file.size(), text.data(), text.size(), &n);
}

TEST(LibErrors, BadCompressedInput) {
  const Bytes& good = three_members();
  const struct {
    const char* name;
    Bytes file;
    tav_error expected;
  } cases[] = {
      {"a stream byte changed", changed(good, [](Bytes& b) { b[100] ^= 0x20; }), TAV_ERROR_DAMAGED},
      {"a trailer byte changed", changed(good, [](Bytes& b) { b[b.size() - 20] ^= 1; }), TAV_ERROR_DAMAGED},
      {"cut inside the last member", Bytes(good.begin(), good.end() - 200), TAV_ERROR_DAMAGED},
      {"cut inside the last trailer", Bytes(good.begin(), good.end() - 3), TAV_ERROR_DAMAGED},
      {"garbage", Bytes(64, 0xFF), TAV_ERROR_DAMAGED},
      {"an order no decoder has room for", changed(good, [](Bytes& b) { b[4] = 0xD0, b[5] = 0x07; }),
       TAV_ERROR_UNSUPPORTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decompress_status(c.file), c.expected);
    tav_dctx* d = tav_dctx_create();
    Bytes out(10000);
    tav_in_buffer in{c.file.data(), c.file.size(), 0};
    tav_out_buffer o{out.data(), out.size(), 0};
    EXPECT_EQ(tav_decompress_stream(d, &o, &in, TAV_END, nullptr), c.expected);
    EXPECT_EQ(o.pos, 0u) << "no text of a damaged file";
    EXPECT_EQ(tav_decompress_stream(d, &o, &in, TAV_END, nullptr), TAV_ERROR_STAGE) << "closed after an error";
    tav_dctx_free(d);
  }
  // What the headers and trailers alone show.
  size_t count = 0;
  uint64_t size = 0;
  EXPECT_EQ(tav_list(cases[2].file.data(), cases[2].file.size(), nullptr, 0, &count), TAV_ERROR_DAMAGED);
  EXPECT_EQ(tav_decompressed_size(cases[3].file.data(), cases[3].file.size(), &size), TAV_ERROR_DAMAGED);
  EXPECT_EQ(tav_decompressed_size(good.data(), good.size(), &size), TAV_OK);
  EXPECT_EQ(size, 7000u);
}

TEST(LibErrors, DestinationTooSmallGivesTheSizeNeeded) {
  const Bytes text = sample(3000);
  Bytes small(40);
  size_t needed = 0;
  ASSERT_EQ(tav_compress(text.data(), text.size(), small.data(), small.size(), &needed, 1), TAV_ERROR_DST_TOO_SMALL);
  Bytes file(needed);
  size_t n = 0;
  ASSERT_EQ(tav_compress(text.data(), text.size(), file.data(), file.size(), &n, 1), TAV_OK);
  EXPECT_EQ(n, needed);
  EXPECT_EQ(tav_decompress(file.data(), file.size(), small.data(), small.size(), &needed), TAV_ERROR_DST_TOO_SMALL);
  EXPECT_EQ(needed, text.size());
}

TEST(LibErrors, BadParameters) {
  const Bytes text = sample(100);
  Bytes out(1000);
  size_t n = 0;
  double bits[4];
  tav_cctx* c = tav_cctx_create();
  tav_dctx* d = tav_dctx_create();
  tav_in_buffer in{text.data(), text.size(), 0};
  tav_out_buffer o{out.data(), out.size(), 0};
  const struct {
    const char* name;
    tav_error got;
  } cases[] = {
      {"level 10", tav_compress(text.data(), text.size(), out.data(), out.size(), &n, 10)},
      {"no size", tav_compress(text.data(), text.size(), out.data(), out.size(), nullptr, 1)},
      {"no source", tav_decompress(nullptr, 5, out.data(), out.size(), &n)},
      {"order 1087", tav_cctx_set(c, TAV_PARAM_ORDER, 1087)},
      {"0 MB", tav_cctx_set(c, TAV_PARAM_MEMORY_MB, 0)},
      {"block of 0", tav_cctx_set(c, TAV_PARAM_BLOCK_SIZE, 0)},
      {"block of 2 GiB", tav_cctx_set(c, TAV_PARAM_BLOCK_SIZE, int64_t{1} << 31)},
      {"-1 threads", tav_cctx_set(c, TAV_PARAM_THREADS, -1)},
      {"unknown parameter", set_raw_param(c, 99, 1)},
      {"unknown compression directive", compress_stream_raw(c, &o, &in, 7)},
      {"decompression flushed", decompress_stream_raw(d, &o, &in, TAV_FLUSH)},
      {"a level for decompression", tav_dctx_set(d, TAV_PARAM_LEVEL, 3)},
      {"costs at order -1", tav_costs(text.data(), 4, -1, 16, bits)},
      {"costs without room", tav_costs(text.data(), 4, 2, 16, nullptr)},
      {"no list count", tav_list(out.data(), 10, nullptr, 0, nullptr)},
  };
  for (const auto& k : cases) EXPECT_EQ(k.got, TAV_ERROR_PARAMETER) << k.name;
  EXPECT_EQ(tav_costs(text.data(), size_t{1} << 31, 2, 16, bits), TAV_ERROR_TOO_LARGE);
  int64_t level = 0;
  EXPECT_EQ(tav_cctx_get(c, TAV_PARAM_LEVEL, &level), TAV_OK);
  EXPECT_EQ(level, TAV_DEFAULT_LEVEL) << "a refused value changes nothing";
  tav_cctx_free(c);
  tav_dctx_free(d);
}

TEST(LibErrors, CallsOutOfOrder) {
  const Bytes text = sample(500);
  Bytes out(2);  // too small for the member: the stream stays open
  tav_cctx* c = tav_cctx_create();
  ASSERT_EQ(tav_cctx_set(c, TAV_PARAM_ORDER, 1), TAV_OK);
  tav_in_buffer in{text.data(), text.size(), 0};
  tav_out_buffer o{out.data(), out.size(), 0};
  size_t remaining = 0;
  ASSERT_EQ(tav_compress_stream(c, &o, &in, TAV_END, &remaining), TAV_OK);
  EXPECT_GT(remaining, 0u);
  EXPECT_EQ(tav_cctx_set(c, TAV_PARAM_ORDER, 3), TAV_ERROR_STAGE) << "parameters between streams only";
  size_t n = 0;
  EXPECT_EQ(tav_compress_cctx(c, text.data(), text.size(), out.data(), out.size(), &n), TAV_ERROR_STAGE);
  tav_in_buffer more{text.data(), 10, 0};
  o.pos = 0;
  EXPECT_EQ(tav_compress_stream(c, &o, &more, TAV_END, &remaining), TAV_ERROR_STAGE) << "input after the end";
  EXPECT_EQ(tav_compress_stream(c, &o, &in, TAV_END, &remaining), TAV_ERROR_STAGE) << "closed after an error";
  tav_cctx_reset(c);
  EXPECT_EQ(tav_cctx_set(c, TAV_PARAM_ORDER, 3), TAV_OK) << "reset opens the next stream";
  tav_cctx_free(c);

  tav_dctx* d = tav_dctx_create();
  const Bytes& file = three_members();
  tav_in_buffer fin{file.data(), file.size(), 0};
  o.pos = 0;
  ASSERT_EQ(tav_decompress_stream(d, &o, &fin, TAV_END, &remaining), TAV_OK);
  EXPECT_EQ(remaining, 7000u - 2);
  EXPECT_EQ(tav_dctx_set(d, TAV_PARAM_THREADS, 2), TAV_ERROR_STAGE);
  tav_in_buffer extra{file.data(), 1, 0};
  EXPECT_EQ(tav_decompress_stream(d, &o, &extra, TAV_END, &remaining), TAV_ERROR_STAGE);
  tav_dctx_free(d);
}

// The interrupt check: asked while a call codes, it ends the call with
// TAV_ERROR_INTERRUPTED on one thread or several; never asking changes nothing.
TEST(LibErrors, InterruptCheckEndsTheCall) {
  Bytes text;
  for (int i = 0; i < 4; ++i) {
    const Bytes s = sample(150000);
    text.insert(text.end(), s.begin(), s.end());
  }
  const Bytes file = compress_with({{TAV_PARAM_LEVEL, 1}, {TAV_PARAM_BLOCK_SIZE, 128 << 10}}, text);
  struct Count {
    int calls = 0, stop_at = 0;
  };
  const tav_stop_fn stop = [](void* c) {
    Count& n = *static_cast<Count*>(c);
    return ++n.calls == n.stop_at ? 1 : 0;
  };
  for (const int threads : {1, 2}) {
    for (const int stop_at : {0, 3}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, stop at " << stop_at);
      const tav_error want = stop_at == 0 ? TAV_OK : TAV_ERROR_INTERRUPTED;
      Count n{0, stop_at};
      tav_cctx* c = tav_cctx_create();
      ASSERT_EQ(tav_cctx_set(c, TAV_PARAM_LEVEL, 1), TAV_OK);
      ASSERT_EQ(tav_cctx_set(c, TAV_PARAM_BLOCK_SIZE, 128 << 10), TAV_OK);
      ASSERT_EQ(tav_cctx_set(c, TAV_PARAM_THREADS, threads), TAV_OK);
      ASSERT_EQ(tav_cctx_set_stop(c, stop, &n), TAV_OK);
      Bytes out(tav_compress_bound(text.size()));
      size_t size = 0;
      EXPECT_EQ(tav_compress_cctx(c, text.data(), text.size(), out.data(), out.size(), &size), want);
      if (want == TAV_OK) {
        EXPECT_TRUE(Bytes(out.begin(), out.begin() + static_cast<long>(size)) == file);
      }
      tav_cctx_free(c);

      n = Count{0, stop_at};
      tav_dctx* d = tav_dctx_create();
      ASSERT_EQ(tav_dctx_set(d, TAV_PARAM_THREADS, threads), TAV_OK);
      ASSERT_EQ(tav_dctx_set_stop(d, stop, &n), TAV_OK);
      Bytes back(text.size());
      EXPECT_EQ(tav_decompress_dctx(d, file.data(), file.size(), back.data(), back.size(), &size), want);
      tav_dctx_free(d);
    }
  }
}

TEST(LibErrors, MessagesForEveryCode) {
  for (int code = TAV_OK; code <= TAV_ERROR_INTERRUPTED + 1; ++code) {
    const char* m = tav_error_message(static_cast<tav_error>(code));
    ASSERT_NE(m, nullptr);
    EXPECT_GT(std::strlen(m), 5u);
    EXPECT_EQ(std::strchr(m, '\n'), nullptr);
  }
  EXPECT_STRNE(raw_error_message(99), tav_error_message(TAV_OK));
  EXPECT_STREQ(tav_version(), "1.0.0");
  EXPECT_EQ(tav_version_number(), unsigned{TAV_VERSION_NUMBER});
}

#if defined(__SANITIZE_ADDRESS__)
#define TAV_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAV_UNDER_ASAN 1
#endif
#endif

// The node store refused by the system (an address-space limit below the
// model's needs) is TAV_ERROR_MEMORY, not a crash.  AddressSanitizer reserves
// more address space than any such limit allows, so it is skipped there.
TEST(LibErrorsDeathTest, NodeMemoryRefusedIsAnError) {
#ifdef TAV_UNDER_ASAN
  GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
  const Bytes text = noise(1 << 20);
  std::vector<double> bits(text.size());
  // 40 MB more address space than the process has: the text's model needs more.
  const auto limited_costs = [&] {
    long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (40u << 20);
    setrlimit(RLIMIT_AS, &limit);
    return tav_costs(text.data(), text.size(), 12, 1024, bits.data());
  };
  EXPECT_EXIT(_exit(limited_costs() == TAV_ERROR_MEMORY ? 0 : 1), testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
