// Runs the real programs: exit status, standard output, standard error and
// the files they leave, on success and on every kind of bad start.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "context_sort.h"

using namespace tav::tools;

namespace {

namespace fs = std::filesystem;

// AddressSanitizer reserves far more address space than any cap on memory
// that would still let a program run.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool UNDER_ASAN = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool UNDER_ASAN = true;
#else
constexpr bool UNDER_ASAN = false;
#endif
#else
constexpr bool UNDER_ASAN = false;
#endif

struct ProgramRun {
  int status;
  std::string out, err;
};

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void write_file(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

class ToolsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tools_cli_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `exe args` inside the test's directory, with its address space
  // capped at `memory_kb` when that is not 0.
  ProgramRun run(const std::string& exe, const std::string& args, long memory_kb = 0) {
    const std::string cap = memory_kb != 0 ? "ulimit -v " + std::to_string(memory_kb) + " && " : "";
    const std::string cmd =
        "cd '" + dir_.string() + "' && " + cap + "'" + exe + "' " + args + " >stdout.txt 2>stderr.txt";
    const int raw = std::system(cmd.c_str());
    ProgramRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(dir_ / "stdout.txt"), read_file(dir_ / "stderr.txt")};
    fs::remove(dir_ / "stdout.txt");
    fs::remove(dir_ / "stderr.txt");
    return r;
  }
  fs::path dir_;
};

