// Runs the real tav_d and tav_e executables and checks exit status, console
// output and the files they leave behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "output_name.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void spit(const fs::path& p, const Bytes& b) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tav_cli_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `exe args` in the test directory.
  Result run(const std::string& exe, const std::string& args) {
    const std::string cmd = "cd '" + dir_.string() + "' && '" + exe + "' " + args + " >stdout.txt 2>stderr.txt";
    const int raw = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.out = slurp(dir_ / "stdout.txt");
    r.err = slurp(dir_ / "stderr.txt");
    fs::remove(dir_ / "stdout.txt");
    fs::remove(dir_ / "stderr.txt");
    return r;
  }
  Result tav_d(const std::string& args) { return run(TAV_D_PATH, args); }
  Result tav_e(const std::string& args) { return run(TAV_E_PATH, args); }
  fs::path path(const std::string& name) const { return dir_ / name; }

  // A container with no text: text_length 0, then level_limit, memory_mb and
  // an 8-byte stream.
  Bytes empty_container(uint16_t level_limit = 5, uint16_t memory_mb = 1) const {
    Bytes b{0, 0, 0, 0, static_cast<uint8_t>(level_limit), static_cast<uint8_t>(level_limit >> 8),
            static_cast<uint8_t>(memory_mb), static_cast<uint8_t>(memory_mb >> 8)};
    b.resize(16, 0);
    return b;
  }

  fs::path dir_;
};

TEST(OutputName, DerivedNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"dir/book1.txt", "book1.unp"},
      {"C:\\data\\paper.tar.cmp", "paper.tar.unp"},
      {"c:news", "news.unp"},
      {"dir.old/readme", "readme.unp"},
      {"name.", "name.unp"},
      {".profile", ".unp"},
      {"plain", "plain.unp"},
  };
  for (auto [in, want] : cases) EXPECT_EQ(tav::make_output_name(in), want) << in;
  const std::string longname(1000, 'x');
  EXPECT_EQ(tav::make_output_name("d/" + longname + ".tav"), longname + ".unp");
}

TEST_F(Cli, DecoderUsageAndFileErrors) {
  Result r = tav_d("");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("tav_d"), std::string::npos);
  EXPECT_NE(r.out.find("Usage: tav_d <compressedfile> [<destination>]\n\n"), std::string::npos);

  r = tav_d("missing.tav");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot open compressed file.\n"), std::string::npos);

  spit(path("e.tav"), empty_container());
  r = tav_d("e.tav no/such/dir/out");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot create output file.\n"), std::string::npos);
}

TEST_F(Cli, EmptyTextReport) {
  spit(path("e.tav"), empty_container(5, 1));
  const Result r = tav_d("e.tav extra args ignored");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(path("extra")));
  EXPECT_EQ(fs::file_size(path("extra")), 0u);
  EXPECT_NE(r.out.find(" \xFE  Input file: \"e.tav\"\n \xFE Output file: \"extra\"\n"), std::string::npos);
  EXPECT_NE(r.out.find(" \xFE Using model order 4.\n \xFE Using 1M of RAM.\n"), std::string::npos);
  EXPECT_NE(r.out.find("\rInp=0/0 Out=16 M4096\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("3k of reserved memory left unused.\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n    16     4k/   4k "), std::string::npos) << r.out;
}

TEST_F(Cli, ShortHeadersUseInitialFieldValues) {
  spit(path("four.bin"), Bytes(4, 0));
  Result r = tav_d("four.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Using model order 256."), std::string::npos);
  EXPECT_NE(r.out.find("Using 512M of RAM."), std::string::npos);
  EXPECT_EQ(fs::file_size(path("four.unp")), 0u);

  spit(path("zero.tav"), empty_container(0, 1));
  r = tav_d("zero.tav");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Using model order -1."), std::string::npos);
}

TEST_F(Cli, DerivedOutputGoesToTheWorkingDirectory) {
  fs::create_directories(path("dir.old"));
  spit(path("dir.old/readme"), empty_container());
  const Result r = tav_d("dir.old/readme");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(path("readme.unp")));
}

TEST_F(Cli, RefusesToOverwriteTheCompressedFile) {
  const Bytes c = empty_container();
  spit(path("x.unp"), c);
  const Result r = tav_d("x.unp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("is the compressed file itself"), std::string::npos) << r.out;
  EXPECT_EQ(fs::file_size(path("x.unp")), c.size());
}

TEST_F(Cli, InvalidHeaders) {
  const struct {
    Bytes header;
    const char* message;
  } cases[] = {
      {{0, 0, 0, 0, 3, 0, 0, 0}, "no room for the model"},
      {{0, 0, 0, 0, 3, 0, 0xFF, 0xFF}, "exceeds the supported maximum"},
      {{0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 1, 0}, "exceeds the supported maximum"},
  };
  for (const auto& c : cases) {
    spit(path("bad.tav"), c.header);
    const Result r = tav_d("bad.tav out");
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(path("out")));
  }
}

