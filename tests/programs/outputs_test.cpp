// What tav_e, tav_d and the text tools leave at their outputs: after a
// failed write, when standard output is the input, and the owner,
// permission bits and times an output takes from its source.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void spit(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

class Outputs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("outputs_" + std::to_string(::getpid()) + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_ / "keep");
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "line " + std::to_string(i) + "\r\n";
    spit(dir_ / "t.txt", text);
    ASSERT_EQ(sh("$E -q -1 t.txt -o t.tav"), 0) << err_;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs a script in the test directory ($E, $D: the programs); returns its
  // exit status and keeps its standard error in err_.
  int sh(const std::string& body) {
    spit(dir_ / ".sh", "E='" TAV_E_PATH "'; D='" TAV_D_PATH "'\n" + body);
    const int raw = std::system(("cd '" + dir_.string() + "' && sh .sh </dev/null 2>.err").c_str());
    err_ = slurp(dir_ / ".err");
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  // Names in `dir` but the script's own (a temporary left behind counts).
  static long names(const fs::path& dir) {
    long n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += !e.path().filename().string().starts_with('.');
    return n;
  }
  struct stat status(const char* name) const {
    struct stat st {};
    EXPECT_EQ(::stat((dir_ / name).c_str(), &st), 0) << name;
    return st;
  }

  fs::path dir_;
  std::string err_;
};

// Writes fail past a file size limit, as on a full disk: a file, a link to
// one in another directory and a new name are left as they were, with no
// temporary beside them.  A tool's complete run replaces the file behind the
// link, which stays a link, and the file keeps its permissions.
TEST_F(Outputs, FailedWriteLeavesTheOutputAsItWas) {
  fs::create_symlink("keep/old", dir_ / "link");
  const std::string commands[] = {"$E -qf -1 t.txt -o ", "$E -qdf t.tav -o ", "$D t.tav >/dev/null ",
                                  "'" LINE_NUMBER_MSB_PATH "' t.txt ", "'" LINE_NUMBER_LSB_PATH "' t.txt ",
                                  "'" CONTROL_FILTER_PATH "' t.txt ", "'" CONTEXT_SORT_LINE_PATH "' t.txt ",
                                  "'" CONTEXT_SORT_FILE_PATH "' t.txt ", "'" CONTEXT_UNSORT_PATH "' t.txt "};
  for (const std::string& command : commands) {
    spit(dir_ / "keep/old", "old");
    fs::permissions(dir_ / "keep/old", fs::perms::owner_read | fs::perms::owner_write);
    for (const char* out : {"keep/old", "link", "new"}) {
      EXPECT_EQ(sh("trap '' XFSZ; ulimit -f 64; " + command + out), 1) << command << out;
      EXPECT_NE(err_.find(std::string(out) + ": "), std::string::npos) << command << out << ": " << err_;
      EXPECT_NE(err_.find("File too large\n"), std::string::npos) << command << out << ": " << err_;
      EXPECT_TRUE(slurp(dir_ / "keep/old") == "old") << command << out;
      EXPECT_EQ(names(dir_), 4) << command << out;  // t.txt, t.tav, keep, link
      EXPECT_EQ(names(dir_ / "keep"), 1) << command << out;
    }
    if (command[0] != '\'') continue;
    EXPECT_EQ(sh(command + "link"), 0) << command << err_;
    EXPECT_GT(fs::file_size(dir_ / "keep/old"), 65536u) << command;
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    EXPECT_EQ(status("keep/old").st_mode & 0777, 0600u) << command;
  }
}

