// tav_e compressing: its report, the names and places of its outputs,
// standard input and output, --verify, the order it falls back to, threads
// within the memory limit, and runs that race, fail or are killed.
#include <cstdlib>
#include <random>
#include <string>

#include "member_index.h"
#include "program_run.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

using TavECompress = ProgramTest;

TEST_F(TavECompress, CompressDecompressAndReport) {
  const std::string text = small_text();
  write("t.txt", text);
  fs::permissions(path("t.txt"), fs::perms::owner_read | fs::perms::owner_write);
  Result r = tav_e("-v t.txt --order 3 -m 8");
  ASSERT_EQ(r.status, 0) << r.err;
  // Messages go to standard error only; the input stays.
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("tav_e: t.txt -> t.txt.tav: " + std::to_string(text.size()) + " -> "), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("bits/byte"), std::string::npos);
  EXPECT_NE(r.err.find("tav_e: order 3, 8M budget"), std::string::npos) << r.err;
  EXPECT_EQ(read("t.txt"), text);
  EXPECT_TRUE(other_files({"t.txt", "t.txt.tav"}).empty());
  // The output takes the input's permissions.
  EXPECT_EQ(fs::status(path("t.txt.tav")).permissions(), fs::status(path("t.txt")).permissions());

  r = tav_d("t.txt.tav back.txt");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read("back.txt"), text);
  // The decoder's count of compressed bytes is the file up to its trailer.
  const std::string size = std::to_string(fs::file_size(path("t.txt.tav")) - tav::TRAILER_BYTES);
  EXPECT_NE(r.out.find("\n" + std::string(size.size() < 6 ? 6 - size.size() : 0, ' ') + size + " "),
            std::string::npos)
      << r.out;
}