void expect_silent_success(const ProgramRun& r) {
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(ToolsCli, WorkedExamplesThroughTheRealPrograms) {
  write_file(dir_ / "in", "ab\r\ncd\r\nx");
  expect_silent_success(run(LINE_NUMBER_MSB_PATH, "in msb"));
  EXPECT_EQ(read_file(dir_ / "msb"), "ab\x10\x10\x10\x10\x10\ncd\x10\x10\x10\x10\x11\nx");
  expect_silent_success(run(LINE_NUMBER_LSB_PATH, "in lsb"));
  EXPECT_EQ(read_file(dir_ / "lsb"), "ab\x10\x10\x10\x10\x10\ncd\x11\x10\x10\x10\x10\nx");

  write_file(dir_ / "in", "\tA\r\nB");
  expect_silent_success(run(CONTROL_FILTER_PATH, "in filtered"));
  EXPECT_EQ(read_file(dir_ / "filtered"), "A\nB");

  // The sort tools and the inverse work on their fixed names by default.
  write_file(dir_ / "english_lf", "b\na\nx\n");
  expect_silent_success(run(CONTEXT_SORT_LINE_PATH, ""));
  EXPECT_EQ(read_file(dir_ / "english.out"), "bax\n\n\n");
  expect_silent_success(run(CONTEXT_UNSORT_PATH, ""));
  EXPECT_EQ(read_file(dir_ / "english.unp"), "b\na\nx\n");
  expect_silent_success(run(CONTEXT_SORT_FILE_PATH, ""));
  EXPECT_EQ(read_file(dir_ / "english.out"), "bxa\n\n\n");

  write_file(dir_ / "empty", "");
  expect_silent_success(run(CONTEXT_SORT_FILE_PATH, "empty sorted"));
  EXPECT_TRUE(fs::exists(dir_ / "sorted"));
  EXPECT_EQ(read_file(dir_ / "sorted"), "");
}

// Text with every byte value, CRs and a long run: numbered least significant
// first, sorted by whole context and rebuilt, it comes back as numbered.
TEST_F(ToolsCli, RoundTripThroughNumberingSortAndInverse) {
  std::mt19937 rng(3);
  std::string text;
  for (int line = 0; line < 3000; ++line) {
    for (int i = rng() % 80; i > 0; --i) text += static_cast<char>(rng());
    if (line == 1500) text += std::string(50000, 'a');
    text += "\r\n";
  }
  write_file(dir_ / "raw", text);
  expect_silent_success(run(LINE_NUMBER_LSB_PATH, "raw english_lf"));
  const std::string numbered = read_file(dir_ / "english_lf");
  expect_silent_success(run(CONTEXT_SORT_FILE_PATH, ""));
  expect_silent_success(run(CONTEXT_UNSORT_PATH, ""));
  EXPECT_EQ(read_file(dir_ / "english.unp"), numbered);
  expect_silent_success(run(CONTEXT_SORT_LINE_PATH, "english_lf line.out"));
  expect_silent_success(run(CONTEXT_UNSORT_PATH, "line.out line.unp"));
  EXPECT_EQ(read_file(dir_ / "line.unp"), numbered);
}

struct BadStart {
  const char* name;
  std::string exe, args;
  std::string message;  // expected standard error, after "<program>: "
};

TEST_F(ToolsCli, BadStartsFailWithOneLineNamingFileAndReason) {
  const BadStart cases[] = {
      {"too few arguments", LINE_NUMBER_MSB_PATH, "in", "usage: line_number_msb INPUT OUTPUT"},
      {"no arguments", LINE_NUMBER_LSB_PATH, "", "usage: line_number_lsb INPUT OUTPUT"},
      {"too few arguments", CONTROL_FILTER_PATH, "in", "usage: control_filter INPUT OUTPUT"},
      // A glob that matched three files: the second must not be overwritten.
      {"too many arguments", LINE_NUMBER_MSB_PATH, "in out in", "usage: line_number_msb INPUT OUTPUT"},
      {"too many arguments", LINE_NUMBER_LSB_PATH, "in out in", "usage: line_number_lsb INPUT OUTPUT"},
      {"too many arguments", CONTROL_FILTER_PATH, "in out in", "usage: control_filter INPUT OUTPUT"},
      {"too many arguments", CONTEXT_SORT_LINE_PATH, "a b c", "usage: context_sort_line [INPUT [OUTPUT]]"},
      {"too many arguments", CONTEXT_UNSORT_PATH, "a b c", "usage: context_unsort [INPUT [OUTPUT]]"},
      {"missing input", LINE_NUMBER_MSB_PATH, "missing out", "missing: cannot open for reading: No such file or directory"},
      {"missing input", CONTROL_FILTER_PATH, "missing out", "missing: cannot open for reading: No such file or directory"},
      {"missing default input", CONTEXT_SORT_LINE_PATH, "", "english_lf: cannot open for reading: No such file or directory"},
      {"missing default input", CONTEXT_SORT_FILE_PATH, "", "english_lf: cannot open for reading: No such file or directory"},
      {"missing default input", CONTEXT_UNSORT_PATH, "", "english.out: cannot open for reading: No such file or directory"},
      {"directory as input", CONTEXT_SORT_FILE_PATH, ". out", ".: is a directory"},
      {"directory as input", LINE_NUMBER_LSB_PATH, ". out", ".: read error: Is a directory"},
      {"full disk", LINE_NUMBER_MSB_PATH, "in /dev/full", "/dev/full: write error: No space left on device"},
      {"full disk", CONTROL_FILTER_PATH, "in /dev/full", "/dev/full: write error: No space left on device"},
      {"full disk", CONTEXT_SORT_LINE_PATH, "in /dev/full", "/dev/full: write error: No space left on device"},
      {"full disk", CONTEXT_SORT_FILE_PATH, "in /dev/full", "/dev/full: write error: No space left on device"},
      {"full disk", CONTEXT_UNSORT_PATH, "in /dev/full", "/dev/full: write error: No space left on device"},
      {"output in missing folder", LINE_NUMBER_LSB_PATH, "in nodir/out", "nodir/out: cannot create: No such file or directory"},
      {"output in missing folder", CONTEXT_SORT_FILE_PATH, "in nodir/out", "nodir/out: cannot create: No such file or directory"},
      {"output in missing folder", CONTEXT_UNSORT_PATH, "in nodir/out", "nodir/out: cannot create: No such file or directory"},
      {"output is the input", CONTROL_FILTER_PATH, "in ./in", "./in: is the same file as the input in; refusing to overwrite it"},
      {"output is the input", LINE_NUMBER_MSB_PATH, "in in", "in: is the same file as the input in; refusing to overwrite it"},
      {"output is the input", CONTEXT_SORT_LINE_PATH, "in in", "in: is the same file as the input in; refusing to overwrite it"},
  };
  const std::string input = "some\ntext\n\x01\x02 with control bytes\n";
  for (const auto& c : cases) {
    write_file(dir_ / "in", input);
    const ProgramRun r = run(c.exe, c.args);
    const std::string program = fs::path(c.exe).filename().string();
    EXPECT_EQ(r.status, 1) << program << ": " << c.name;
    EXPECT_EQ(r.out, "") << program << ": " << c.name;
    EXPECT_EQ(r.err, program + ": " + c.message + "\n") << c.name;
    EXPECT_EQ(read_file(dir_ / "in"), input) << program << ": " << c.name << " damaged its input";
    EXPECT_FALSE(fs::exists(dir_ / "out")) << program << ": " << c.name << " created an output";
  }
}

// The inverse cannot rebuild a last line without LF: both sorts still write
// the same sorted text, and say so on standard error.
TEST_F(ToolsCli, SortsWarnWhenTheLastLineHasNoLf) {
  struct Sort {
    std::string exe;
    ContextOrder order;
  };
  const Sort sorts[] = {{CONTEXT_SORT_LINE_PATH, ContextOrder::line_bounded}, {CONTEXT_SORT_FILE_PATH, ContextOrder::unbounded}};
  const std::pair<std::string, bool> texts[] = {
      {"hello world\nsecond line\nthird", true}, {"x", true}, {"a\nb\n", false}, {"\n", false}, {"", false}};
  for (const auto& sort : sorts) {
    const std::string program = fs::path(sort.exe).filename().string();
    for (const auto& [text, warns] : texts) {
      write_file(dir_ / "english_lf", text);
      const ProgramRun r = run(sort.exe, "");
      EXPECT_EQ(r.status, 0) << program << " on " << text;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, warns ? program + ": english_lf: warning: the text does not end with LF; "
                                         "context_unsort cannot rebuild its last line\n"
                             : "");
      const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
      std::string sorted;
      for (const auto p : context_sorted_positions<std::int32_t>(bytes, sort.order)) sorted += text[p];
      EXPECT_EQ(read_file(dir_ / "english.out"), sorted) << program << " on " << text;
    }
  }
}

