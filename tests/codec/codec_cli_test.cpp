// Runs the real tav_d and tav_e executables and checks exit status, console
// output and the files they leave behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "decoder_types.h"
#include "member_index.h"
#include "output_name.h"
#include "system_memory.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void spit(const fs::path& p, const Bytes& b) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Names left in the test directory other than the ones given: a failed or
// finished run must not leave temporary files behind.
std::vector<std::string> other_files(const fs::path& dir, std::vector<std::string> expected) {
  std::vector<std::string> extra;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
  }
  return extra;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tav_cli_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `exe args` in the test directory, standard input from `input` (a
  // file there) or from /dev/null.
  Result run(const std::string& exe, const std::string& args, const std::string& input = "") {
    const std::string cmd = "cd '" + dir_.string() + "' && '" + exe + "' " + args + " <" +
                            (input.empty() ? "/dev/null" : "'" + input + "'") +
                            " >stdout.txt 2>stderr.txt";
    const int raw = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.out = slurp(dir_ / "stdout.txt");
    r.err = slurp(dir_ / "stderr.txt");
    fs::remove(dir_ / "stdout.txt");
    fs::remove(dir_ / "stderr.txt");
    return r;
  }
  // Runs a shell script in the test directory; $E and $D name the programs.
  Result shell(const std::string& body) {
    std::ofstream(dir_ / "script.sh") << "E='" TAV_E_PATH "'; D='" TAV_D_PATH "'\n" << body;
    Result r = run("sh", "script.sh");
    fs::remove(dir_ / "script.sh");
    return r;
  }
  Result tav_d(const std::string& args) { return run(TAV_D_PATH, args); }
  Result tav_e(const std::string& args, const std::string& input = "") {
    return run(TAV_E_PATH, args, input);
  }
  fs::path path(const std::string& name) const { return dir_ / name; }

  // A container with no text: text_length 0, then level_limit, memory_mb and
  // an 8-byte stream.
  Bytes empty_container(uint16_t level_limit = 5, uint16_t memory_mb = 1) const {
    Bytes b{0, 0, 0, 0, static_cast<uint8_t>(level_limit), static_cast<uint8_t>(level_limit >> 8),
            static_cast<uint8_t>(memory_mb), static_cast<uint8_t>(memory_mb >> 8)};
    b.resize(16, 0);
    return b;
  }

  fs::path dir_;
};

TEST(OutputName, DerivedNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"dir/book1.txt", "book1.unp"},
      {"C:\\data\\paper.tar.cmp", "paper.tar.unp"},
      {"c:news", "news.unp"},
      {"dir.old/readme", "readme.unp"},
      {"name.", "name.unp"},
      {".profile", ".unp"},
      {"plain", "plain.unp"},
  };
  for (auto [in, want] : cases) EXPECT_EQ(tav::make_output_name(in), want) << in;
  const std::string longname(1000, 'x');
  EXPECT_EQ(tav::make_output_name("d/" + longname + ".tav"), longname + ".unp");
}

TEST_F(Cli, DecoderUsageAndFileErrors) {
  Result r = tav_d("");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("tav_d"), std::string::npos);
  EXPECT_NE(r.out.find("Usage: tav_d <compressedfile> [<destination>]\n\n"), std::string::npos);

  r = tav_d("missing.tav");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot open compressed file.\n"), std::string::npos);
  EXPECT_EQ(r.err, "tav_d: missing.tav: cannot open: No such file or directory\n");

  spit(path("e.tav"), empty_container());
  r = tav_d("e.tav no/such/dir/out");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot create output file.\n"), std::string::npos);
  EXPECT_EQ(r.err, "tav_d: no/such/dir/out: cannot create: No such file or directory\n");

  // A directory is no compressed file, whatever reading it would give.
  fs::create_directories(path("somedir"));
  r = tav_d("somedir/");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot open compressed file.\n"), std::string::npos);
  EXPECT_EQ(r.err, "tav_d: somedir/: is a directory\n");
  EXPECT_TRUE(other_files(dir_, {"e.tav", "somedir"}).empty());
}

