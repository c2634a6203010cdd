// The README's recipe for spreading tav_e over cores and machines with GNU
// parallel, run as written: parallel cuts standard input into blocks, each
// block becomes one member from `tav_e -c`, and `-k` keeps the members in
// input order, so tav_d decodes the concatenation to the whole text.  The
// machines are a real sshd on this machine's loopback addresses.  Skipped
// where GNU parallel is not installed, and the ssh case where sshd cannot
// start (scripts/deps.sh installs both).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "member_index.h"
#include "program_run.h"

namespace fs = std::filesystem;

extern char** environ;

namespace tavtest {
namespace {

class ParallelRecipe : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    if (shell("parallel --will-cite --version | grep -q 'GNU parallel'").status != 0)
      GTEST_SKIP() << "GNU parallel is not installed";
  }

  void TearDown() override {
    if (sshd_ > 0) {
      ::kill(sshd_, SIGTERM);
      ::waitpid(sshd_, nullptr, 0);
    }
    ProgramTest::TearDown();
  }

  // Starts sshd for the hosts host1 (127.0.0.1) and host2 (127.0.0.2) and
  // writes ssh/ssh_config for the client; its log goes to sshd.log.  Gives
  // back why it could not, or "" once both addresses take connections.
  std::string start_sshd() {
    const char* const sshd = "/usr/sbin/sshd";  // sshd re-executes itself: an absolute path
    if (::access(sshd, X_OK) != 0) return "sshd is not installed (Debian openssh-server; scripts/deps.sh)";
    if (shell("command -v ssh && command -v ssh-keygen").status != 0)
      return "ssh or ssh-keygen is not installed (Debian openssh-client)";
    // sshd refuses to start without its privilege separation directory,
    // which its service makes at boot; only root can make it.
    if (::access("/run/sshd", X_OK) != 0) {
      if (::geteuid() != 0) return "sshd needs /run/sshd, which only root can make";
      fs::create_directories("/run/sshd");
      fs::permissions("/run/sshd", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                       fs::perms::others_read | fs::perms::others_exec);
    }
    const passwd* user = ::getpwuid(::getuid());
    if (user == nullptr) return "this user has no name to log in as";
    const fs::path dir = path("ssh");
    fs::create_directory(dir);
    const Result keys = shell("ssh-keygen -q -t ed25519 -N '' -C host -f ssh/host_key && "
                              "ssh-keygen -q -t ed25519 -N '' -C client -f ssh/client_key && "
                              "cp ssh/client_key.pub ssh/authorized_keys");
    if (keys.status != 0) return "ssh-keygen failed: " + keys.err;
    const std::string host_key = read("ssh/host_key.pub");
    const std::string bin_path = fs::path(TAV_E_PATH).parent_path().string() + ":" +
                                 fs::path(TAV_D_PATH).parent_path().string();
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt) {  // another program may take the port meanwhile
      const int port = free_port();
      if (port == 0) return "no free port on 127.0.0.1";
      const std::string p = std::to_string(port), d = dir.string();
      write("ssh/sshd_config", "ListenAddress 127.0.0.1:" + p + "\nListenAddress 127.0.0.2:" + p +
                                   "\nHostKey " + d + "/host_key\nAuthorizedKeysFile " + d +
                                   "/authorized_keys\nPidFile " + d + "/sshd.pid\n"
                                   "StrictModes no\nUsePAM no\nPubkeyAuthentication yes\n"
                                   "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                   "PermitRootLogin prohibit-password\nLogLevel VERBOSE\n"
                                   "SetEnv PATH=" + bin_path + ":/usr/local/bin:/usr/bin:/bin\n");
      const std::string key = host_key.substr(0, host_key.rfind(' '));
      write("ssh/known_hosts", "[127.0.0.1]:" + p + " " + key + "\n[127.0.0.2]:" + p + " " + key + "\n");
      write("ssh/ssh_config", "Host host1\n  HostName 127.0.0.1\nHost host2\n  HostName 127.0.0.2\n"
                              "Host *\n  Port " + p + "\n  User " + user->pw_name +
                                  "\n  IdentityFile " + d + "/client_key\n  IdentitiesOnly yes\n"
                                  "  UserKnownHostsFile " + d + "/known_hosts\n"
                                  "  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n"
                                  "  BatchMode yes\n  ControlMaster no\n  ControlPath none\n"
                                  "  LogLevel ERROR\n");
      fs::remove(path("sshd.log"));
      const std::string config = d + "/sshd_config", log = path("sshd.log").string();
      const char* argv[] = {sshd, "-D", "-f", config.c_str(), "-E", log.c_str(), nullptr};
      if (::posix_spawn(&sshd_, sshd, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return "sshd cannot be started";
      bool ended = false;
      for (int wait = 0; wait < 200 && !ended; ++wait) {  // 10 s
        if (accepts("127.0.0.1", port) && accepts("127.0.0.2", port)) return "";
        ended = ::waitpid(sshd_, nullptr, WNOHANG) == sshd_;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      why = "sshd did not start (port " + p + "): " + read("sshd.log");
      if (!ended) {
        ::kill(sshd_, SIGTERM);
        ::waitpid(sshd_, nullptr, 0);
      }
      sshd_ = 0;
    }
    return why;
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

  // A port no socket of 127.0.0.1 holds now, or 0.
  static int free_port() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    const bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0;
    ::close(s);
    return ok ? ntohs(a.sin_port) : 0;
  }

  // Whether something takes connections at address:port.
  static bool accepts(const char* address, int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &a.sin_addr);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
  }

  pid_t sshd_ = 0;

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
// time there.  The machines are a real sshd, started for the test on a free
// port of 127.0.0.1 and 127.0.0.2 (host1 and host2) with a host key, a client
// key and a configuration made in the test's folder; tav_e is on the PATH
// its sessions get.  parallel's ssh reads only the test's ssh configuration,
// so the user's ~/.ssh is neither read nor written (CI may have no HOME).
// Each block is one ssh connection, which sshd's log shows with the address
// it came in on.
TEST_F(ParallelRecipe, BlocksSpreadOverHostsDecodeToTheText) {
  const std::string skip = start_sshd();
  if (!skip.empty()) GTEST_SKIP() << skip;
  const std::string text = make_text(2);
  const Result e = shell("parallel --will-cite --ssh 'ssh -F " + path("ssh/ssh_config").string() +
                         "' -S 1/host1,1/host2 --pipe -k --block 100k tav_e -c -q <text.txt >p.tav");
  ASSERT_EQ(e.status, 0) << e.err << read("sshd.log");
  const auto members = decoded_members(text);
  EXPECT_GE(members.size(), 2u);

  // "Connection from 127.0.0.1 port 40000 on 127.0.0.2 port 2222 ...", and
  // for a session "Accepted publickey for USER from 127.0.0.1 port 40000 ..."
  // (the test's own probes of the ports connect without logging in).
  std::istringstream log(read("sshd.log"));
  std::map<std::string, std::string> address_of_port;
  std::multiset<std::string> hosts;
  for (std::string line; std::getline(log, line);) {
    std::smatch m;
    if (std::regex_search(line, m, std::regex("^Connection from \\S+ port (\\d+) on (\\S+) ")))
      address_of_port[m[1]] = m[2];
    else if (std::regex_search(line, m, std::regex("^Accepted publickey for .* port (\\d+) ")))
      hosts.insert(address_of_port[m[1]]);
  }
  EXPECT_EQ(hosts.size(), members.size()) << read("sshd.log");  // one ssh per block
  EXPECT_EQ(std::set<std::string>(hosts.begin(), hosts.end()),
            (std::set<std::string>{"127.0.0.1", "127.0.0.2"}));
}

}  // namespace
}  // namespace tavtest