TEST_F(Cli, CompressDecompressAndReport) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i % 37) + " of a small text\n";
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  Result r = tav_e("t.txt -o 3 -m 8");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("bits/byte"), std::string::npos);
  EXPECT_NE(r.out.find("order 3"), std::string::npos);
  EXPECT_FALSE(fs::exists(path("t.txt.tav.tmp")));
  r = tav_d("t.txt.tav back.txt");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(slurp(path("back.txt")), text);
  // The decoder's count of compressed bytes equals the file size.
  const std::string size = std::to_string(fs::file_size(path("t.txt.tav")));
  EXPECT_NE(r.out.find("\n" + std::string(size.size() < 6 ? 6 - size.size() : 0, ' ') + size + " "),
            std::string::npos)
      << r.out;
}

TEST_F(Cli, CompressorArgumentErrors) {
  const struct {
    const char* args;
    int status;
    const char* text;
  } cases[] = {
      {"-h", 0, "Usage: tav_e"},
      {"", 1, "Usage: tav_e"},
      {"--bogus x", 1, "unknown option"},
      {"missing.txt", 1, "cannot open 'missing.txt'"},
      {"x -o", 1, "needs a value"},
      {"x -o abc", 1, "invalid value"},
      {"x -m 0", 1, "invalid value"},
      {"x -m 40000", 1, "invalid value"},
  };
  for (const auto& c : cases) {
    const Result r = tav_e(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE((r.out + r.err).find(c.text), std::string::npos) << c.args << ": " << r.out << r.err;
  }
  spit(path("same"), Bytes{1, 2, 3});
  const Result r = tav_e("same same");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fs::file_size(path("same")), 3u);
}

// At order 6 this input meets a zero-width interval at byte 74032: the
// compressor must switch to another order by itself and say so.
TEST_F(Cli, CompressorFallsBackToAnotherOrder) {
  std::mt19937 rng(5);
  Bytes block(1000);
  for (auto& b : block) b = static_cast<uint8_t>(rng());
  Bytes text;
  std::mt19937 r2(5 * 77);
  for (int c = 0; c < 100; ++c) {
    Bytes b = block;
    if (c % 3 == 2) b[r2() % b.size()] ^= static_cast<uint8_t>(1 + r2() % 255);
    text.insert(text.end(), b.begin(), b.end());
  }
  spit(path("rep.bin"), text);
  Result r = tav_e("rep.bin -o 6");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("order 6 cannot code 'rep.bin' at byte 74032"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("order 5 (the requested order cannot code this input)"), std::string::npos)
      << r.out;
  r = tav_d("rep.bin.tav back.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(slurp(path("back.bin")), std::string(text.begin(), text.end()));
}

// Damaged and truncated files end with a message or with decoded bytes,
// never with a crash or a hang.
TEST_F(Cli, DamagedFilesNeverCrash) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "word" + std::to_string(i * 7 % 101) + " ";
  spit(path("t.txt"), Bytes(text.begin(), text.end()));
  ASSERT_EQ(tav_e("t.txt c.tav -o 4").status, 0);
  const std::string good = slurp(path("c.tav"));
  std::mt19937 rng(11);
  for (int trial = 0; trial < 12; ++trial) {
    std::string bad = good;
    if (trial % 3 == 0) {
      bad.resize(8 + rng() % (bad.size() - 8));
    } else {
      for (int k = 0; k < 1 + trial % 4; ++k) bad[8 + rng() % (bad.size() - 8)] ^= static_cast<char>(1 + rng() % 255);
    }
    spit(path("bad.tav"), Bytes(bad.begin(), bad.end()));
    const Result r = tav_d("bad.tav out.txt");
    ASSERT_TRUE(r.status == 0 || r.status == 2) << "trial " << trial << " status " << r.status;
    if (r.status == 2) {
      EXPECT_NE(r.out.find("Damaged compressed file"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("at position"), std::string::npos);
    }
  }
  // An all-0xFF stream drives the decoder into its damaged states at once.
  Bytes ff{100, 0, 0, 0, 3, 0, 1, 0};
  ff.resize(40, 0xFF);
  spit(path("ff.tav"), ff);
  const Result r = tav_d("ff.tav out.txt");
  EXPECT_EQ(r.status, 2) << r.out;
}

}  // namespace
