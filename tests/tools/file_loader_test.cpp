// Loading whole files: mapped regular files, streams read to their end, and a
// mapped file cut short under the loader's feet.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "file_loader.h"
#include "tool_error.h"

using namespace tav::tools;

namespace {

namespace fs = std::filesystem;

class FileLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("file_loader_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path write(const std::string& name, const std::string& content) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  fs::path dir_;
};

std::string as_string(const LoadedFile& f) { return std::string(f.bytes().begin(), f.bytes().end()); }

std::string random_bytes(std::size_t n) {
  std::mt19937 rng(21);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

TEST_F(FileLoader, RegularFilesComeBackWhole) {
  for (const std::size_t length : {std::size_t(0), std::size_t(1), std::size_t(4095), std::size_t(4096),
                                   std::size_t(3) << 20}) {
    const std::string content = random_bytes(length);
    const LoadedFile f = load_file(write("f", content).string());
    EXPECT_EQ(f.length, length);
    EXPECT_EQ(as_string(f), content) << length;
  }
}

// A FIFO has no size to map: it is read to its end, across many buffer sizes.
TEST_F(FileLoader, StreamsAreReadToTheirEnd) {
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string content = random_bytes(300000);
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << content; });
  const LoadedFile f = load_file(fifo.string());
  writer.join();
  EXPECT_EQ(as_string(f), content);
}

TEST_F(FileLoader, MissingFilesAndDirectoriesAreRefused) {
  EXPECT_THROW(load_file((dir_ / "absent").string()), ToolError);
  EXPECT_THROW(load_file(dir_.string()), ToolError);
}

// Reading pages of a mapping that the file no longer covers would kill the
// process with SIGBUS; it ends with a message naming the file instead.
TEST_F(FileLoader, FileCutShortWhileMappedEndsWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path p = write("f", random_bytes(1 << 20));
  EXPECT_EXIT(
      {
        const LoadedFile f = load_file(p.string());
        fs::resize_file(p, 0);
        unsigned sum = 0;
        for (const std::uint8_t c : f.bytes()) sum += c;
        std::printf("%u\n", sum);  // not reached
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "f: file shrank while being read");
}

}  // namespace
