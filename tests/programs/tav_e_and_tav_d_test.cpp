// What both programs do alike: memory the system refuses or the machine
// lacks, a full disk, outputs behind symbolic links, and a hangup ignored at
// start.
#include <sys/stat.h>

#include <string>

#include "decoder_types.h"
#include "program_run.h"
#include "system_memory.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

using TavEAndTavD = ProgramTest;

// Memory the system refuses.  A 32767 MB budget needs a 16 MB page table
// before the first node; under the smallest address-space limit (in steps of
// 2 MB) at which both programs run a 1 MB budget, that table cannot be had.
// tav_e says so and leaves no file; tav_d prints its fixed message, names
// the file on standard error and keeps the text decoded so far (none).
TEST_F(TavEAndTavD, ModelMemoryTheSystemRefuses) {
  write("t.txt", small_text());
  ASSERT_EQ(tav_e("-q --order 3 -m 32767 t.txt -o big.tav").status, 0);
  ASSERT_EQ(tav_e("-q --order 3 -m 1 t.txt -o small.tav").status, 0);
  auto limited = [&](int kb, const char* exe, const std::string& args) {
    return run("/bin/sh", "-c \"ulimit -v " + std::to_string(kb) + " && exec '" + exe + "' " + args + "\"");
  };
  int kb = 4096;
  while (kb <= 65536 && (limited(kb, TAV_E_PATH, "-qf -m 1 t.txt -o x.tav").status != 0 ||
                         limited(kb, TAV_D_PATH, "small.tav x.txt").status != 0))
    kb += 2048;
  if (kb > 65536) GTEST_SKIP() << "no address-space limit lets the programs run (sanitizer build?)";

  Result r = limited(kb, TAV_E_PATH, "-m 32767 t.txt -o c.tav");
  EXPECT_EQ(r.status, 1);
  // After the warning that the budget exceeds the machine.
  EXPECT_TRUE(r.err.ends_with("\ntav_e: t.txt: not enough memory for the model; use a smaller --memory budget\n"))
      << r.err;
  EXPECT_EQ(r.out, "");
  r = limited(kb, TAV_D_PATH, "big.tav out.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(" \xFE Using 32767M of RAM.\n\nFailed to allocate a block :(\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("tav_d: big.tav: not enough memory for the model (the system refused node "
                       "memory at position 0"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(fs::file_size(path("out.txt")), 0u);
  EXPECT_TRUE(other_files({"t.txt", "big.tav", "small.tav", "x.tav", "x.txt", "out.txt"}).empty());
}

// A budget larger than the machine: both programs warn alike (not with -q).
TEST_F(TavEAndTavD, OversizedBudgetWarnsInBothPrograms) {
  if (tav::machine_memory_bytes() >= (uint64_t{tav::MAX_MEMORY_MB} << 20))
    GTEST_SKIP() << "this machine can give " << tav::MAX_MEMORY_MB << " MB";
  write("t.txt", "abc");
  const std::string warning = "warning: the node budget of 32767M exceeds the ";
  Result r = tav_e("-q -m 32767 t.txt -o q.tav");
  EXPECT_EQ(r.err, "");
  r = tav_e("-m 32767 t.txt -o c.tav");
  ASSERT_EQ(r.status, 0);
  const size_t at = r.err.find("tav_e: t.txt: " + warning);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::string room = r.err.substr(at + 14 + warning.size(), r.err.find(" MB", at) - at - 14 - warning.size());
  r = tav_d("c.tav out.txt");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind("tav_d: c.tav: " + warning + room + " MB this machine can give", 0), 0u) << r.err;
}

// A full disk: every program reports the failed write and exits 1; nothing
// is reported as success, and no device is replaced by a file.
TEST_F(TavEAndTavD, FullDiskIsAnError) {
  write("t.txt", "a line of text for a full disk\n");
  ASSERT_EQ(tav_e("-5 t.txt -o c.tav").status, 0);

  Result r = tav_d("c.tav /dev/full");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Cannot write output file."), std::string::npos) << r.out;

  r = tav_e("-5 t.txt -o /dev/full");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("/dev/full: cannot write"), std::string::npos) << r.err;
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";

  r = tav_e("-5 -c t.txt >/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;

  // A special file that accepts the bytes is written in place.
  r = tav_e("-5 t.txt -o /dev/null");
  EXPECT_EQ(r.status, 0) << r.err;
}

// An output that is, or resolves to, anything but a plain regular file is
// written through its name: a symlink stays a symlink (here one like
// /dev/stdout, and one to a regular file, which needs -f like the file).
TEST_F(TavEAndTavD, SymlinkedOutputsAreWrittenThrough) {
  const std::string text = small_text();
  write("t.txt", text);
  const std::string compressed = tav_e("-q -c t.txt").out;
  write("c.tav", compressed);
  fs::create_symlink("/proc/self/fd/1", path("so"));
  fs::create_symlink("real", path("link"));
  write("real", "old");

  Result r = tav_e("-qf t.txt -o so");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, compressed);
  r = tav_e("-q t.txt -o link");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tav_e: link: already exists; use -f to overwrite\n");
  EXPECT_EQ(read("real"), "old");
  ASSERT_EQ(tav_e("-qf t.txt -o link").status, 0);
  EXPECT_EQ(read("real"), compressed);
  r = tav_d("c.tav link");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read("real"), text);
  for (const char* name : {"so", "link"}) EXPECT_TRUE(fs::is_symlink(path(name))) << name;
}

// A signal ignored at start (nohup, trap '' HUP) stays ignored: the run goes
// on after SIGHUP and completes.  Both programs wait on a FIFO meanwhile.
TEST_F(TavEAndTavD, IgnoredHangupStaysIgnored) {
  const std::string text = small_text();
  write("t.txt", text);
  ASSERT_EQ(tav_e("-q t.txt -o c.tav").status, 0);
  const struct {
    const char* command;
    const char* feed;
    const char* result;
  } cases[] = {
      {"\"$E\" -q -o out.tav <gate", "t.txt", "out.tav"},
      {"\"$D\" gate out.txt >/dev/null", "c.tav", "out.txt"},
  };
  for (const auto& c : cases) {
    const Result r = shell(std::string("trap '' HUP; mkfifo gate; (exec ") + c.command + ") & pid=$!\n" +
                        "exec 3>gate; sleep 0.3; kill -HUP $pid; sleep 0.1; cat " + c.feed +
                        " >&3; exec 3>&-; wait $pid; echo $?; rm gate\n");
    EXPECT_EQ(r.out, "0\n") << c.command << ": " << r.err;
    ASSERT_TRUE(fs::exists(path(c.result))) << c.command;
  }
  ASSERT_EQ(tav_d("out.tav back.txt").status, 0);
  EXPECT_EQ(read("back.txt"), text);
  EXPECT_EQ(read("out.txt"), text);
}

}  // namespace
}  // namespace tavtest
