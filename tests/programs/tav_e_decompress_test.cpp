// tav_e -d, -t and -l: the names it decodes to and the runs it refuses, the
// listing read from headers and trailers, and the test that decodes and
// checks every member.
#include <cstdio>
#include <string>

#include "member_index.h"
#include "program_run.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

using TavEDecompress = ProgramTest;

tav::MemberIndex index_of(const std::string& file) {
  return tav::index_members({reinterpret_cast<const uint8_t*>(file.data()), file.size()});
}

// -d: the name without .tav beside the input; other names only with -c or
// -o; an existing file, a damaged file or a failed run leave no output.
TEST_F(TavEDecompress, NamesAndRefusals) {
  const std::string text = blocks_text();
  write("t.txt", text);
  ASSERT_EQ(tav_e("-q -1 --block-size 64K t.txt -o a.tav").status, 0);
  const std::string good = read("a.tav");
  std::string bad = good;
  bad[bad.size() - 20] ^= 1;  // the last trailer's check
  write("bad.tav", bad);
  write("b.txt", good);
  const struct {
    const char* args;
    int status;
    const char* err;     // the start of standard error
    const char* output;  // the file it writes, "" for none
  } cases[] = {
      {"-d a.tav", 0, "", "a"},
      {"-d a.tav", 1, "tav_e: a: already exists; use -f to overwrite\n", ""},
      {"-d -f a.tav", 0, "", "a"},
      {"-d b.txt", 1, "tav_e: b.txt: no .tav suffix to remove; name the output with -o, or use -c\n", ""},
      {"-d b.txt -o c", 0, "", "c"},
      {"--decompress -T 3 <a.tav >d", 0, "", "d"},
      {"-d bad.tav", 2, "tav_e: bad.tav: damaged: trailer damaged at position ", ""},
  };
  for (const auto& c : cases) {
    const Result r = tav_e(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << c.args << ": " << r.err;
    if (*c.output != '\0') {
      EXPECT_EQ(read(c.output), text) << c.args;
    }
  }
  EXPECT_FALSE(fs::exists(path("bad")));
}

// -l reads headers and trailers only; -t decodes and checks, writes nothing.
TEST_F(TavEDecompress, ListAndTestFiles) {
  const std::string text = blocks_text();
  write("t.txt", text);
  ASSERT_EQ(tav_e("-q -1 --block-size 64K t.txt -o three.tav").status, 0);
  ASSERT_EQ(tav_e("-q -3 t.txt -o one.tav").status, 0);
  const std::string three = read("three.tav"), one = read("one.tav");
  write("plain.tav", one.substr(0, one.size() - tav::TRAILER_BYTES));
  const auto index = index_of(three);
  ASSERT_EQ(index.members.size(), 3u);
  std::string bad = three;
  const uint64_t second_end = index.members[1].offset + index.members[1].trailer.member_bytes;
  bad[second_end - 1] ^= 1;  // the second trailer's magic
  write("bad.tav", bad);
  std::string flipped = three;
  flipped[index.members[1].stream_offset + 100] ^= 0x40;  // inside the second stream
  write("flipped.tav", flipped);

  Result r = tav_e("-l three.tav one.tav plain.tav bad.tav");
  EXPECT_EQ(r.status, 2);
  const std::string n = std::to_string(text.size());
  const auto row = [&](const char* members, const std::string& bytes, const char* check, const char* name) {
    char ratio[16];
    std::snprintf(ratio, sizeof ratio, "%.3f", static_cast<double>(bytes.size()) / static_cast<double>(text.size()));
    char line[160];
    std::snprintf(line, sizeof line, "%7s %12zu %13s %6s  %-5s  %s\n", members, bytes.size(), n.c_str(), ratio, check,
                  name);
    return std::string(line);
  };
  const std::string listed = "Members   Compressed  Uncompressed  Ratio  Check  Filename\n" +
                             row("3", three, "XXH64", "three.tav") + row("1", one, "XXH64", "one.tav");
  EXPECT_EQ(r.out.substr(0, listed.size()), listed);
  EXPECT_EQ(r.err, "tav_e: plain.tav: not a .tav file or cut short\ntav_e: bad.tav: damaged: trailer damaged at position " +
                       std::to_string(second_end - tav::TRAILER_BYTES) + "\n");
  r = tav_e("-l --plain plain.tav");
  EXPECT_EQ(r.out, "Members   Compressed  Uncompressed  Ratio  Check  Filename\n" +
                       row("1", read("plain.tav"), "none", "plain.tav"));
  r = tav_e("-lv three.tav");
  EXPECT_NE(r.out.find("Budget MB  Check\n       1            0 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n       3 " + std::string(12 - std::to_string(index.members[2].offset).size(), ' ') +
                       std::to_string(index.members[2].offset) + " "),
            std::string::npos)
      << r.out;

  r = tav_e("-tv three.tav one.tav plain.tav");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.err, "three.tav: OK\none.tav: OK\ntav_e: plain.tav: not a .tav file or cut short\n");
  EXPECT_EQ(r.out, "");
  r = tav_e("-tv --plain plain.tav");
  EXPECT_EQ(r.err, "plain.tav: OK\n");
  r = tav_e("--test <three.tav");
  EXPECT_EQ(r.status, 0) << r.err;
  r = tav_e("-t flipped.tav three.tav");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("tav_e: flipped.tav: damaged: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" at position "), std::string::npos) << r.err;
  EXPECT_TRUE(other_files({"t.txt", "three.tav", "one.tav", "plain.tav", "bad.tav", "flipped.tav"}).empty());
}

}  // namespace
}  // namespace tavtest
