// Compressed files written by earlier builds, checked into tests/data with the
// SHA-256 of their decoded text (format_guards.txt: plain streams;
// member_guards.txt: members with version-1 trailers): every build must still
// decode each of them to exactly that text, in-process and through tav_d.  A
// failure here means files that users already have would no longer decode.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "container_io.h"
#include "member_decode.h"
#include "sha256.h"

namespace tav::test {
namespace {

namespace fs = std::filesystem;

struct Guard {
  std::string sha256;
  uint64_t length = 0;
  std::string name;
};

std::vector<Guard> read_manifest(const char* name = "format_guards.txt") {
  std::ifstream f(std::string(TAV_TEST_DATA_DIR) + "/" + name);
  std::vector<Guard> guards;
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    Guard g;
    ls >> g.sha256 >> g.length >> g.name;
    guards.push_back(g);
  }
  return guards;
}

TEST(Sha256, KnownDigests) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [text, digest] : cases) EXPECT_EQ(sha256_hex(text.data(), text.size()), digest);
}

TEST(FormatGuards, OldFilesStillDecode) {
  ASSERT_TRUE(set_numeric_mode());
  const std::vector<Guard> guards = read_manifest();
  ASSERT_GE(guards.size(), 10u) << "format_guards.txt is missing or short";
  for (const Guard& g : guards) {
    SCOPED_TRACE(g.name);
    const Bytes file = read_file(std::string(TAV_TEST_DATA_DIR) + "/" + g.name);
    ASSERT_GE(file.size(), HEADER_BYTES);
    const Decompressed d = decompress_file(file);
    ASSERT_EQ(d.result.status, ByteStatus::ok)
        << describe(d.result.status) << " at " << d.result.position;
    EXPECT_EQ(d.text.size(), g.length);
    EXPECT_EQ(sha256_hex(d.text.data(), d.text.size()), g.sha256);
    EXPECT_EQ(HEADER_BYTES + d.result.stream_bytes, file.size());
  }
}

TEST(FormatGuards, OldMembersStillDecodeAndCheck) {
  ASSERT_TRUE(set_numeric_mode());
  const std::vector<Guard> guards = read_manifest("member_guards.txt");
  ASSERT_GE(guards.size(), 2u) << "member_guards.txt is missing or short";
  for (const Guard& g : guards) {
    SCOPED_TRACE(g.name);
    const Bytes file = read_file(std::string(TAV_TEST_DATA_DIR) + "/" + g.name);
    const FilePlan plan = plan_file(file);
    ASSERT_FALSE(plan.damage) << describe(plan.damage->fault);
    EXPECT_TRUE(plan.checked);
    Bytes text(plan.text_bytes + 1);
    const FileDecodeResult r = decode_file(file, plan, text.data(), nullptr);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.text_written, g.length);
    EXPECT_EQ(sha256_hex(text.data(), g.length), g.sha256);
  }
}

// The same files through the decoder program: exit status 0 and the text.
TEST(FormatGuards, DecoderProgramRestoresThem) {
  const fs::path dir = fs::temp_directory_path() / ("tav_guard_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::vector<Guard> guards = read_manifest();
  for (const Guard& g : read_manifest("member_guards.txt")) guards.push_back(g);
  for (const Guard& g : guards) {
    SCOPED_TRACE(g.name);
    const fs::path out = dir / "out";
    const std::string cmd = std::string("'") + TAV_D_PATH + "' '" + TAV_TEST_DATA_DIR + "/" +
                            g.name + "' '" + out.string() + "' >/dev/null";
    const int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    const Bytes text = read_file(out.string());
    EXPECT_EQ(sha256_hex(text.data(), text.size()), g.sha256);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tav::test