TEST_F(Cli, EmptyTextReport) {
  spit(path("e.tav"), empty_container(5, 1));
  const Result r = tav_d("e.tav extra args ignored");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(path("extra")));
  EXPECT_EQ(fs::file_size(path("extra")), 0u);
  EXPECT_NE(r.out.find(" \xFE  Input file: \"e.tav\"\n \xFE Output file: \"extra\"\n"), std::string::npos);
  EXPECT_NE(r.out.find(" \xFE Using model order 4.\n \xFE Using 1M of RAM.\n"), std::string::npos);
  EXPECT_NE(r.out.find("\rInp=0/0 Out=16 M4096\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("3k of reserved memory left unused.\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n    16     4k/   4k "), std::string::npos) << r.out;
}

TEST_F(Cli, ShortHeadersUseInitialFieldValues) {
  spit(path("four.bin"), Bytes(4, 0));
  Result r = tav_d("four.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  // The position never lies beyond the file's end.
  EXPECT_NE(r.out.find("Out=4 M"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n     4 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Using model order 256."), std::string::npos);
  EXPECT_NE(r.out.find("Using 512M of RAM."), std::string::npos);
  EXPECT_EQ(fs::file_size(path("four.unp")), 0u);

  spit(path("zero.tav"), empty_container(0, 1));
  r = tav_d("zero.tav");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Using model order -1."), std::string::npos);
}

TEST_F(Cli, DerivedOutputGoesToTheWorkingDirectory) {
  fs::create_directories(path("dir.old"));
  spit(path("dir.old/readme"), empty_container());
  const Result r = tav_d("dir.old/readme");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(path("readme.unp")));
}

TEST_F(Cli, RefusesToOverwriteTheCompressedFile) {
  const Bytes c = empty_container();
  spit(path("x.unp"), c);
  const Result r = tav_d("x.unp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("is the compressed file itself"), std::string::npos) << r.out;
  EXPECT_EQ(fs::file_size(path("x.unp")), c.size());
}

TEST_F(Cli, InvalidHeaders) {
  const struct {
    Bytes header;
    const char* message;
    const char* err;  // the start of standard error
  } cases[] = {
      {{0, 0, 0, 0, 3, 0, 0, 0}, "no room for the model", "tav_d: bad.tav: invalid header: "},
      {{0, 0, 0, 0, 3, 0, 0xFF, 0xFF}, "exceeds the supported maximum", "tav_d: bad.tav: invalid header: "},
      {{0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 1, 0}, "exceeds the supported maximum", "tav_d: bad.tav: invalid header: "},
      // Level limit 1088: one more level than the model's context stack holds.
      {{0, 0, 0, 0, 0x40, 0x04, 1, 0}, "Model order 1087 exceeds the supported maximum of 1086.\n",
       "tav_d: bad.tav: unsupported: model order 1087 "},
  };
  for (const auto& c : cases) {
    spit(path("bad.tav"), c.header);
    const Result r = tav_d("bad.tav out");
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(path("out")));
  }
  // The largest order is accepted.
  spit(path("max.tav"), empty_container(1087, 1));
  const Result r = tav_d("max.tav out");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Using model order 1086."), std::string::npos) << r.out;
}

std::string small_text() {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i % 37) + " of a small text\n";
  return text;
}

TEST_F(Cli, CompressDecompressAndReport) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  fs::permissions(path("t.txt"), fs::perms::owner_read | fs::perms::owner_write);
  Result r = tav_e("-v t.txt --order 3 -m 8");
  ASSERT_EQ(r.status, 0) << r.err;
  // Messages go to standard error only; the input stays.
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("tav_e: t.txt -> t.txt.tav: " + std::to_string(text.size()) + " -> "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("bits/byte"), std::string::npos);
  EXPECT_NE(r.err.find("tav_e: order 3, 8M budget"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(path("t.txt")), text);
  EXPECT_TRUE(other_files(dir_, {"t.txt", "t.txt.tav"}).empty());
  // The output takes the input's permissions.
  EXPECT_EQ(fs::status(path("t.txt.tav")).permissions(), fs::status(path("t.txt")).permissions());

  r = tav_d("t.txt.tav back.txt");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(slurp(path("back.txt")), text);
  // The decoder's count of compressed bytes is the file up to its trailer.
  const std::string size = std::to_string(fs::file_size(path("t.txt.tav")) - tav::TRAILER_BYTES);
  EXPECT_NE(r.out.find("\n" + std::string(size.size() < 6 ? 6 - size.size() : 0, ' ') + size + " "),
            std::string::npos)
      << r.out;
}

TEST_F(Cli, CompressorUsageErrors) {
  spit(path("x"), Bytes{1, 2, 3});
  const struct {
    const char* args;
    const char* err;  // the start of standard error
    const char* input = "";
  } cases[] = {
      {"--bogus x", "tav_e: unknown option '--bogus'\nTry 'tav_e --help'"},
      {"-Z x", "tav_e: unknown option '-Z'\n"},
      {"x --order", "tav_e: option '--order' needs a value\n"},
      {"x -o", "tav_e: option '-o' needs a value\n"},
      {"x --order abc", "tav_e: invalid order 'abc' (allowed: 0..1086)\n"},
      {"x --order 1087", "tav_e: invalid order '1087'"},
      {"x --order 65535", "tav_e: invalid order '65535'"},
      {"x -m 0", "tav_e: invalid memory budget '0' (allowed: 1..32767 MB)\n"},
      {"x --memory 40000", "tav_e: invalid memory budget '40000'"},
      {"x y -o z", "tav_e: -o names one output, for one input, not 2; use -c to write them all to standard output\n"},
      {"-c x -o y", "tav_e: -c and -o 'y' name two outputs"},
      {"missing.txt", "tav_e: missing.txt: cannot open: No such file or directory\n"},
      {"x -o x", "tav_e: x: the output is the input itself\n"},
      {"x -f -o ./x", "tav_e: ./x: the output is the input itself\n"},
      {"x -o x.tav/", "tav_e: x.tav/: cannot create: "},
      {"-f -o x", "tav_e: x: the output is the input itself\n", "x"},
  };
  for (const auto& c : cases) {
    const Result r = tav_e(c.args, c.input);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << c.args << ":\n" << r.err;
  }
  EXPECT_EQ(slurp(path("x")), "\x01\x02\x03");
  EXPECT_TRUE(other_files(dir_, {"x"}).empty());
}

TEST_F(Cli, CompressorHelpAndVersion) {
  Result r = tav_e("-h");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: tav_e [options] [FILE...]\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("  -9: order 24,  4096 MB\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(tav_e("--help").out, r.out);
  r = tav_e("-V");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("tav_e ", 0), 0u);
  EXPECT_EQ(tav_e("--version").out, r.out);
}

// The output must not exist: without -f nothing is touched, with -f it is
// replaced.
TEST_F(Cli, ExistingOutputNeedsForce) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  spit(path("t.txt.tav"), Bytes{'k', 'e', 'e', 'p'});
  Result r = tav_e("t.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tav_e: t.txt.tav: already exists; use -f to overwrite\n");
  EXPECT_EQ(slurp(path("t.txt.tav")), "keep");
  EXPECT_TRUE(other_files(dir_, {"t.txt", "t.txt.tav"}).empty());

  r = tav_e("-f -q t.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // -q: no report
  ASSERT_EQ(tav_d("t.txt.tav back.txt").status, 0);
  EXPECT_EQ(slurp(path("back.txt")), text);
}

// Standard input to standard output, with '-' and with no name; -c writes a
// named input to standard output.  All give the same bytes, and nothing but
// the compressed bytes reaches standard output.
TEST_F(Cli, StandardInputToStandardOutput) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  const Result dash = tav_e("-5 -v -", "t.txt");
  ASSERT_EQ(dash.status, 0) << dash.err;
  EXPECT_NE(dash.err.find("tav_e: (stdin) -> (stdout): " + std::to_string(text.size()) + " -> "),
            std::string::npos)
      << dash.err;
  const Result none = tav_e("-5 -q", "t.txt");
  ASSERT_EQ(none.status, 0);
  EXPECT_EQ(none.err, "");
  const Result c = tav_e("-5 -c t.txt");
  ASSERT_EQ(c.status, 0);
  const Result o = tav_e("-5 t.txt -o -");
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(none.out, dash.out);
  EXPECT_EQ(c.out, dash.out);
  EXPECT_EQ(o.out, dash.out);
  EXPECT_TRUE(other_files(dir_, {"t.txt"}).empty());

  spit(path("s.tav"), Bytes(dash.out.begin(), dash.out.end()));
  ASSERT_EQ(tav_d("s.tav back.txt").status, 0);
  EXPECT_EQ(slurp(path("back.txt")), text);
  // Empty standard input gives a valid container of an empty text.
  const Result empty = tav_e("-q");
  ASSERT_EQ(empty.status, 0);
  spit(path("e.tav"), Bytes(empty.out.begin(), empty.out.end()));
  ASSERT_EQ(tav_d("e.tav e.txt").status, 0);
  EXPECT_EQ(fs::file_size(path("e.txt")), 0u);
}

TEST_F(Cli, PresetsAndExplicitSettings) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  const struct {
    const char* args;
    const char* settings;
  } cases[] = {
      {"", "order 8, 1024M budget"},
      {"-1", "order 2, 64M budget"},
      {"--fast", "order 2, 64M budget"},
      {"-9", "order 24, 4096M budget"},
      {"--best", "order 24, 4096M budget"},
      {"-2 -7", "order 12, 2048M budget"},
      {"--order 5 -9", "order 5, 4096M budget"},
      {"-m 3 -1", "order 2, 3M budget"},
      {"--order 1086 -m 1", "order 1086, 1M budget"},
      {"-kfq1", ""},
  };
  for (const auto& c : cases) {
    const Result r = tav_e("-v " + std::string(c.args) + " -f t.txt");
    ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
    if (*c.settings == '\0')
      EXPECT_EQ(r.err, "") << c.args;
    else
      EXPECT_NE(r.err.find("tav_e: " + std::string(c.settings)), std::string::npos) << c.args << ": " << r.err;
  }
}

