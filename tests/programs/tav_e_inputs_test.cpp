// tav_e's habits of xz and zstd, run as a user runs them: several inputs in
// turn, the inputs it skips, --rm, a report only where someone reads it, the
// progress line, and the totals of a listing.
#include <algorithm>
#include <regex>
#include <sstream>

#include "program_run.h"

namespace tavtest {
namespace {

using TavEInputs = ProgramTest;

size_t lines(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\n')); }

TEST_F(TavEInputs, EachInTurnWithTheHighestStatus) {
  write("a.txt", small_text());
  write("b.txt", small_text().substr(1000));
  Result r = tav_e("-1 a.txt missing.txt b.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tav_e: missing.txt: cannot open: No such file or directory\n");
  r = tav_e("-t a.txt.tav a.txt b.txt.tav");  // one line for the file that is none
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("tav_e: a.txt: ", 0) == 0 && lines(r.err) == 1, true) << r.err;
  // -c writes the runs one after another, and they decode in order.
  r = shell("$E -1 -c a.txt b.txt >ab.tav && rm a.txt b.txt && $E -d a.txt.tav b.txt.tav && $E -dc ab.tav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, read("a.txt") + read("b.txt"));
  EXPECT_EQ(tav_e("a.txt b.txt -o x.tav").status, 1);
  EXPECT_EQ(other_files({"a.txt", "b.txt", "a.txt.tav", "b.txt.tav", "ab.tav"}), std::vector<std::string>{});
}

// As xz: status 2 and a warning (none with -q); nothing opened or made.
TEST_F(TavEInputs, SkipsWhatWouldMakeAnOddOutput) {
  write("t.txt", "text\n");
  ASSERT_EQ(shell("$E -q t.txt -o t.tav && mkfifo fifo && mkdir d && ln -s t.txt ln").status, 0);
  const std::string suffix = "tav_e: t.tav: already has the .tav suffix, skipping\n",
                    dir = "tav_e: d: is a directory, skipping\n";
  const struct {
    std::string args;
    int status;
    std::string err;
  } cases[] = {
      {"t.tav", 2, suffix},
      {"-f t.tav", 2, suffix},
      {"-q t.tav", 2, ""},
      {"-c t.tav >/dev/null", 0, ""},
      {"/dev/null", 2, "tav_e: /dev/null: is not a regular file, skipping (-c or -o reads it)\n"},
      {"fifo", 2, "tav_e: fifo: is not a regular file, skipping (-c or -o reads it)\n"},
      {"-c /dev/null >/dev/null", 0, ""},
      {"d", 2, dir},
      {"-c d", 2, dir},
      {"-t d", 2, dir},
      {"ln", 2, "tav_e: ln: is a symbolic link, skipping (-f follows it)\n"},
      {"-t t.tav ln", 2, "tav_e: ln: not a .tav file or cut short\n"},  // -t follows it
      {"ln -o l.tav", 0, ""},
  };
  for (const auto& c : cases) {
    const Result r = shell("timeout 60 $E " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
  EXPECT_EQ(other_files({"t.txt", "t.tav", "fifo", "d", "ln", "l.tav"}), std::vector<std::string>{});
  EXPECT_FALSE(std::filesystem::exists("/dev/null.tav"));
}

// --rm removes the input only once its output file is in place.
TEST_F(TavEInputs, RemovesTheInputOnlyWhenAsked) {
  write("src", small_text());
  const struct {
    const char* run;
    const char* left;  // `ls` after it
  } cases[] = {
      {"$E t.txt", "t.txt t.txt.tav"},
      {"$E --rm t.txt", "t.txt.tav"},
      {"$E --rm -k t.txt", "t.txt t.txt.tav"},
      {"$E --rm -c t.txt >o", "o t.txt"},
      {"$E --rm -o o <t.txt", "o t.txt"},
      {"$E --rm t.txt -o /dev/null", "t.txt"},
      {"touch t.txt.tav; $E --rm t.txt", "t.txt t.txt.tav"},  // refused
      {"$E t.txt && rm t.txt && $E -d --rm t.txt.tav", "t.txt"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string dir = "c" + std::to_string(++n);
    const Result r = shell("mkdir " + dir + " && cd " + dir + " && cp ../src t.txt && { " + c.run +
                           "; } 2>/dev/null; echo $(ls)");
    EXPECT_EQ(r.out, std::string(c.left) + "\n") << c.run;
  }
}

// The report comes with -v, or on a terminal when the output is a file
// (script(1) gives the program a terminal).
TEST_F(TavEInputs, ReportsOnlyWhereSomeoneReads) {
  if (shell("command -v script").status != 0) GTEST_SKIP() << "no script(1)";
  write("t.txt", small_text());
  const struct {
    const char* run;
    bool report;
  } cases[] = {
      {"$E -1 -f t.txt", false},
      {"$E -1 -f -v t.txt", true},
      {"$E -1 -v <t.txt >o", true},
      {"$E -df t.txt.tav", false},
      {"$E -df -v t.txt.tav", true},
      {"script -qec \"$E -1 -f t.txt\" /dev/null", true},
      {"script -qec \"$E -1 -f -q t.txt\" /dev/null", false},
      {"script -qec \"$E -1 -c t.txt >o\" /dev/null", false},
      {"script -qec \"$E -1 <t.txt >o\" /dev/null", false},
      {"script -qec \"$E -df t.txt.tav\" /dev/null", true},
      {"script -qec \"$E -dc t.txt.tav >o\" /dev/null", false},
  };
  for (const auto& c : cases) {
    const Result r = shell("{ " + std::string(c.run) + "; } 2>&1");
    EXPECT_EQ(r.status, 0) << c.run << ": " << r.out;
    EXPECT_EQ(r.out.find(" -> ") != std::string::npos, c.report) << c.run << ": " << r.out;
  }
}

// With -v a run longer than a second shows its progress once a second.  Each
// run is stopped for a second and a half early on, so that it lasts that long
// however fast the machine.
TEST_F(TavEInputs, ShowsProgressOnLongRuns) {
  std::string text;
  for (int i = 0; i < 150000; ++i) text += std::to_string(i * 7919 % 100003) + " is a number of the text\n";
  write("t.txt", text);
  ASSERT_EQ(tav_e("-q t.txt").status, 0);
  const std::string rest = R"( \d+\.\d\d MB/s \d+\.\d{3} bits/byte \d+:\d\d elapsed)", left = R"(, \d+:\d\d left)";
  const struct {
    const char* run;
    std::string line;
  } cases[] = {
      {"$E -v -f -T 1 t.txt", R"(tav_e: t\.txt: \d+\.\d%)" + rest + left},
      {"cat t.txt | $E -v -T 1 >o", R"(tav_e: \(stdin\): \d+ MB)" + rest},  // a pipe: no size
      {"$E -tv -T 1 t.txt.tav", R"(tav_e: t\.txt\.tav: \d+\.\d%)" + rest + left},
  };
  for (const auto& c : cases) {
    const Result r = shell(std::string(c.run) + " & p=$!; sleep 0.2; kill -STOP $p; sleep 1.5; kill -CONT $p; wait $p");
    ASSERT_EQ(r.status, 0) << c.run << ": " << r.err;
    std::istringstream err(r.err);
    size_t shown = 0;
    for (std::string line; std::getline(err, line);)
      if (line.find(" elapsed") != std::string::npos) {
        EXPECT_TRUE(std::regex_match(line, std::regex(c.line))) << c.run << ": " << line;
        ++shown;
      }
    EXPECT_GT(shown, 0u) << c.run << " showed no progress:\n" << r.err;
  }
}

// Several files end with their totals under a rule; one file does not.
TEST_F(TavEInputs, ListsTheTotalsOfSeveralFiles) {
  write("a.txt", small_text());
  write("b.txt", blocks_text());
  ASSERT_EQ(tav_e("-1 --block-size 64K a.txt b.txt").status, 0);
  EXPECT_EQ(lines(tav_e("-l a.txt.tav").out), 2u);
  // The sums of the two files' lines, then the totals line without its ratio.
  const Result r = shell("$E -l a.txt.tav b.txt.tav >l && sed -n 4p l | tr -d '\\n-' && awk 'NR == 2 || NR == 3 "
                         "{ m += $1; c += $2; u += $3 } END { print m, c, u, \"XXH64 2 files\" }' l && "
                         "awk 'NR > 4 { print $1, $2, $3, $5, $6, $7 }' l");
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t half = r.out.find('\n') + 1;
  EXPECT_EQ(r.out.substr(0, half), r.out.substr(half)) << r.out;
}

}  // namespace
}  // namespace tavtest
