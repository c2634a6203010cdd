// The fixture of the tests that run the real programs: each test gets a fresh
// temporary folder, the working directory of every program it runs, and a
// run gives back the exit status, standard output and standard error.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavtest {

struct Result {
  int status = -1;  // the exit status, or 128 + the signal that ended the program
  std::string out, err;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs `program` with `args`, words and redirections as a shell reads
  // them, in the folder: "-o x <in.txt" or "-d <a.tav >d" redirect anew.
  // Standard input is /dev/null, or `input` through a pipe (the program
  // cannot learn its size).  Standard output and error are kept outside the
  // folder, which holds only what the program leaves.
  Result run(const std::string& program, const std::string& args,
          const std::optional<std::string>& input = std::nullopt) const;
  Result tav_e(const std::string& args, const std::optional<std::string>& input = std::nullopt) const;
  Result tav_d(const std::string& args) const;
  // Runs `body` with sh in the folder; $E and $D name the programs, and both
  // are on PATH as on an installed machine.
  Result shell(const std::string& body) const;

  std::filesystem::path path(const std::string& name) const { return dir_ / name; }
  std::string read(const std::string& name) const;
  void write(const std::string& name, std::string_view bytes) const;
  // Names in the folder other than `expected`: a finished or failed run
  // leaves no temporary file behind.
  std::vector<std::string> other_files(const std::vector<std::string>& expected) const;

 private:
  std::filesystem::path root_;  // the folder, and beside it the captured output
  std::filesystem::path dir_;
};

// 2000 short lines, 47 KB, that repeat every 37 lines.
std::string small_text();

// Four copies of small_text(), 190 KB: three members of 64 KiB blocks.
std::string blocks_text();

// The whole of a file, as bytes.
std::string read_file(const std::filesystem::path& p);

}  // namespace tavtest