TEST_F(Cli, VerifyDecodesTheResult) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  Result r = tav_e("-v --verify t.txt -o c.tav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(", verified\n"), std::string::npos) << r.err;
  ASSERT_EQ(tav_d("c.tav back.txt").status, 0);
  EXPECT_EQ(slurp(path("back.txt")), text);
  r = tav_e("--verify -c", "t.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, slurp(path("c.tav")));
}

// Compressed data is never written to a terminal unless forced (`script`
// gives the program a terminal as its standard output).
TEST_F(Cli, RefusesCompressedDataOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  spit(path("t.txt"), Bytes{'a', 'b', 'c'});
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
TEST_F(Cli, OutputThatCannotBeCreated) {
  spit(path("t.txt"), Bytes{'a', 'b', 'c'});
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
  EXPECT_TRUE(other_files(dir_, {"t.txt"}).empty());
}

// At order 6 this input meets a zero-width interval at byte 74032: the
// compressor must switch to another order by itself and say so.
TEST_F(Cli, CompressorFallsBackToAnotherOrder) {
  std::mt19937 rng(5);
  Bytes block(1000);
  for (auto& b : block) b = static_cast<uint8_t>(rng());
  Bytes text;
  std::mt19937 r2(5 * 77);
  for (int c = 0; c < 100; ++c) {
    Bytes b = block;
    if (c % 3 == 2) b[r2() % b.size()] ^= static_cast<uint8_t>(1 + r2() % 255);
    text.insert(text.end(), b.begin(), b.end());
  }
  spit(path("rep.bin"), text);
  Result r = tav_e("-v rep.bin --order 6 --verify");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("tav_e: order 6 cannot code 'rep.bin' at byte 74032"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tav_e: order 5 (the requested order cannot code this input)"), std::string::npos)
      << r.err;
  EXPECT_TRUE(other_files(dir_, {"rep.bin", "rep.bin.tav"}).empty());
  r = tav_d("rep.bin.tav back.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Using model order 5."), std::string::npos);
  EXPECT_EQ(slurp(path("back.bin")), std::string(text.begin(), text.end()));
  // Through standard output the retry happens before anything is written.
  r = tav_e("--order 6 -", "rep.bin");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, slurp(path("rep.bin.tav")));
}

// Memory the system refuses.  A 32767 MB budget needs a 16 MB page table
// before the first node; under the smallest address-space limit (in steps of
// 2 MB) at which both programs run a 1 MB budget, that table cannot be had.
// tav_e says so and leaves no file; tav_d prints its fixed message, names
// the file on standard error and keeps the text decoded so far (none).
TEST_F(Cli, ModelMemoryTheSystemRefuses) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("-q --order 3 -m 32767 t.txt -o big.tav").status, 0);
  ASSERT_EQ(tav_e("-q --order 3 -m 1 t.txt -o small.tav").status, 0);
  auto limited = [&](int kb, const char* exe, const std::string& args) {
    return run("/bin/sh", "-c \"ulimit -v " + std::to_string(kb) + " && exec '" + exe + "' " + args + "\"");
  };
  int kb = 4096;
  while (kb <= 65536 && (limited(kb, TAV_E_PATH, "-qf -m 1 t.txt -o x.tav").status != 0 ||
                         limited(kb, TAV_D_PATH, "small.tav x.txt").status != 0))
    kb += 2048;
  if (kb > 65536) GTEST_SKIP() << "no address-space limit lets the programs run (sanitizer build?)";

  Result r = limited(kb, TAV_E_PATH, "-m 32767 t.txt -o c.tav");
  EXPECT_EQ(r.status, 1);
  // After the warning that the budget exceeds the machine.
  EXPECT_TRUE(r.err.ends_with("\ntav_e: t.txt: not enough memory for the model; use a smaller --memory budget\n"))
      << r.err;
  EXPECT_EQ(r.out, "");
  r = limited(kb, TAV_D_PATH, "big.tav out.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(" \xFE Using 32767M of RAM.\n\nFailed to allocate a block :(\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("tav_d: big.tav: not enough memory for the model (the system refused node "
                       "memory at position 0"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(fs::file_size(path("out.txt")), 0u);
  EXPECT_TRUE(other_files(dir_, {"t.txt", "big.tav", "small.tav", "x.tav", "x.txt", "out.txt"}).empty());
}

// Damaged and truncated files end with a message or with decoded bytes,
// never with a crash or a hang.
TEST_F(Cli, DamagedFilesNeverCrash) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "word" + std::to_string(i * 7 % 101) + " ";
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("t.txt -o c.tav --order 4").status, 0);
  const std::string good = slurp(path("c.tav"));
  std::mt19937 rng(11);
  for (int trial = 0; trial < 12; ++trial) {
    std::string bad = good;
    if (trial % 3 == 0) {
      bad.resize(8 + rng() % (bad.size() - 8));
    } else {
      for (int k = 0; k < 1 + trial % 4; ++k) bad[8 + rng() % (bad.size() - 8)] ^= static_cast<char>(1 + rng() % 255);
    }
    spit(path("bad.tav"), Bytes(bad.begin(), bad.end()));
    const Result r = tav_d("bad.tav out.txt");
    ASSERT_TRUE(r.status == 0 || r.status == 2) << "trial " << trial << " status " << r.status;
    if (r.status == 2) {
      EXPECT_NE(r.out.find("Damaged compressed file"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("at position"), std::string::npos);
      // A cut that takes the trailer leaves a plain file: warned about first.
      EXPECT_NE(r.err.find("tav_d: bad.tav: damaged: "), std::string::npos) << r.err;
    }
  }
  // An all-0xFF stream drives the decoder into its damaged states at once.
  Bytes ff{100, 0, 0, 0, 3, 0, 1, 0};
  ff.resize(40, 0xFF);
  spit(path("ff.tav"), ff);
  const Result r = tav_d("ff.tav out.txt");
  EXPECT_EQ(r.status, 2) << r.out;
}

}  // namespace

