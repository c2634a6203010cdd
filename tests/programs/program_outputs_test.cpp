// What tav_e and tav_d leave at their output: a failed write behind a
// symbolic link, a standard output that is the input, and the owner,
// permission bits and times the output takes from its source.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Result {
  int status = -1;
  std::string err;
};

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void spit(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

struct stat status_of(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st;
}

// Lines of numbers: about 1.2 MB of text that compresses well.
std::string text() {
  std::string t;
  for (int i = 0; i < 100000; ++i) t += "line " + std::to_string(i) + "\n";
  return t;
}

class ProgramOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("program_outputs_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs a shell script in the test directory; $E and $D name the programs.
  Result shell(const std::string& body) {
    spit(dir_ / "script.sh", "E='" TAV_E_PATH "'; D='" TAV_D_PATH "'\n" + body);
    const std::string cmd = "cd '" + dir_.string() + "' && sh script.sh </dev/null 2>stderr.txt";
    const int raw = std::system(cmd.c_str());
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), slurp(dir_ / "stderr.txt")};
    fs::remove(dir_ / "script.sh");
    fs::remove(dir_ / "stderr.txt");
    return r;
  }
  fs::path path(const std::string& name) const { return dir_ / name; }

  fs::path dir_;
};

// A write that fails (here past a file size limit, as on a full disk) with
// -f through a symbolic link to a regular file in another directory: the
// file and the link stay as they were, and no temporary is left in either.
TEST_F(ProgramOutputs, FailedWriteLeavesTheLinkedFileAsItWas) {
  std::mt19937 rng(1);
  std::string random(1 << 20, '\0');
  for (char& c : random) c = static_cast<char>(rng());
  spit(path("rnd.bin"), random);
  spit(path("t.txt"), text());
  ASSERT_EQ(shell("$E -q -1 t.txt -o t.tav").status, 0);
  fs::create_directory(path("keep"));
  const char* commands[] = {"$E -qf -1 rnd.bin -o link", "$E -qdf t.tav -o link", "$D t.tav link >/dev/null"};
  for (const char* command : commands) {
    spit(path("keep/real"), "old");
    fs::create_symlink("keep/real", path("link"));
    const Result r = shell(std::string("trap '' XFSZ; ulimit -f 128; ") + command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("link: cannot write: File too large\n"), std::string::npos) << command << ": " << r.err;
    EXPECT_TRUE(slurp(path("keep/real")) == "old") << command;
    EXPECT_TRUE(fs::is_symlink(path("link"))) << command;
    EXPECT_EQ(std::distance(fs::directory_iterator(path("keep")), {}), 1) << command;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 5) << command;
    fs::remove(path("link"));
  }
}

// Standard output that is the input, named or standard input, is refused
// before anything is read: neither file changes.
TEST_F(ProgramOutputs, StandardOutputThatIsTheInputIsRefused) {
  spit(path("a.txt"), text().substr(0, 20000));
  ASSERT_EQ(shell("$E -q a.txt -o x.tav").status, 0);
  const std::string a = slurp(path("a.txt")), x = slurp(path("x.tav"));
  const struct {
    const char* command;
    const char* name;
  } cases[] = {
      {"$E -qc -T1 --block-size 1K a.txt >> a.txt", "a.txt"},
      {"$E -qf -o - a.txt >> a.txt", "a.txt"},
      {"$E -q < a.txt >> a.txt", "(stdin)"},
      {"$E -qdc x.tav >> x.tav", "x.tav"},
      {"$E -qd < x.tav 1<> x.tav", "(stdin)"},
  };
  for (const auto& c : cases) {
    // Without the check the first one reads its own output for ever.
    const Result r = shell(std::string("timeout 10 ") + c.command);
    EXPECT_EQ(r.status, 1) << c.command;
    EXPECT_EQ(r.err, std::string("tav_e: ") + c.name + ": the output is the input itself\n") << c.command;
    EXPECT_TRUE(slurp(path("a.txt")) == a && slurp(path("x.tav")) == x) << c.command;
  }
}

