#include "program_run.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace tavtest {

namespace {

// A name between single quotes for sh.
std::string quoted(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void ProgramTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "tav_programs_XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << pattern;
  root_ = pattern;
  dir_ = root_ / "work";
  fs::create_directory(dir_);
}

void ProgramTest::TearDown() {
  if (!root_.empty()) fs::remove_all(root_);
}

Result ProgramTest::run(const std::string& program, const std::string& args,
                     const std::optional<std::string>& input) const {
  const fs::path out = root_ / "stdout", err = root_ / "stderr", in = root_ / "stdin";
  std::string cmd = "cd " + quoted(dir_.string()) + " && ";
  if (input) {
    std::ofstream(in, std::ios::binary) << *input;
    cmd += "cat " + quoted(in.string()) + " | ";
  }
  // The defaults first: the caller's redirections come later and win.
  cmd += quoted(program) + (input ? "" : " </dev/null") + " >" + quoted(out.string()) + " 2>" +
         quoted(err.string()) + " " + args;
  const int raw = std::system(cmd.c_str());
  Result r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  r.out = read_file(out);
  r.err = read_file(err);
  fs::remove(out);
  fs::remove(err);
  fs::remove(in);
  return r;
}

Result ProgramTest::tav_e(const std::string& args, const std::optional<std::string>& input) const {
  return run(TAV_E_PATH, args, input);
}

Result ProgramTest::tav_d(const std::string& args) const { return run(TAV_D_PATH, args); }

Result ProgramTest::shell(const std::string& body) const {
  const fs::path script = root_ / "script.sh";
  std::ofstream(script) << "E=" << quoted(TAV_E_PATH) << "; D=" << quoted(TAV_D_PATH) << "\n"
                        << "PATH=" << quoted(fs::path(TAV_E_PATH).parent_path().string()) << ":"
                        << quoted(fs::path(TAV_D_PATH).parent_path().string()) << ":\"$PATH\"\n"
                        << body << "\n";
  Result r = run("sh", quoted(script.string()));
  fs::remove(script);
  return r;
}

std::string ProgramTest::read(const std::string& name) const { return read_file(dir_ / name); }

void ProgramTest::write(const std::string& name, std::string_view bytes) const {
  std::ofstream f(dir_ / name, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ProgramTest::other_files(const std::vector<std::string>& expected) const {
  std::vector<std::string> extra;
  for (const auto& e : fs::directory_iterator(dir_)) {
    const std::string name = e.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
  }
  return extra;
}

std::string small_text() {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i % 37) + " of a small text\n";
  return text;
}

std::string blocks_text() {
  std::string text;
  for (int i = 0; i < 4; ++i) text += small_text();
  return text;
}

}  // namespace tavtest