namespace {

// A full disk: every program reports the failed write and exits 1; nothing
// is reported as success, and no device is replaced by a file.
TEST_F(Cli, FullDiskIsAnError) {
  const std::string text = "a line of text for a full disk\n";
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("-5 t.txt -o c.tav").status, 0);

  Result r = tav_d("c.tav /dev/full");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Cannot write output file."), std::string::npos) << r.out;

  r = tav_e("-5 t.txt -o /dev/full");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("/dev/full: cannot write"), std::string::npos) << r.err;
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";

  const std::string cmd = "cd '" + dir_.string() + "' && '" TAV_E_PATH "' -5 -c t.txt >/dev/full 2>err.txt";
  const int raw = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
  EXPECT_NE(slurp(path("err.txt")).find("cannot write"), std::string::npos);

  // A special file that accepts the bytes is written in place.
  r = tav_e("-5 t.txt -o /dev/null");
  EXPECT_EQ(r.status, 0) << r.err;
}

// A failed decode never destroys what was there: an existing destination
// stays as it was and the text decoded before the damage goes to a new name;
// a destination that did not exist gets it.  A complete decode replaces an
// existing destination and takes the compressed file's permissions, not the
// umask's.
TEST_F(Cli, FailedDecodeKeepsTheDestination) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("-q t.txt -o c.tav").status, 0);
  const std::string good = slurp(path("c.tav"));
  // Cut short, a file always stops within 8 bytes past its end.
  spit(path("bad.tav"), Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)));
  const Bytes old(51200, 'v');
  spit(path("victim.txt"), old);

  Result r = tav_d("bad.tav victim.txt");
  ASSERT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(slurp(path("victim.txt")), std::string(old.begin(), old.end()));
  const std::string partial = slurp(path("victim.txt.partial"));
  // Its last bytes may come from the fillers read past the end of the file.
  EXPECT_GT(partial.size(), 0u);
  EXPECT_EQ(text.compare(0, partial.size() / 2, partial, 0, partial.size() / 2), 0);
  EXPECT_NE(r.err.find("; victim.txt was left as it was, the " + std::to_string(partial.size()) +
                       " bytes before it are in victim.txt.partial\n"),
            std::string::npos)
      << r.err;

  r = tav_d("bad.tav fresh.txt");
  ASSERT_EQ(r.status, 2);
  EXPECT_EQ(slurp(path("fresh.txt")), partial);
  EXPECT_TRUE(other_files(dir_, {"t.txt", "c.tav", "bad.tav", "victim.txt", "victim.txt.partial",
                                 "fresh.txt"})
                  .empty());

  for (const auto mode : {fs::perms(0600), fs::perms(0666), fs::perms(0750)}) {
    fs::permissions(path("c.tav"), mode);
    ASSERT_EQ(tav_d("c.tav victim.txt").status, 0);
    EXPECT_EQ(slurp(path("victim.txt")), text);
    EXPECT_EQ(fs::status(path("victim.txt")).permissions(), mode);
  }
}