// Memory is capped at rising steps, from too little to start up until the
// program finishes.  Every run that gets as far as reporting a failure names
// the input; runs that the loader stops before the program starts (status
// 127, or the runtime's abort when it cannot even throw) prove nothing.
TEST_F(ToolsCli, OutOfMemoryNamesTheInput) {
  if (UNDER_ASAN) GTEST_SKIP() << "no cap on memory leaves room for AddressSanitizer";
  std::string text;
  for (int line = 0; text.size() < (1 << 16); ++line) text += "line " + std::to_string(line) + " of some text\r\n";
  write_file(dir_ / "big", text);
  for (const std::string exe :
       {LINE_NUMBER_MSB_PATH, LINE_NUMBER_LSB_PATH, CONTROL_FILTER_PATH, CONTEXT_SORT_LINE_PATH, CONTEXT_SORT_FILE_PATH, CONTEXT_UNSORT_PATH}) {
    const std::string program = fs::path(exe).filename().string();
    int reports = 0;
    // Long strides while the loader fails, short ones once the program runs.
    for (long kb = 1024, stride = 0;; kb += stride) {
      ASSERT_LT(kb, 1 << 18) << program << " never finished";
      const ProgramRun r = run(exe, "big out", kb);
      if (r.status == 0) break;
      stride = r.status == 127 ? 256 : 64;
      if (r.status != 1) continue;
      ++reports;
      EXPECT_TRUE(r.err.starts_with(program + ": big: ") && r.err.find("memory") != std::string::npos) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_GT(reports, 0) << program << " was never short of memory";
  }
}

}  // namespace
