// tav_d, the original decoder program: its usage, report, file errors,
// headers it accepts and refuses, damaged files and members, and what it
// leaves at its destination.
#include <functional>
#include <random>
#include <string>

#include "member_index.h"
#include "output_name.h"
#include "program_run.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

using TavD = ProgramTest;

// A container with no text: text_length 0, then level_limit, memory_mb and
// an 8-byte stream.
std::string empty_container(uint16_t level_limit = 5, uint16_t memory_mb = 1) {
  std::string b{0, 0, 0, 0, static_cast<char>(level_limit), static_cast<char>(level_limit >> 8),
                static_cast<char>(memory_mb), static_cast<char>(memory_mb >> 8)};
  b.resize(16, 0);
  return b;
}

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

TEST_F(TavD, UsageAndFileErrors) {
  Result r = tav_d("");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("tav_d"), std::string::npos);
  EXPECT_NE(r.out.find("Usage: tav_d <compressedfile> [<destination>]\n\n"), std::string::npos);

  r = tav_d("missing.tav");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot open compressed file.\n"), std::string::npos);
  EXPECT_EQ(r.err, "tav_d: missing.tav: cannot open: No such file or directory\n");

  write("e.tav", empty_container());
  r = tav_d("e.tav no/such/dir/out");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot create output file.\n"), std::string::npos);
  EXPECT_EQ(r.err, "tav_d: no/such/dir/out: cannot create: No such file or directory\n");

  // A directory is no compressed file, whatever reading it would give.
  fs::create_directories(path("somedir"));
  r = tav_d("somedir/");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot open compressed file.\n"), std::string::npos);
  EXPECT_EQ(r.err, "tav_d: somedir/: is a directory\n");
  EXPECT_TRUE(other_files({"e.tav", "somedir"}).empty());
}