// An output that is, or resolves to, anything but a plain regular file is
// written through its name: a symlink stays a symlink (here one like
// /dev/stdout, and one to a regular file, which needs -f like the file).
TEST_F(Cli, SymlinkedOutputsAreWrittenThrough) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  const std::string compressed = tav_e("-q -c t.txt").out;
  spit(path("c.tav"), Bytes(compressed.begin(), compressed.end()));
  fs::create_symlink("/proc/self/fd/1", path("so"));
  fs::create_symlink("real", path("link"));
  spit(path("real"), Bytes{'o', 'l', 'd'});

  Result r = tav_e("-qf t.txt -o so");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, compressed);
  r = tav_e("-q t.txt -o link");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tav_e: link: already exists; use -f to overwrite\n");
  EXPECT_EQ(slurp(path("real")), "old");
  ASSERT_EQ(tav_e("-qf t.txt -o link").status, 0);
  EXPECT_EQ(slurp(path("real")), compressed);
  r = tav_d("c.tav link");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(slurp(path("real")), text);
  for (const char* name : {"so", "link"}) EXPECT_TRUE(fs::is_symlink(path(name))) << name;
}

// Runs racing for one output without -f: exactly one wins, the others say so
// and fail.  Under strace every rename and link waits 0.3 s before it runs,
// so all runs pass any separate existence check before the first one lands.
TEST_F(Cli, ConcurrentRunsNeverReplaceEachOther) {
  spit(path("t.txt"), Bytes{'a', 'b', 'c'});
  const bool slow_links = std::system("command -v strace >/dev/null 2>&1") == 0;
  const std::string calls = "rename,renameat,renameat2,link,linkat";
  const std::string wrap =
      slow_links ? "strace -f -qq -o /dev/null -e trace=" + calls + " -e inject=" + calls +
                       ":delay_enter=300000 "
                 : "";
  const int runs = 8;
  const Result r = shell("for i in $(seq " + std::to_string(runs) + "); do (" + wrap +
                         "\"$E\" -q t.txt -o c.tav 2>err.$i; echo $? >st.$i) & done; wait\n"
                         "cat st.* | sort | uniq -c; cat err.*; rm -f st.* err.*\n");
  EXPECT_EQ(r.out, "      1 0\n      " + std::to_string(runs - 1) + " 1\n" +
                       [&] {
                         std::string lines;
                         for (int i = 1; i < runs; ++i) lines += "tav_e: c.tav: already exists; use -f to overwrite\n";
                         return lines;
                       }());
  EXPECT_TRUE(other_files(dir_, {"t.txt", "c.tav"}).empty());
}