// A file output takes its source's access and modification times, as xz
// and gzip give them: the text's for FILE.tav, the compressed file's for the
// decoded text; standard output keeps its own.
TEST_F(ProgramOutputs, OutputTakesTheTimesOfItsSource) {
  spit(path("t.txt"), text());
  ASSERT_EQ(shell("$E -q -1 t.txt -o c.tav").status, 0);
  const struct timespec old[2] = {{981173106, 123456789}, {981000000, 987654321}};
  const struct {
    const char* command;
    const char* source;
    const char* output;
    bool copied;
  } cases[] = {
      {"$E -qf -1 t.txt", "t.txt", "t.txt.tav", true},
      {"$E -qdf c.tav -o back.txt", "c.tav", "back.txt", true},
      {"$D c.tav back.txt >/dev/null", "c.tav", "back.txt", true},
      {"$E -qc -1 t.txt > piped.tav", "t.txt", "piped.tav", false},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(::utimensat(AT_FDCWD, path(c.source).c_str(), old, 0), 0);
    ASSERT_EQ(shell(c.command).status, 0) << c.command;
    const struct stat out = status_of(path(c.output));
    EXPECT_EQ(out.st_mtim.tv_sec == old[1].tv_sec && out.st_mtim.tv_nsec == old[1].tv_nsec, c.copied) << c.command;
    EXPECT_EQ(out.st_atim.tv_sec == old[0].tv_sec && out.st_atim.tv_nsec == old[0].tv_nsec, c.copied) << c.command;
  }
}

// Owner and group are copied where the system lets them be; the setuid,
// setgid and sticky bits stay only with the owner they were set for, and a
// group that cannot be copied gets no more than the others.  Changing owners
// needs root, and the runs as another user need root to start them.
TEST_F(ProgramOutputs, OwnerIsCopiedAndSpecialBitsNeverOutliveIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "not root: owners cannot be given away or the user changed";
  const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (shell(nobody + "$E -V >/dev/null").status != 0)
    GTEST_SKIP() << "user 65534 cannot run the programs where they were built";
  fs::permissions(dir_, fs::perms::all);
  spit(path("t"), text());
  ASSERT_EQ(shell("$E -q -1 t -o t.tav").status, 0);
  const struct {
    std::string command;  // makes "out" from "src" (a copy of t or t.tav)
    const char* source;
    uid_t uid;
    gid_t gid;
    mode_t mode;
    mode_t out_mode;  // the owner of out is 65534:65534 in every case
  } cases[] = {
      {"$E -q -1 src -o out", "t", 65534, 65534, 04755, 04755},
      {"$E -qd src -o out", "t.tav", 65534, 65534, 06755, 06755},
      {"$D src out >/dev/null", "t.tav", 65534, 65534, 04750, 04750},
      {nobody + "$E -q -1 src -o out", "t", 0, 0, 04755, 0755},
      {nobody + "$D src out >/dev/null", "t.tav", 0, 0, 07755, 0755},
      {nobody + "$E -q -1 src -o out", "t", 65534, 1, 02640, 0600},
  };
  for (const auto& c : cases) {
    fs::remove(path("out"));
    fs::copy_file(path(c.source), path("src"), fs::copy_options::overwrite_existing);
    ASSERT_EQ(::chown(path("src").c_str(), c.uid, c.gid), 0);
    ASSERT_EQ(::chmod(path("src").c_str(), c.mode), 0);
    ASSERT_EQ(shell(c.command).status, 0) << c.command;
    const struct stat out = status_of(path("out"));
    EXPECT_EQ(out.st_uid, 65534u) << c.command;
    EXPECT_EQ(out.st_gid, 65534u) << c.command;
    EXPECT_EQ(out.st_mode & 07777, c.out_mode) << std::oct << c.command << " from " << c.mode;
  }
}

}  // namespace