TEST_F(TavD, EmptyTextReport) {
  write("e.tav", empty_container(5, 1));
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

TEST_F(TavD, ShortHeadersUseInitialFieldValues) {
  write("four.bin", std::string(4, '\0'));
  Result r = tav_d("four.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  // The position never lies beyond the file's end.
  EXPECT_NE(r.out.find("Out=4 M"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n     4 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Using model order 256."), std::string::npos);
  EXPECT_NE(r.out.find("Using 512M of RAM."), std::string::npos);
  EXPECT_EQ(fs::file_size(path("four.unp")), 0u);

  write("zero.tav", empty_container(0, 1));
  r = tav_d("zero.tav");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Using model order -1."), std::string::npos);
}

TEST_F(TavD, DerivedOutputGoesToTheWorkingDirectory) {
  fs::create_directories(path("dir.old"));
  write("dir.old/readme", empty_container());
  const Result r = tav_d("dir.old/readme");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(path("readme.unp")));
}

TEST_F(TavD, RefusesToOverwriteTheCompressedFile) {
  const std::string c = empty_container();
  write("x.unp", c);
  const Result r = tav_d("x.unp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("is the compressed file itself"), std::string::npos) << r.out;
  EXPECT_EQ(read("x.unp"), c);
}

TEST_F(TavD, InvalidHeaders) {
  const struct {
    std::string header;
    const char* message;
    const char* err;  // the start of standard error
  } cases[] = {
      {{0, 0, 0, 0, 3, 0, 0, 0}, "no room for the model", "tav_d: bad.tav: invalid header: "},
      {{0, 0, 0, 0, 3, 0, '\xFF', '\xFF'}, "exceeds the supported maximum", "tav_d: bad.tav: invalid header: "},
      {{'\xFF', '\xFF', '\xFF', '\xFF', 3, 0, 1, 0}, "exceeds the supported maximum",
       "tav_d: bad.tav: invalid header: "},
      // Level limit 1088: one more level than the model's context stack holds.
      {{0, 0, 0, 0, 0x40, 0x04, 1, 0}, "Model order 1087 exceeds the supported maximum of 1086.\n",
       "tav_d: bad.tav: unsupported: model order 1087 "},
  };
  for (const auto& c : cases) {
    write("bad.tav", c.header);
    const Result r = tav_d("bad.tav out");
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(path("out")));
  }
  // The largest order is accepted.
  write("max.tav", empty_container(1087, 1));
  const Result r = tav_d("max.tav out");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Using model order 1086."), std::string::npos) << r.out;
}

// Damaged and truncated files end with a message or with decoded bytes,
// never with a crash or a hang.
TEST_F(TavD, DamagedFilesNeverCrash) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "word" + std::to_string(i * 7 % 101) + " ";
  write("t.txt", text);
  ASSERT_EQ(tav_e("t.txt -o c.tav --order 4").status, 0);
  const std::string good = read("c.tav");
  std::mt19937 rng(11);
  for (int trial = 0; trial < 12; ++trial) {
    std::string bad = good;
    if (trial % 3 == 0) {
      bad.resize(8 + rng() % (bad.size() - 8));
    } else {
      for (int k = 0; k < 1 + trial % 4; ++k) bad[8 + rng() % (bad.size() - 8)] ^= static_cast<char>(1 + rng() % 255);
    }
    write("bad.tav", bad);
    const Result r = tav_d("bad.tav out.txt");
    ASSERT_TRUE(r.status == 0 || r.status == 2) << "trial " << trial << " status " << r.status;
    if (r.status == 2) {
      EXPECT_NE(r.out.find("Damaged compressed file"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("at position"), std::string::npos);
      // A cut that takes the trailer leaves a plain file: warned about first.
      EXPECT_NE(r.err.find("tav_d: bad.tav: damaged: "), std::string::npos) << r.err;
    }
  }
  // An all-0xFF stream drives the decoder into its damaged states at once.
  std::string ff{100, 0, 0, 0, 3, 0, 1, 0};
  ff.resize(40, '\xFF');
  write("ff.tav", ff);
  const Result r = tav_d("ff.tav out.txt");
  EXPECT_EQ(r.status, 2) << r.out;
}

// A failed decode never destroys what was there: an existing destination
// stays as it was and the text decoded before the damage goes to a new name;
// a destination that did not exist gets it.  A complete decode replaces an
// existing destination and takes the compressed file's permissions, not the
// umask's.
TEST_F(TavD, FailedDecodeKeepsTheDestination) {
  const std::string text = small_text();
  write("t.txt", text);
  ASSERT_EQ(tav_e("-q t.txt -o c.tav").status, 0);
  const std::string good = read("c.tav");
  // Cut short, a file always stops within 8 bytes past its end.
  write("bad.tav", good.substr(0, good.size() / 2));
  const std::string old(51200, 'v');
  write("victim.txt", old);

  Result r = tav_d("bad.tav victim.txt");
  ASSERT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(read("victim.txt"), old);
  const std::string partial = read("victim.txt.partial");
  // Its last bytes may come from the fillers read past the end of the file.
  EXPECT_GT(partial.size(), 0u);
  EXPECT_EQ(text.compare(0, partial.size() / 2, partial, 0, partial.size() / 2), 0);
  EXPECT_NE(r.err.find("; victim.txt was left as it was, the " + std::to_string(partial.size()) +
                       " bytes before it are in victim.txt.partial\n"),
            std::string::npos)
      << r.err;

  r = tav_d("bad.tav fresh.txt");
  ASSERT_EQ(r.status, 2);
  EXPECT_EQ(read("fresh.txt"), partial);
  EXPECT_TRUE(other_files({"t.txt", "c.tav", "bad.tav", "victim.txt", "victim.txt.partial", "fresh.txt"}).empty());

  for (const auto mode : {fs::perms(0600), fs::perms(0666), fs::perms(0750)}) {
    fs::permissions(path("c.tav"), mode);
    ASSERT_EQ(tav_d("c.tav victim.txt").status, 0);
    EXPECT_EQ(read("victim.txt"), text);
    EXPECT_EQ(fs::status(path("victim.txt")).permissions(), mode);
  }
}

// Concatenated files decode to their texts in order, as gzip members do; the
// report runs over the whole text and the whole file.
TEST_F(TavD, ConcatenatedMembersDecodeInOrder) {
  const std::string a = small_text(), b = "and a second, shorter text\n";
  write("a.txt", a);
  write("b.txt", b);
  const Result r = shell("$E -q a.txt && $E -q --verify -3 b.txt && cat a.txt.tav b.txt.tav >c.tav && $D c.tav out.txt");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(read("out.txt"), a + b);
  const std::string total = std::to_string(a.size() + b.size());
  const std::string size = std::to_string(fs::file_size(path("c.tav")));
  EXPECT_NE(r.out.find("\rInp=" + total + "/" + total + " Out=" + size + " M"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n" + std::string(6 - size.size(), ' ') + size + " "), std::string::npos) << r.out;
}

// Every member fault ends the run with exit 2, the fault and its position on
// standard error, and an existing destination left as it was.
TEST_F(TavD, DamagedMembersAreRefusedWithTheirPosition) {
  const std::string text = small_text();
  write("t.txt", text);
  ASSERT_EQ(tav_e("-q -4 t.txt -o good.tav").status, 0);
  const std::string good = read("good.tav");
  const size_t trailer_at = good.size() - tav::TRAILER_BYTES;
  const auto retrail = [&](std::string& f, uint64_t hash_xor, uint64_t extra_bytes) {
    tav::MemberTrailer t;
    t.text_hash = tav::text_hash({reinterpret_cast<const uint8_t*>(text.data()), text.size()}) ^ hash_xor;
    t.member_bytes = good.size() + extra_bytes;
    t.text_length = static_cast<uint32_t>(text.size());
    const auto bytes = tav::write_trailer(t);
    std::copy(bytes.begin(), bytes.end(), f.end() - tav::TRAILER_BYTES);
  };
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    std::string reason;  // standard error after "damaged: "
  } cases[] = {
      {"checksum", [&](std::string& f) { retrail(f, 1, 0); },
       "checksum mismatch at position 0; victim.txt was left as it was, the 0 bytes before it are in victim.txt.partial"},
      {"trailing byte", [](std::string& f) { f.push_back('x'); },
       "bytes after a member that belong to no member at position " + std::to_string(good.size())},
      {"trailer cut", [](std::string& f) { f.pop_back(); },
       "trailer cut short at position " + std::to_string(trailer_at)},
      {"trailer byte", [&](std::string& f) { f[trailer_at + 9] ^= 1; },
       "trailer damaged at position " + std::to_string(trailer_at)},
      {"stream end",
       [&](std::string& f) {
         f.insert(f.begin() + static_cast<long>(trailer_at), '\0');
         retrail(f, 0, 1);
       },
       "stream does not end where the trailer says at position " + std::to_string(trailer_at)},
  };
  const std::string old(100, 'v');
  for (const auto& c : cases) {
    std::string bad = good;
    c.damage(bad);
    write("bad.tav", bad);
    write("victim.txt", old);
    fs::remove(path("victim.txt.partial"));
    const Result r = tav_d("bad.tav victim.txt");
    EXPECT_EQ(r.status, 2) << c.what;
    EXPECT_NE(r.out.find("Damaged compressed file: "), std::string::npos) << c.what << r.out;
    EXPECT_EQ(r.err.rfind("tav_d: bad.tav: damaged: " + c.reason, 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(read("victim.txt"), old) << c.what;
  }
}

}  // namespace
}  // namespace tavtest