// SIGKILL cannot be caught: only an unnamed temporary leaves nothing.  The
// run is killed while it waits for its input, after the output was opened.
TEST_F(Cli, KilledRunLeavesNothing) {
  const Result r = shell("mkfifo gate; (exec \"$E\" -q -o k.tav <gate) & pid=$!\n"
                         "exec 3>gate; sleep 0.3; kill -9 $pid; wait $pid; echo $?; exec 3>&-; rm gate\n");
  EXPECT_EQ(r.out, "137\n");
  EXPECT_TRUE(other_files(dir_, {}).empty());
}

// A signal ignored at start (nohup, trap '' HUP) stays ignored: the run goes
// on after SIGHUP and completes.  Both programs wait on a FIFO meanwhile.
TEST_F(Cli, IgnoredHangupStaysIgnored) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("-q t.txt -o c.tav").status, 0);
  const struct {
    const char* command;
    const char* feed;
    const char* result;
  } cases[] = {
      {"\"$E\" -q -o out.tav <gate", "t.txt", "out.tav"},
      {"\"$D\" gate out.txt >/dev/null", "c.tav", "out.txt"},
  };
  for (const auto& c : cases) {
    const Result r = shell(std::string("trap '' HUP; mkfifo gate; (exec ") + c.command + ") & pid=$!\n" +
                           "exec 3>gate; sleep 0.3; kill -HUP $pid; sleep 0.1; cat " + c.feed +
                           " >&3; exec 3>&-; wait $pid; echo $?; rm gate\n");
    EXPECT_EQ(r.out, "0\n") << c.command << ": " << r.err;
    ASSERT_TRUE(fs::exists(path(c.result))) << c.command;
  }
  ASSERT_EQ(tav_d("out.tav back.txt").status, 0);
  EXPECT_EQ(slurp(path("back.txt")), text);
  EXPECT_EQ(slurp(path("out.txt")), text);
}

// A budget larger than the machine: both programs warn alike (not with -q).
TEST_F(Cli, OversizedBudgetWarnsInBothPrograms) {
  if (tav::machine_memory_bytes() >= (uint64_t{tav::MAX_MEMORY_MB} << 20))
    GTEST_SKIP() << "this machine can give " << tav::MAX_MEMORY_MB << " MB";
  spit(path("t.txt"), Bytes{'a', 'b', 'c'});
  const std::string warning = "warning: the node budget of 32767M exceeds the ";
  Result r = tav_e("-q -m 32767 t.txt -o q.tav");
  EXPECT_EQ(r.err, "");
  r = tav_e("-m 32767 t.txt -o c.tav");
  ASSERT_EQ(r.status, 0);
  const size_t at = r.err.find("tav_e: t.txt: " + warning);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::string room = r.err.substr(at + 14 + warning.size(), r.err.find(" MB", at) - at - 14 - warning.size());
  r = tav_d("c.tav out.txt");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind("tav_d: c.tav: " + warning + room + " MB this machine can give", 0), 0u) << r.err;
}

}  // namespace

