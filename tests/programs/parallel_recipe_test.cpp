// The README's recipe for spreading tav_e over cores and machines with GNU
// parallel, run as written: parallel cuts standard input into blocks, each
// block becomes one member from `tav_e -c`, and `-k` keeps the members in
// input order, so tav_d decodes the concatenation to the whole text.  The
// machines are stood in for by an ssh that runs the command here.  Skipped
// where GNU parallel is not installed (scripts/deps.sh installs it).
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "member_index.h"
#include "program_run.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

class ParallelRecipe : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    if (shell("parallel --will-cite --version | grep -q 'GNU parallel'").status != 0)
      GTEST_SKIP() << "GNU parallel is not installed";
  }

  // Writes `copies` of the sample text as text.txt and returns it.
  std::string make_text(int copies) {
    const std::string sample = read_file(TAV_SAMPLE_PATH);
    std::string text;
    for (int i = 0; i < copies; ++i) text += sample;
    write("text.txt", text);
    return text;
  }

  // The members of p.tav, after checking that tav_d gives `text` back from
  // it and that the members' texts add up to it.
  std::vector<tav::Member> decoded_members(const std::string& text) {
    const Result d = tav_d("p.tav out.txt");
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(read("out.txt") == text) << "decoded text differs";
    const std::string file = read("p.tav");
    const auto index = tav::index_members({reinterpret_cast<const uint8_t*>(file.data()), file.size()});
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
    const Result e = shell(std::string("parallel --will-cite --pipe -k --block 64k ") + c.split +
                        " tav_e -c -q <text.txt >p.tav");
    ASSERT_EQ(e.status, 0) << e.err;
    const auto members = decoded_members(text);
    if (text.empty()) {
      EXPECT_EQ(fs::file_size(path("p.tav")), 0u);  // no block, no member: an empty text
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
  write("ssh",
        "#!/bin/sh\n"
        "while [ $# -gt 0 ] && [ \"$1\" != -- ]; do host=$1; shift; done\n"
        "shift\n"
        "echo \"$host\" >>hosts.log\n"
        "SHELL=/bin/sh exec sh -c \"$*\"\n");
  fs::permissions(path("ssh"), fs::perms::owner_all);
  const std::string text = make_text(2);
  const Result e = shell("parallel --will-cite --ssh ./ssh -S 1/host1,1/host2 --pipe -k --block 100k "
                      "tav_e -c -q <text.txt >p.tav");
  ASSERT_EQ(e.status, 0) << e.err;
  const auto members = decoded_members(text);
  EXPECT_GE(members.size(), 2u);

  std::istringstream log(read("hosts.log"));
  std::multiset<std::string> hosts;
  for (std::string h; log >> h;) hosts.insert(h);
  EXPECT_EQ(hosts.size(), members.size());  // one ssh per block
  EXPECT_EQ(std::set<std::string>(hosts.begin(), hosts.end()),
            (std::set<std::string>{"host1", "host2"}));
}

}  // namespace
}  // namespace tavtest