// Standard output that is the input, named or standard input, is refused
// before anything is read (the first would read its own output for ever).
TEST_F(Outputs, StandardOutputThatIsTheInputIsRefused) {
  const std::string text = slurp(dir_ / "t.txt"), packed = slurp(dir_ / "t.tav");
  const std::pair<const char*, const char*> cases[] = {
      {"$E -qc -T1 --block-size 1K t.txt >> t.txt", "t.txt"}, {"$E -qf -o - t.txt >> t.txt", "t.txt"},
      {"$E -q < t.txt >> t.txt", "(stdin)"},                  {"$E -qdc t.tav >> t.tav", "t.tav"},
      {"$E -qd < t.tav 1<> t.tav", "(stdin)"},
  };
  for (const auto& [command, name] : cases) {
    EXPECT_EQ(sh(std::string("timeout 10 ") + command), 1) << command;
    EXPECT_EQ(err_, std::string("tav_e: ") + name + ": the output is the input itself\n") << command;
    EXPECT_TRUE(slurp(dir_ / "t.txt") == text && slurp(dir_ / "t.tav") == packed) << command;
  }
}

// A file output takes its source's access and modification times, as xz
// and gzip give them; standard output keeps its own.
TEST_F(Outputs, OutputTakesTheTimesOfItsSource) {
  const struct timespec old[2] = {{981173106, 123456789}, {981000000, 987654321}};
  const struct {
    const char *command, *source, *output;
    bool copied;
  } cases[] = {
      {"$E -qf -1 t.txt", "t.txt", "t.txt.tav", true},
      {"$E -qd t.tav -o a.txt", "t.tav", "a.txt", true},
      {"$D t.tav b.txt >/dev/null", "t.tav", "b.txt", true},
      {"$E -qc -1 t.txt > c.tav", "t.txt", "c.tav", false},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / c.source).c_str(), old, 0), 0);
    ASSERT_EQ(sh(c.command), 0) << c.command << err_;
    const struct stat st = status(c.output);
    EXPECT_EQ(st.st_mtim.tv_sec == old[1].tv_sec && st.st_mtim.tv_nsec == old[1].tv_nsec, c.copied) << c.command;
    EXPECT_EQ(st.st_atim.tv_sec == old[0].tv_sec && st.st_atim.tv_nsec == old[0].tv_nsec, c.copied) << c.command;
  }
}

// Owner and group are copied where the system lets them be; the setuid,
// setgid and sticky bits stay only with them, and a group that cannot be
// copied gets no more than the others.  Giving files away and running as
// another user (65534) need root.
TEST_F(Outputs, OwnerIsCopiedAndSpecialBitsNeverOutliveIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "not root: owners cannot be given away nor the user changed";
  const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (sh(nobody + "$E -V >/dev/null") != 0) GTEST_SKIP() << "user 65534 cannot run the programs where they are";
  fs::permissions(dir_, fs::perms::all);
  const struct {
    std::string command;  // makes "out" from "src", a copy of `source`
    const char* source;
    uid_t uid;
    gid_t gid;
    mode_t mode, out_mode;  // out is owned by 65534:65534 in every case
  } cases[] = {
      {"$E -q -1 src -o out", "t.txt", 65534, 65534, 04755, 04755},
      {"$D src out >/dev/null", "t.tav", 65534, 65534, 06750, 06750},
      {nobody + "$E -qd src -o out", "t.tav", 0, 0, 07755, 0755},
      {nobody + "$E -q -1 src -o out", "t.txt", 65534, 1, 02640, 0600},
  };
  for (const auto& c : cases) {
    fs::remove(dir_ / "out");
    fs::copy_file(dir_ / c.source, dir_ / "src", fs::copy_options::overwrite_existing);
    ASSERT_EQ(::chown((dir_ / "src").c_str(), c.uid, c.gid), 0);
    ASSERT_EQ(::chmod((dir_ / "src").c_str(), c.mode), 0);
    ASSERT_EQ(sh(c.command), 0) << c.command << err_;
    const struct stat st = status("out");
    EXPECT_EQ(st.st_uid, 65534u) << c.command;
    EXPECT_EQ(st.st_gid, 65534u) << c.command;
    EXPECT_EQ(st.st_mode & 07777, c.out_mode) << c.command << " from " << std::oct << c.mode;
  }
}

}  // namespace