namespace {

// Concatenated files decode to their texts in order, as gzip members do; the
// report runs over the whole text and the whole file.
TEST_F(Cli, ConcatenatedMembersDecodeInOrder) {
  const std::string a = small_text(), b = "and a second, shorter text\n";
  spit(path("a.txt"), Bytes(a.begin(), a.end()));
  spit(path("b.txt"), Bytes(b.begin(), b.end()));
  const Result r = shell("$E -q a.txt && $E -q --verify -3 b.txt && cat a.txt.tav b.txt.tav >c.tav && $D c.tav out.txt");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(slurp(path("out.txt")), a + b);
  const std::string total = std::to_string(a.size() + b.size());
  const std::string size = std::to_string(fs::file_size(path("c.tav")));
  EXPECT_NE(r.out.find("\rInp=" + total + "/" + total + " Out=" + size + " M"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n" + std::string(6 - size.size(), ' ') + size + " "), std::string::npos) << r.out;
}

// Every member fault ends the run with exit 2, the fault and its position on
// standard error, and an existing destination left as it was.
TEST_F(Cli, DamagedMembersAreRefusedWithTheirPosition) {
  const std::string text = small_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("-q -4 t.txt -o good.tav").status, 0);
  const std::string g = slurp(path("good.tav"));
  const Bytes good(g.begin(), g.end());
  const size_t trailer_at = good.size() - tav::TRAILER_BYTES;
  const auto retrail = [&](Bytes& f, uint64_t hash_xor, uint64_t extra_bytes) {
    tav::MemberTrailer t;
    t.text_hash = tav::text_hash({reinterpret_cast<const uint8_t*>(text.data()), text.size()}) ^ hash_xor;
    t.member_bytes = good.size() + extra_bytes;
    t.text_length = static_cast<uint32_t>(text.size());
    const auto bytes = tav::write_trailer(t);
    std::copy(bytes.begin(), bytes.end(), f.end() - tav::TRAILER_BYTES);
  };
  const struct {
    const char* what;
    std::function<void(Bytes&)> damage;
    std::string reason;  // standard error after "damaged: "
  } cases[] = {
      {"checksum", [&](Bytes& f) { retrail(f, 1, 0); },
       "checksum mismatch at position 0; victim.txt was left as it was, the 0 bytes before it are in victim.txt.partial"},
      {"trailing byte", [](Bytes& f) { f.push_back('x'); },
       "bytes after a member that belong to no member at position " + std::to_string(good.size())},
      {"trailer cut", [](Bytes& f) { f.pop_back(); },
       "trailer cut short at position " + std::to_string(trailer_at)},
      {"trailer byte", [&](Bytes& f) { f[trailer_at + 9] ^= 1; },
       "trailer damaged at position " + std::to_string(trailer_at)},
      {"stream end", [&](Bytes& f) { f.insert(f.begin() + static_cast<long>(trailer_at), 0); retrail(f, 0, 1); },
       "stream does not end where the trailer says at position " + std::to_string(trailer_at)},
  };
  const Bytes old(100, 'v');
  for (const auto& c : cases) {
    Bytes bad = good;
    c.damage(bad);
    spit(path("bad.tav"), bad);
    spit(path("victim.txt"), old);
    fs::remove(path("victim.txt.partial"));
    const Result r = tav_d("bad.tav victim.txt");
    EXPECT_EQ(r.status, 2) << c.what;
    EXPECT_NE(r.out.find("Damaged compressed file: "), std::string::npos) << c.what << r.out;
    EXPECT_EQ(r.err.rfind("tav_d: bad.tav: damaged: " + c.reason, 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(slurp(path("victim.txt")), std::string(old.begin(), old.end())) << c.what;
  }
}

}  // namespace

namespace {

// About 160 KB: three members of 64 KiB blocks.
std::string blocks_text() {
  std::string text;
  for (int i = 0; i < 4; ++i) text += small_text();
  return text;
}

// The same bytes whatever the threads, the block size and whether the input
// is a file or a pipe; both decoders restore the text.
TEST_F(Cli, BlocksGiveTheSameBytesForAnyThreads) {
  const std::string text = blocks_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  for (const char* block : {"64K", "100000", "1M"}) {
    ASSERT_EQ(tav_e(std::string("-q -1 -T 1 -f t.txt -o one.tav --block-size ") + block).status, 0);
    const std::string one = slurp(path("one.tav"));
    for (const char* threads : {"-T 2", "-T 3", "-T 0 --verify"}) {
      const std::string args = std::string("-q -1 --block-size ") + block + " " + threads;
      Result r = tav_e(args + " -f t.txt -o many.tav");
      ASSERT_EQ(r.status, 0) << args << r.err;
      EXPECT_EQ(slurp(path("many.tav")), one) << args;
      r = shell("cat t.txt | $E " + args + " >piped.tav");  // read block by block, size unknown
      EXPECT_EQ(r.status, 0) << args << r.err;
      EXPECT_EQ(slurp(path("piped.tav")), one) << args;
    }
    EXPECT_EQ(tav_e("-d -c one.tav").out, text) << block;
    ASSERT_EQ(tav_d("one.tav back.txt").status, 0) << block;
    EXPECT_EQ(slurp(path("back.txt")), text) << block;
  }
  const std::string last = slurp(path("one.tav"));
  EXPECT_EQ(tav::index_members(Bytes(last.begin(), last.end())).members.size(), 1u);  // 1M: one block
}

// Too little memory for the threads asked: fewer run, with a notice (none
// with -q), and the bytes do not change.
TEST_F(Cli, ThreadsReducedToTheMemoryLimit) {
  const std::string text = blocks_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("-q -1 --block-size 64K t.txt -o a.tav").status, 0);
  Result r = tav_e("-v -1 -T 3 --block-size 64K --memlimit 1M t.txt -o b.tav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.rfind("tav_e: using 1 thread instead of 3 to stay within 1 MiB of memory (3 x ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" in 3 members, "), std::string::npos) << r.err;
  EXPECT_EQ(slurp(path("a.tav")), slurp(path("b.tav")));
  r = tav_e("-q -1 -T 3 --block-size 64K -M 1M -c t.txt");
  EXPECT_EQ(r.err, "");
  const std::pair<const char*, const char*> bad[] = {
      {"--block-size 0", "size '0' for --block-size out of range"},
      {"--block-size 3G", "size '3G' for --block-size out of range"},
      {"-M 12Q", "invalid size '12Q' for --memlimit"},
      {"-T -1", "invalid thread count '-1'"},
      {"-t -o x", "--test writes no output"},
  };
  for (const auto& [args, err] : bad) {
    r = tav_e(std::string("t.txt ") + args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.err.rfind(std::string("tav_e: ") + err, 0), 0u) << args << r.err;
  }
}

// -d: the name without .tav beside the input; other names only with -c or
// -o; an existing file, a damaged file or a failed run leave no output.
TEST_F(Cli, DecompressNamesAndRefusals) {
  const std::string text = blocks_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("-q -1 --block-size 64K t.txt -o a.tav").status, 0);
  Bytes bad(slurp(path("a.tav")).size());
  const std::string good = slurp(path("a.tav"));
  std::copy(good.begin(), good.end(), bad.begin());
  bad[bad.size() - 20] ^= 1;  // the last trailer's check
  spit(path("bad.tav"), bad);
  spit(path("b.txt"), Bytes(good.begin(), good.end()));
  const struct {
    const char* args;
    int status;
    const char* err;     // the start of standard error
    const char* output;  // the file it writes, "" for none
  } cases[] = {
      {"-d a.tav", 0, "", "a"},
      {"-d a.tav", 1, "tav_e: a: already exists; use -f to overwrite\n", ""},
      {"-d -f a.tav", 0, "", "a"},
      {"-d b.txt", 1, "tav_e: b.txt: no .tav suffix to remove; name the output with -o, or use -c\n", ""},
      {"-d b.txt -o c", 0, "", "c"},
      {"--decompress -T 3 <a.tav >d", 0, "", "d"},
      {"-d bad.tav", 2, "tav_e: bad.tav: damaged: trailer damaged at position ", ""},
  };
  for (const auto& c : cases) {
    const Result r = shell(std::string("$E ") + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << c.args << ": " << r.err;
    if (*c.output != '\0') {
      EXPECT_EQ(slurp(path(c.output)), text) << c.args;
    }
  }
  EXPECT_FALSE(fs::exists(path("bad")));
}

// -l reads headers and trailers only; -t decodes and checks, writes nothing.
TEST_F(Cli, ListAndTestFiles) {
  const std::string text = blocks_text();
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("-q -1 --block-size 64K t.txt -o three.tav").status, 0);
  ASSERT_EQ(tav_e("-q -3 t.txt -o one.tav").status, 0);
  const std::string three = slurp(path("three.tav")), one = slurp(path("one.tav"));
  spit(path("plain.tav"), Bytes(one.begin(), one.end() - tav::TRAILER_BYTES));
  const auto index = tav::index_members(Bytes(three.begin(), three.end()));
  ASSERT_EQ(index.members.size(), 3u);
  Bytes bad(three.begin(), three.end());
  const uint64_t second_end = index.members[1].offset + index.members[1].trailer.member_bytes;
  bad[second_end - 1] ^= 1;  // the second trailer's magic
  spit(path("bad.tav"), bad);
  Bytes flipped(three.begin(), three.end());
  flipped[index.members[1].stream_offset + 100] ^= 0x40;  // inside the second stream
  spit(path("flipped.tav"), flipped);

  Result r = tav_e("-l three.tav one.tav plain.tav bad.tav");
  EXPECT_EQ(r.status, 2);
  const std::string n = std::to_string(text.size());
  const auto row = [&](const char* members, const std::string& bytes, const char* check, const char* name) {
    char ratio[16];
    std::snprintf(ratio, sizeof ratio, "%.3f", static_cast<double>(bytes.size()) / static_cast<double>(text.size()));
    char line[160];
    std::snprintf(line, sizeof line, "%7s %12zu %13s %6s  %-5s  %s\n", members, bytes.size(), n.c_str(), ratio, check, name);
    return std::string(line);
  };
  const std::string listed = "Members   Compressed  Uncompressed  Ratio  Check  Filename\n" +
                             row("3", three, "XXH64", "three.tav") + row("1", one, "XXH64", "one.tav");
  EXPECT_EQ(r.out.substr(0, listed.size()), listed);
  EXPECT_EQ(r.err, "tav_e: plain.tav: not a .tav file or cut short\ntav_e: bad.tav: damaged: trailer damaged at position " +
                       std::to_string(second_end - tav::TRAILER_BYTES) + "\n");
  r = tav_e("-l --plain plain.tav");
  EXPECT_EQ(r.out, "Members   Compressed  Uncompressed  Ratio  Check  Filename\n" +
                       row("1", slurp(path("plain.tav")), "none", "plain.tav"));
  r = tav_e("-lv three.tav");
  EXPECT_NE(r.out.find("Budget MB  Check\n       1            0 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n       3 " + std::string(12 - std::to_string(index.members[2].offset).size(), ' ') +
                       std::to_string(index.members[2].offset) + " "), std::string::npos) << r.out;

  r = tav_e("-tv three.tav one.tav plain.tav");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.err, "three.tav: OK\none.tav: OK\ntav_e: plain.tav: not a .tav file or cut short\n");
  r = tav_e("-tv --plain plain.tav");
  EXPECT_EQ(r.err, "plain.tav: OK\n");
  EXPECT_EQ(r.out, "");
  r = tav_e("--test", "three.tav");
  EXPECT_EQ(r.status, 0) << r.err;
  r = tav_e("-t flipped.tav three.tav");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("tav_e: flipped.tav: damaged: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" at position "), std::string::npos) << r.err;
  EXPECT_TRUE(other_files(dir_, {"t.txt", "three.tav", "one.tav", "plain.tav", "bad.tav", "flipped.tav"}).empty());
}

}  // namespace