// The output must not exist: without -f nothing is touched, with -f it is
// replaced.
TEST_F(TavECompress, ExistingOutputNeedsForce) {
  const std::string text = small_text();
  write("t.txt", text);
  write("t.txt.tav", "keep");
  Result r = tav_e("t.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tav_e: t.txt.tav: already exists; use -f to overwrite\n");
  EXPECT_EQ(read("t.txt.tav"), "keep");
  EXPECT_TRUE(other_files({"t.txt", "t.txt.tav"}).empty());

  r = tav_e("-f -q t.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // -q: no report
  ASSERT_EQ(tav_d("t.txt.tav back.txt").status, 0);
  EXPECT_EQ(read("back.txt"), text);
}

// Standard input to standard output, with '-' and with no name; -c writes a
// named input to standard output.  All give the same bytes, and nothing but
// the compressed bytes reaches standard output.
TEST_F(TavECompress, StandardInputToStandardOutput) {
  const std::string text = small_text();
  write("t.txt", text);
  const Result dash = tav_e("-5 -v - <t.txt");
  ASSERT_EQ(dash.status, 0) << dash.err;
  EXPECT_NE(dash.err.find("tav_e: (stdin) -> (stdout): " + std::to_string(text.size()) + " -> "), std::string::npos)
      << dash.err;
  const Result none = tav_e("-5 -q <t.txt");
  ASSERT_EQ(none.status, 0);
  EXPECT_EQ(none.err, "");
  const Result c = tav_e("-5 -c t.txt");
  ASSERT_EQ(c.status, 0);
  const Result o = tav_e("-5 t.txt -o -");
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(none.out, dash.out);
  EXPECT_EQ(c.out, dash.out);
  EXPECT_EQ(o.out, dash.out);
  EXPECT_TRUE(other_files({"t.txt"}).empty());

  write("s.tav", dash.out);
  ASSERT_EQ(tav_d("s.tav back.txt").status, 0);
  EXPECT_EQ(read("back.txt"), text);
  // Empty standard input gives a valid container of an empty text.
  const Result empty = tav_e("-q");
  ASSERT_EQ(empty.status, 0);
  write("e.tav", empty.out);
  ASSERT_EQ(tav_d("e.tav e.txt").status, 0);
  EXPECT_EQ(fs::file_size(path("e.txt")), 0u);
}

TEST_F(TavECompress, VerifyDecodesTheResult) {
  const std::string text = small_text();
  write("t.txt", text);
  Result r = tav_e("-v --verify t.txt -o c.tav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(", verified\n"), std::string::npos) << r.err;
  ASSERT_EQ(tav_d("c.tav back.txt").status, 0);
  EXPECT_EQ(read("back.txt"), text);
  r = tav_e("--verify -c <t.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, read("c.tav"));
}

// Compressed data is never written to a terminal unless forced (`script`
// gives the program a terminal as its standard output).
TEST_F(TavECompress, RefusesCompressedDataOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  write("t.txt", "abc");
  const std::string tav_e = std::string("'") + TAV_E_PATH + "'";
  Result r = run("script", "-qec \"" + tav_e + " -c t.txt\" /dev/null");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("tav_e: t.txt: compressed data not written to a terminal; use -o FILE, or -f"),
            std::string::npos)
      << r.out;
  r = run("script", "-qec \"" + tav_e + " -q <t.txt\" /dev/null");
  EXPECT_EQ(r.status, 1);
  r = run("script", "-qec \"" + tav_e + " -q -f -c t.txt\" /dev/null");
  EXPECT_EQ(r.status, 0);
  // Whatever the output's name: the test is on the opened descriptor.
  for (const char* output : {"/dev/tty", "/dev/stdout"}) {
    r = run("script", "-qec \"" + tav_e + " -q t.txt -o " + output + "\" /dev/null");
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_NE(r.out.find(std::string("tav_e: ") + output + ": compressed data not written to a terminal"),
              std::string::npos)
        << r.out;
  }
}

// An output that cannot be created (the tests run as root, so a directory's
// permissions would not stop them): nothing is written, status 1, and the
// message names the output.
TEST_F(TavECompress, OutputThatCannotBeCreated) {
  write("t.txt", "abc");
  const struct {
    const char* output;
    const char* reason;
  } cases[] = {
      {"t.txt/c.tav", "Not a directory"},
      {"no/such/dir/c.tav", "No such file or directory"},
      {"/proc/tav_e_test/c.tav", "No such file or directory"},
  };
  for (const auto& c : cases) {
    const Result r = tav_e(std::string("t.txt -o ") + c.output);
    EXPECT_EQ(r.status, 1) << c.output;
    EXPECT_EQ(r.err, std::string("tav_e: ") + c.output + ": cannot create: " + c.reason + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(other_files({"t.txt"}).empty());
}

// At order 6 this input meets a zero-width interval at byte 74032: the
// compressor must switch to another order by itself and say so.
TEST_F(TavECompress, FallsBackToAnotherOrder) {
  std::mt19937 rng(5);
  std::string block(1000, '\0');
  for (auto& b : block) b = static_cast<char>(rng());
  std::string text;
  std::mt19937 r2(5 * 77);
  for (int c = 0; c < 100; ++c) {
    std::string b = block;
    if (c % 3 == 2) b[r2() % b.size()] ^= static_cast<char>(1 + r2() % 255);
    text += b;
  }
  write("rep.bin", text);
  Result r = tav_e("-v rep.bin --order 6 --verify");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("tav_e: order 6 cannot code 'rep.bin' at byte 74032"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tav_e: order 5 (the requested order cannot code this input)"), std::string::npos) << r.err;
  EXPECT_TRUE(other_files({"rep.bin", "rep.bin.tav"}).empty());
  r = tav_d("rep.bin.tav back.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Using model order 5."), std::string::npos);
  EXPECT_EQ(read("back.bin"), text);
  // Through standard output the retry happens before anything is written.
  r = tav_e("--order 6 - <rep.bin");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, read("rep.bin.tav"));
}

// Too little memory for the threads asked: fewer run, with a notice (none
// with -q), and the bytes do not change.
TEST_F(TavECompress, ThreadsReducedToTheMemoryLimit) {
  write("t.txt", blocks_text());
  ASSERT_EQ(tav_e("-q -1 --block-size 64K t.txt -o a.tav").status, 0);
  Result r = tav_e("-v -1 -T 3 --block-size 64K --memlimit 1M t.txt -o b.tav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.rfind("tav_e: using 1 thread instead of 3 to stay within 1 MiB of memory (3 x ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" in 3 members, "), std::string::npos) << r.err;
  EXPECT_EQ(read("a.tav"), read("b.tav"));
  r = tav_e("-q -1 -T 3 --block-size 64K -M 1M -c t.txt");
  EXPECT_EQ(r.err, "");
}

// Runs racing for one output without -f: exactly one wins, the others say so
// and fail.  Under strace every rename and link waits 0.3 s before it runs,
// so all runs pass any separate existence check before the first one lands.
TEST_F(TavECompress, ConcurrentRunsNeverReplaceEachOther) {
  write("t.txt", "abc");
  const bool slow_links = std::system("command -v strace >/dev/null 2>&1") == 0;
  const std::string calls = "rename,renameat,renameat2,link,linkat";
  const std::string wrap =
      slow_links ? "strace -f -qq -o /dev/null -e trace=" + calls + " -e inject=" + calls + ":delay_enter=300000 " : "";
  const int runs = 8;
  const Result r = shell("for i in $(seq " + std::to_string(runs) + "); do (" + wrap +
                      "\"$E\" -q t.txt -o c.tav 2>err.$i; echo $? >st.$i) & done; wait\n"
                      "cat st.* | sort | uniq -c; cat err.*; rm -f st.* err.*\n");
  std::string lines;
  for (int i = 1; i < runs; ++i) lines += "tav_e: c.tav: already exists; use -f to overwrite\n";
  EXPECT_EQ(r.out, "      1 0\n      " + std::to_string(runs - 1) + " 1\n" + lines);
  EXPECT_TRUE(other_files({"t.txt", "c.tav"}).empty());
}

// SIGKILL cannot be caught: only an unnamed temporary leaves nothing.  The
// run is killed while it waits for its input, after the output was opened.
TEST_F(TavECompress, KilledRunLeavesNothing) {
  const Result r = shell("mkfifo gate; (exec \"$E\" -q -o k.tav <gate) & pid=$!\n"
                      "exec 3>gate; sleep 0.3; kill -9 $pid; wait $pid; echo $?; exec 3>&-; rm gate\n");
  EXPECT_EQ(r.out, "137\n");
  EXPECT_TRUE(other_files({}).empty());
}

}  // namespace
}  // namespace tavtest
