// One input, one set of settings, the same compressed bytes from every entry
// point: tav_e reading a file or a pipe with any number of threads, the
// library's one-shot call with any threads, its stream fed and drained in
// pieces of any size, and the Python module.  Each of them cuts its input
// into blocks with the engine's one block cutter and codes the blocks on its
// threads; another cutter or a member coded differently anywhere shows here
// as other bytes.
#include <string>
#include <vector>

#include "lib_test_support.h"
#include "program_run.h"

namespace tavtest {
namespace {

struct Input {
  const char* name;
  Bytes text;
  int64_t block;  // bytes per member; 0: the default, 32 MiB
  int order, memory_mb;
  size_t members;  // a short last block is a member too
};

std::vector<Input> inputs() {
  const Bytes text = sample(40000), random = noise(20000);
  return {
      {"empty", {}, 0, 0, 1, 1},
      {"empty_in_16K_blocks", {}, 16384, 2, 8, 1},
      {"one_byte", {'x'}, 0, 5, 64, 1},
      {"one_byte_in_1K_blocks", {'x'}, 1024, 3, 16, 1},
      {"text", text, 0, 3, 16, 1},
      {"text_in_16K_blocks", text, 16384, 3, 16, 3},
      {"text_in_blocks_of_15000", text, 15000, 2, 8, 3},
      {"random", random, 0, 1, 1, 1},
      {"random_in_16K_blocks", random, 16384, 1, 1, 2},
  };
}

class SameBytes : public ProgramTest {
 protected:
  // Writes the input as t.txt and returns what every entry point must give:
  // tav_e's bytes on one thread, reading the file.
  Bytes reference(const Input& in) {
    write("t.txt", std::string(in.text.begin(), in.text.end()));
    const Result r = tav_e(settings(in) + " -T 1 -f t.txt -o reference.tav");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string file = read("reference.tav");
    return Bytes(file.begin(), file.end());
  }

  // tav_e's settings, without the threads.
  static std::string settings(const Input& in) {
    std::string args = "-q --order " + std::to_string(in.order) + " -m " + std::to_string(in.memory_mb);
    if (in.block != 0) args += " --block-size " + std::to_string(in.block);
    return args;
  }

  static tav_cctx* context(const Input& in, int threads) {
    tav_cctx* c = tav_cctx_create();
    EXPECT_EQ(tav_cctx_set(c, TAV_PARAM_ORDER, in.order), TAV_OK);
    EXPECT_EQ(tav_cctx_set(c, TAV_PARAM_MEMORY_MB, in.memory_mb), TAV_OK);
    if (in.block != 0) {
      EXPECT_EQ(tav_cctx_set(c, TAV_PARAM_BLOCK_SIZE, in.block), TAV_OK);
    }
    EXPECT_EQ(tav_cctx_set(c, TAV_PARAM_THREADS, threads), TAV_OK);
    return c;
  }
};

TEST_F(SameBytes, FromTavEAndTheLibrary) {
  for (const Input& in : inputs()) {
    SCOPED_TRACE(in.name);
    const Bytes expected = reference(in);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(decompress(expected), in.text);
    size_t members = 0;
    EXPECT_EQ(tav_list(expected.data(), expected.size(), nullptr, 0, &members), TAV_OK);
    EXPECT_EQ(members, in.members);

    // tav_e: the file, and a pipe read block by block without knowing its size.
    const std::string want(expected.begin(), expected.end());
    for (const char* threads : {"-T 1", "-T 2", "-T 3", "-T 0 --verify"}) {
      const std::string args = settings(in) + " " + threads;
      Result r = tav_e(args + " -f t.txt -o file.tav");
      EXPECT_EQ(r.status, 0) << args << ": " << r.err;
      EXPECT_TRUE(read("file.tav") == want) << args << ", from the file";
      r = tav_e(args, std::string(in.text.begin(), in.text.end()));
      EXPECT_EQ(r.status, 0) << args << ": " << r.err;
      EXPECT_TRUE(r.out == want) << args << ", from a pipe";
    }

    // The library: one call, and the stream, one context stream after stream.
    for (const int threads : {1, 2, 3}) {
      tav_cctx* c = context(in, threads);
      Bytes out(in.text.size() + in.text.size() / 8 + 1024);
      size_t n = 0;
      EXPECT_EQ(tav_compress_cctx(c, in.text.data(), in.text.size(), out.data(), out.size(), &n), TAV_OK);
      out.resize(n);
      EXPECT_TRUE(out == expected) << "tav_compress_cctx on " << threads << " threads";
      tav_cctx_free(c);
    }
    for (const int threads : {1, 2}) {
      tav_cctx* c = context(in, threads);
      const std::pair<size_t, size_t> pieces[] = {{1, 1}, {777, 5}, {5000, 333}};
      for (const auto& [in_step, out_step] : pieces)
        EXPECT_TRUE(compress_stream(c, in.text, in_step, out_step) == expected)
            << "tav_compress_stream on " << threads << " threads, in " << in_step << ", out " << out_step;
      tav_cctx_free(c);
    }
  }
}

// The module is the build's, run by Debian's interpreter; in the sanitizer
// build with the sanitizer's runtime preloaded, as python_module runs it.
TEST_F(SameBytes, FromThePythonModule) {
  const std::string python = "env PYTHONPATH='" TAV_PYTHON_DIR "' " TAV_PYTHON_ENV " /usr/bin/python3";
  Result r = shell(python + " -c 'import sys, tav; sys.exit(not tav.__file__.startswith(sys.argv[1]))' '" TAV_PYTHON_DIR
                            "'");
  if (r.status != 0) GTEST_SKIP() << "the Python module was not built in " TAV_PYTHON_DIR << "\n" << r.err;
  write("compress.py",
        "import sys, tav\n"
        "order, memory_mb, block = map(int, sys.argv[1:4])\n"
        "blocks = {'block_size': block} if block else {}\n"
        "text = open('t.txt', 'rb').read()\n"
        "for threads in (1, 2, 3):\n"
        "    packed = tav.compress(text, order=order, memory_mb=memory_mb, threads=threads, **blocks)\n"
        "    open(f'python{threads}.tav', 'wb').write(packed)\n");
  for (const Input& in : inputs()) {
    SCOPED_TRACE(in.name);
    const Bytes expected = reference(in);
    r = shell(python + " compress.py " + std::to_string(in.order) + " " + std::to_string(in.memory_mb) + " " +
              std::to_string(in.block));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* threads : {"1", "2", "3"}) {
      const std::string file = read(std::string("python") + threads + ".tav");
      EXPECT_TRUE(Bytes(file.begin(), file.end()) == expected) << "tav.compress(threads=" << threads << ")";
    }
  }
}

}  // namespace
}  // namespace tavtest
