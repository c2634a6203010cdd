// The README's recipe for spreading tav_e over cores and machines with GNU
// parallel, run as written: parallel cuts standard input into blocks, each
// block becomes one member from `tav_e -c`, and `-k` keeps the members in
// input order, so tav_d decodes the concatenation to the whole text.  The
// machines are stood in for by an ssh that runs the command here.  Skipped
// where GNU parallel is not installed (scripts/deps.sh installs it).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "member_index.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

struct Outcome {
  int status = -1;
  std::string err;
};

class ParallelRecipe : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tav_parallel_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    if (sh("parallel --will-cite --version | grep -q 'GNU parallel'").status != 0)
      GTEST_SKIP() << "GNU parallel is not installed";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `body` with sh in the test directory, tav_e and tav_d on PATH as
  // they would be on an installed machine.
  Outcome sh(const std::string& body) {
    const std::string e_dir = fs::path(TAV_E_PATH).parent_path().string();
    const std::string d_dir = fs::path(TAV_D_PATH).parent_path().string();
    std::ofstream(dir_ / "script.sh")
        << "PATH='" << e_dir << "':'" << d_dir << "':\"$PATH\"\n" << body << "\n";
    const std::string cmd =
        "cd '" + dir_.string() + "' && sh script.sh </dev/null >/dev/null 2>stderr.txt";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), slurp(dir_ / "stderr.txt")};
  }

  // Writes `copies` of the sample text as text.txt and returns it.
  std::string make_text(int copies) {
    const std::string sample = slurp(TAV_SAMPLE_PATH);
    std::string text;
    for (int i = 0; i < copies; ++i) text += sample;
    std::ofstream(dir_ / "text.txt", std::ios::binary) << text;
    return text;
  }

  // The members of p.tav, after checking that tav_d gives `text` back from
  // it and that the members' texts add up to it.
  std::vector<tav::Member> decoded_members(const std::string& text) {
    const Outcome d = sh("tav_d p.tav out.txt");
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(slurp(dir_ / "out.txt") == text) << "decoded text differs";
    const std::string file = slurp(dir_ / "p.tav");
    const auto index = tav::index_members(
        {reinterpret_cast<const uint8_t*>(file.data()), file.size()});
    if (file.empty()) return {};
    EXPECT_EQ(index.kind, tav::MemberIndex::Kind::members);
    uint64_t total = 0;
    for (const auto& m : index.members) total += m.trailer.text_length;
    EXPECT_EQ(total, text.size());
    return index.members;
  }

  // Where each member's text ends in the whole text, the last one excepted.
  static std::vector<uint64_t> cuts(const std::vector<tav::Member>& members) {
    std::vector<uint64_t> ends;
    uint64_t end = 0;
    for (size_t i = 0; i + 1 < members.size(); ++i) ends.push_back(end += members[i].trailer.text_length);
    return ends;
  }

  fs::path dir_;
};

// parallel cuts at line ends unless told otherwise; with an empty --recend it
// cuts anywhere, inside a line too.  Every way must round-trip.
TEST_F(ParallelRecipe, BlocksOnOneMachineDecodeToTheText) {
  const struct {
    const char* name;
    int copies;  // of the sample; 0: an empty input
    const char* split;
    bool line_ends;  // every cut follows a '\n'
  } cases[] = {
      {"line-bounded", 2, "", true},
      {"anywhere", 2, "--recend ''", false},
      {"empty input", 0, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = make_text(c.copies);
    const Outcome e = sh(std::string("parallel --will-cite --pipe -k --block 64k ") + c.split +
                     " tav_e -c -q <text.txt >p.tav");
    ASSERT_EQ(e.status, 0) << e.err;
    const auto members = decoded_members(text);
    if (text.empty()) {
      EXPECT_EQ(fs::file_size(dir_ / "p.tav"), 0u);  // no block, no member: an empty text
      continue;
    }
    EXPECT_GE(members.size(), text.size() / 64000);
    bool all_at_line_ends = true;
    for (const uint64_t cut : cuts(members)) all_at_line_ends &= text[cut - 1] == '\n';
    EXPECT_EQ(all_at_line_ends, c.line_ends);
  }
}

// -S hands each block to a machine over ssh; `1/host` runs one job at a
// time there.  The stand-in ssh drops its options and host, notes the host,
// and runs the command line with sh as sshd would, SHELL set as a login sets
// it (parallel's remote side runs the job with $SHELL; CI may not set it).
TEST_F(ParallelRecipe, BlocksSpreadOverHostsDecodeToTheText) {
  std::ofstream(dir_ / "ssh") << "#!/bin/sh\n"
                                 "while [ $# -gt 0 ] && [ \"$1\" != -- ]; do host=$1; shift; done\n"
                                 "shift\n"
                                 "echo \"$host\" >>hosts.log\n"
                                 "SHELL=/bin/sh exec sh -c \"$*\"\n";
  fs::permissions(dir_ / "ssh", fs::perms::owner_all);
  const std::string text = make_text(2);
  const Outcome e = sh("parallel --will-cite --ssh ./ssh -S 1/host1,1/host2 --pipe -k --block 100k "
                   "tav_e -c -q <text.txt >p.tav");
  ASSERT_EQ(e.status, 0) << e.err;
  const auto members = decoded_members(text);
  EXPECT_GE(members.size(), 2u);

  std::istringstream log(slurp(dir_ / "hosts.log"));
  std::multiset<std::string> hosts;
  for (std::string h; log >> h;) hosts.insert(h);
  EXPECT_EQ(hosts.size(), members.size());  // one ssh per block
  EXPECT_EQ(std::set<std::string>(hosts.begin(), hosts.end()),
            (std::set<std::string>{"host1", "host2"}));
}

}  // namespace
