// tav_e's command line: usage errors and their messages, --help and
// --version, and the settings the presets and options give.
#include <string>

#include "program_run.h"

namespace tavtest {
namespace {

using TavEOptions = ProgramTest;

// Every refusal exits 1 with its message first on standard error, writes
// nothing to standard output and leaves the input as it was.
TEST_F(TavEOptions, UsageErrors) {
  write("x", "\x01\x02\x03");
  const struct {
    const char* args;
    const char* err;  // the start of standard error
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
      {"x --block-size 0", "tav_e: size '0' for --block-size out of range"},
      {"x --block-size 3G", "tav_e: size '3G' for --block-size out of range"},
      {"x -M 12Q", "tav_e: invalid size '12Q' for --memlimit"},
      {"x -T -1", "tav_e: invalid thread count '-1'"},
      {"x -t -o y", "tav_e: --test writes no output"},
      {"x y -o z", "tav_e: -o names one output, for one input, not 2; use -c to write them all to standard output\n"},
      {"-c x -o y", "tav_e: -c and -o 'y' name two outputs"},
      {"missing.txt", "tav_e: missing.txt: cannot open: No such file or directory\n"},
      {"x -o x", "tav_e: x: the output is the input itself\n"},
      {"x -f -o ./x", "tav_e: ./x: the output is the input itself\n"},
      {"x -o x.tav/", "tav_e: x.tav/: cannot create: "},
      {"-f -o x <x", "tav_e: x: the output is the input itself\n"},
  };
  for (const auto& c : cases) {
    const Result r = tav_e(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << c.args << ":\n" << r.err;
  }
  EXPECT_EQ(read("x"), "\x01\x02\x03");
  EXPECT_TRUE(other_files({"x"}).empty());
}

TEST_F(TavEOptions, HelpAndVersion) {
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

TEST_F(TavEOptions, PresetsAndExplicitSettings) {
  write("t.txt", small_text());
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

}  // namespace
}  // namespace tavtest
