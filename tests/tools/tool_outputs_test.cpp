// What the tools leave at their output when a write fails, and when it
// succeeds over an existing file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void write_file(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

class ToolOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tool_outputs_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `exe args` in the test directory, writes beyond `limit_blocks` of
  // 512 bytes failing (0: no limit); returns the status and standard error.
  std::pair<int, std::string> run(const std::string& exe, const std::string& args, int limit_blocks) {
    const std::string limit = limit_blocks != 0 ? "trap '' XFSZ; ulimit -f " + std::to_string(limit_blocks) + "; " : "";
    const std::string cmd = "cd '" + dir_.string() + "' && sh -c \"" + limit + "exec '" + exe + "' " + args +
                            "\" </dev/null >/dev/null 2>err";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(dir_ / "err")};
  }
  fs::path dir_;
};

// A failed write leaves the output as it was, whether it is a file, a link
// to one (which stays a link) or a name not taken yet, and no temporary
// beside it.  A complete run replaces the file behind the link, which keeps
// its permissions.
TEST_F(ToolOutputs, FailedWriteLeavesTheOutputAsItWas) {
  std::string text;
  for (int i = 0; text.size() < (1 << 20); ++i) text += "line " + std::to_string(i) + "\r\n";
  write_file(dir_ / "in", text);
  for (const std::string exe :
       {LINE_NUMBER_MSB, LINE_NUMBER_LSB, CONTROL_FILTER, CONTEXT_SORT_LINE, CONTEXT_SORT_FILE, CONTEXT_UNSORT}) {
    const std::string program = fs::path(exe).filename().string();
    write_file(dir_ / "old", "old");
    fs::permissions(dir_ / "old", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("old", dir_ / "link");
    for (const char* out : {"old", "link", "new"}) {
      const auto [status, err] = run(exe, std::string("in ") + out, 64);
      EXPECT_EQ(status, 1) << program << " " << out;
      EXPECT_EQ(err, program + ": " + out + ": write error: File too large\n");
      EXPECT_TRUE(read_file(dir_ / "old") == "old") << program << " " << out;
      EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 4) << program << " " << out;  // in, old, link, err
    }
    EXPECT_EQ(run(exe, "in link", 0), std::make_pair(0, std::string())) << program;
    EXPECT_TRUE(fs::is_symlink(dir_ / "link")) << program;
    EXPECT_GT(fs::file_size(dir_ / "old"), 32768u) << program;
    EXPECT_EQ(fs::status(dir_ / "old").permissions(), fs::perms::owner_read | fs::perms::owner_write) << program;
    fs::remove(dir_ / "link");
  }
}

}  // namespace
