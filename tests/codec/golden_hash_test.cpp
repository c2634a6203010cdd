// Golden hashes: fixed inputs compressed at fixed settings must give the
// same compressed bytes, to the bit, in every build (default flags,
// -O3 -march=native, gcc and clang).  The compressed bytes are the model's
// arithmetic made visible: a changed hash means a changed model or coder, and
// so files that older or newer decoders would misread.  Each output is also
// decoded, so a failure says whether the build is merely different or broken.
//
// To add a case: add the row with an empty hash, run with TAV_GOLDEN_PRINT=1
// on a build of the last commit whose bits are known good, paste the printed
// row.  Never update an existing hash to make a failure pass.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "container_io.h"
#include "decode_run.h"
#include "parallel_members.h"
#include "settings.h"
#include "sha256.h"

namespace tav::test {
namespace {

// Inputs are generated from raw std::mt19937 output (its sequence is fixed by
// the language standard) or cut from the bundled sample.
Bytes licenses(size_t offset, size_t length) {
  const Bytes all = read_file(std::string(TAV_SAMPLES_DIR) + "/licenses.txt");
  if (all.size() < offset + length) return {};
  return Bytes(all.begin() + offset, all.begin() + offset + length);
}

Bytes word_salad(size_t n) {
  static const char* const words[] = {"the ",   "of ",    "and ",  "to ",    "in ",   "a ",
                                      "is ",    "that ",  "for ",  "it ",    "as ",   "was ",
                                      "with ",  "be ",    "by ",   "on ",    "not ",  "he ",
                                      "this ",  "are ",   "or ",   "his ",   "from ", "at ",
                                      "which ", "but ",   "have ", "an ",    "had ",  "they ",
                                      "you ",   "were ",  "their ", "one ",  "all ",  "we ",
                                      "can ",   "her ",   "has ",  "there ", "been ", "if.\n"};
  std::mt19937 rng(7);
  Bytes out;
  while (out.size() < n) {
    const std::string w = words[rng() % std::size(words)];
    out.insert(out.end(), w.begin(), w.end());
  }
  out.resize(n);
  return out;
}

Bytes code_like(size_t n) {
  static const char* const names[] = {"count", "node", "level", "frequency", "total", "slot"};
  std::mt19937 rng(11);
  Bytes out;
  while (out.size() < n) {
    std::string line = std::string(2 * (1 + rng() % 3), ' ');
    const char* a = names[rng() % std::size(names)];
    const char* b = names[rng() % std::size(names)];
    switch (rng() % 4) {
      case 0: line += std::string("if (") + a + " < " + b + ") return " + a + ";\n"; break;
      case 1: line += std::string(a) + "[" + std::to_string(rng() % 64) + "] += " + b + ";\n"; break;
      case 2: line += std::string("for (uint32_t i = 0; i < ") + b + "; ++i) {\n"; break;
      default: line += "}\n"; break;
    }
    out.insert(out.end(), line.begin(), line.end());
  }
  out.resize(n);
  return out;
}

// Little-endian records: a counter, a small tag and a noisy 16-bit value.
Bytes binary_records(size_t n) {
  std::mt19937 rng(13);
  Bytes out;
  for (uint32_t i = 0; out.size() < n; ++i) {
    const uint32_t counter = i * 12;
    const uint32_t noise = rng();
    const uint8_t rec[8] = {uint8_t(counter), uint8_t(counter >> 8), uint8_t(counter >> 16), 0,
                            uint8_t(noise % 5), 0x7F, uint8_t(noise >> 8), uint8_t((noise >> 16) & 3)};
    out.insert(out.end(), rec, rec + 8);
  }
  out.resize(n);
  return out;
}

Bytes all_values(int rounds) {
  Bytes out;
  for (int r = 0; r < rounds; ++r)
    for (int b = 0; b < 256; ++b) out.push_back(static_cast<uint8_t>(r % 2 ? 255 - b : (b * 7) % 256));
  return out;
}

struct Input {
  const char* name;
  Bytes text;
};

const std::vector<Input>& inputs() {
  static const std::vector<Input> all = {
      {"licenses-64k", licenses(0, 65536)},
      {"licenses-tail", licenses(120000, 24000)},
      {"word-salad", word_salad(40000)},
      {"code-like", code_like(30000)},
      {"binary-records", binary_records(24000)},
      {"all-values", all_values(16)},
      {"repeated-block", repeated_block()},
  };
  return all;
}

// `expected`: the SHA-256 of the whole compressed file, or "stops at N" for
// a setting that cannot code the input (the compressor must detect it at
// byte N and fall back to another order).
struct Case {
  const char* input;
  uint32_t order;
  uint32_t memory_mb;
  const char* expected;
};

const Case CASES[] = {
    {"licenses-64k", 0, 16, "7eea16e50e438da9cf2dfa708a8dfd6f5b5e4f632ed3cba46e9d6f7d11259888"},
    {"licenses-64k", 3, 16, "2ad7f205c2162dcf49609167102c46390d0b2c6636c47adf677d74dc02db0aae"},
    {"licenses-64k", 6, 64, "c99d4356a7926dae2a5dc773fa2b6783ef0b288e13fd9f610221b479eb771a54"},
    {"licenses-64k", 8, 1024, "5f49798d54afbe9ca98202347202f8133fa72a1145625b0512a1711538e0223d"},
    {"licenses-64k", 16, 1024, "06b2d9e85b26484a508b85149e51545e35561216d65585dde15297f69b362954"},
    {"licenses-64k", 16, 1, "c373f4610c6eca174faf585593c5f733fe88c07ba5b89840f1596b56797cdc00"},
    {"licenses-tail", 2, 8, "e189e95a53f4809dcfc9085001e73da0e3ddb1a4eda76c3544634427a93bb05d"},
    {"licenses-tail", 5, 8, "e933f21c38533b08d65e9761f5d7936d28905b2bc42cd3639b57f8a43d584b46"},
    {"licenses-tail", 12, 2, "a3a4cf168e5120f71148e2b611df4fb3830e3448c0169e0da907caf3beb6d6d6"},
    {"word-salad", 1, 8, "0ac80f047f69a47d083fbdae8028c3b70f4135094d1b40be176ef4bed88c3aa0"},
    {"word-salad", 4, 8, "6a0a4cd171e4c3be3e83c588961a98eea83de001a6682af019a46710fc558e0c"},
    {"word-salad", 8, 8, "6955824fc9b0c8bca3a3226b18af0b9b73005b61d38a75fb043019f4400d90f1"},
    {"code-like", 3, 8, "891ce09472c6e1395faae1ad3c22807c12d6ceeebaf605c606cd7809b71bc5a2"},
    {"code-like", 6, 8, "09821ff42536916b3d3b73a177ac3e16c332172b8c8116a6622d9aabe7e2c802"},
    {"code-like", 24, 8, "b023feeaf65f88e5979ecb056ffde1cb7971860c6f417822159dc9547b354dd5"},
    {"binary-records", 0, 4, "fce0caf863328e460bf0aad1336786d514c2a0fc7ce267ca955309ca944b0ff1"},
    {"binary-records", 2, 4, "56bdf5a6ee8579e366d9b4a2da563be419d05848e4c1e97fd1ff917a0a1e36fc"},
    {"binary-records", 4, 4, "765b7cb66092f8785a19d0efc2dc00618002901e458af7a4e4ab3d07673ffc5d"},
    {"binary-records", 8, 1, "3ae6ddb60f50cc700fa15b78fe2d8b62648b6dcc675f7124461b76d9c2cbbd10"},
    {"all-values", 0, 1, "a025fefaf2e1d6acc7e0fa5cdf507f59be6e74a1b5c077fcc795de356dce074a"},
    {"all-values", 1, 1, "bf83c07bb5a58b1eda5e3378244898eb7e85511ea488955c8aef1c8a170c3791"},
    {"all-values", 7, 1, "01a3eb06fcd11041c86d855c2a9c22f32e27b83ec2ea20fa4f8d9122a6bae9e6"},
    {"repeated-block", 6, 8, "stops at 74032"},
    {"repeated-block", 5, 8, "2e00f5ed0e385ac41ee455839fe83b5dafb6c782e5c2b7a1091d42659db0abfc"},
    {"repeated-block", 0, 8, "f98f61e7876f007d32706b59d82a3a7392d4cf63bdda46d0d24a6afdac3e2be0"},
};

// The presets of tav_e, through the settings table it uses: a changed table
// changes what users get from -1 .. -9, and these hashes with it.
struct PresetCase {
  const char* input;
  int level;
  const char* expected;
};

const PresetCase PRESET_CASES[] = {
    {"licenses-tail", 1, "555c19ccb05d15bab07a5e5974607a632568dad4754d7618d1a6df99cdd00032"},
    {"licenses-tail", 2, "a0a36fd3a589b14abbc0f2d8ebe632425879e6f81cf4a4b20b05c2521cf40ba7"},
    {"licenses-tail", 3, "221f46f8ecca04395e4d47da68330cb9d72faf00a6f346bc6a82d8ee3eb2612d"},
    {"licenses-tail", 4, "0b23e6312ff9fb09d17f3dc47b4c30184d1952d92805c3e7b9af80860d0b3d8a"},
    {"licenses-tail", 5, "f081a0be9cd50bdedf9c57a35f7fdb53c853b914ca7b6d24a9d7afd5efe9c7bb"},
    {"licenses-tail", 6, "8f4e99f438d7ba54479c16606e191fcb903e829d5ed005626ff8a9e8ee3c692e"},
    {"licenses-tail", 7, "8c635b737daf6e4608927eedd0625d4c898a3fe12f1a7fb9b0a226df264b46d3"},
    {"licenses-tail", 8, "fece7094922aae0d4bcf498b2c02c92c538d300a2bec980286d2d734a324bfda"},
    {"licenses-tail", 9, "0c248a4c3b28fe3e0bfed2057efa687e036277a44d2c1cde6c0749d2b47935c2"},
    {"code-like", 9, "441ae87837594bcdf8ae443f2cf1d2ca8b97ee923ec6742f3ef4aa427a81627a"},
    {"binary-records", 7, "9cb1589be3dc15499c3e09f011b948b371145e4b6f0dc396b9c629c0c8c24021"},
};

// Whole files as tav_e writes them: members of `block` bytes in one run
// (trailers of version 2), with the long-range stage when `window` is not 0.
// Trailers and sections are part of the format as much as the streams.
struct FileCase {
  const char* input;
  uint32_t order;
  uint64_t block, window;
  const char* expected;
};

const FileCase FILE_CASES[] = {
    {"licenses-64k", 6, 16384, 0, "69fda429905a61d963e29231ab8dd461da022fa27bda8cab4c99a30f8166bc87"},
    {"licenses-64k", 6, 16384, 1 << 20, "9326675478945b3bb776c0d4acc3895e213a8913a1e24996455d2ea07915af4f"},
    {"licenses-64k", 3, 65536, 4096, "85dccdfb219e18e2d1bb378ca7c8e8c1fd7e400a6096972cdee446aa0c1b63e4"},
    {"code-like", 8, 8192, 1 << 20, "b6a86f6edcf2777f3237f4a7009145c51538584ac868507f3e94d1969908d87d"},
    {"repeated-block", 2, 30000, 1 << 20, "bca57e98ae38a17827434dea367d10e5211a4c5def76262443e113c2b0203ff9"},
};

const Bytes& input_named(const std::string& name) {
  for (const Input& in : inputs())
    if (name == in.name) return in.text;
  ADD_FAILURE() << "no input " << name;
  static const Bytes none;
  return none;
}

// The digest of `text` compressed at one setting, or "stops at N"; checks
// that a compressed file decodes back to `text`.
std::string compressed_digest(const Bytes& text, uint32_t order, uint32_t memory_mb) {
  const Compressed z = compress_text(text, order, memory_mb);
  if (z.enc.status != EncodeStatus::ok) return "stops at " + std::to_string(z.enc.position);
  const Decompressed d = decompress_file(z.file);
  EXPECT_EQ(d.result.status, ByteStatus::ok) << "the compressed file does not decode";
  EXPECT_TRUE(d.text == text) << "the compressed file decodes to another text";
  return sha256_hex(z.file.data(), z.file.size());
}

// The digest of `text` compressed into a file of members; checks that it
// decodes back to `text`.
std::string file_digest(const Bytes& text, const FileCase& c) {
  SpanBlockSource blocks(text, c.block);
  CompressJobs jobs;
  jobs.next_block = [&] { return blocks.next(); };
  Bytes file;
  jobs.write = [&](size_t, const CodedMember& m) {
    file.insert(file.end(), m.bytes.begin(), m.bytes.end());
    return true;
  };
  jobs.settings = {c.order, 64};
  if (c.window != 0) {
    LongRangeSettings s;
    s.window_bytes = c.window;
    jobs.long_range = s;
  }
  if (compress_blocks(jobs, 1).failure) return "fails";
  FilePlan plan = plan_file(file);
  EXPECT_FALSE(check_file(plan, PlainFiles::refuse)) << "the file does not check";
  Bytes decoded;
  DecodeTarget target;
  target.write = [&](std::span<const uint8_t> b) { return decoded.insert(decoded.end(), b.begin(), b.end()), true; };
  EXPECT_FALSE(decode_run(file, plan_decoding(file, std::move(plan), {1, 0}, false), target).failure);
  EXPECT_TRUE(decoded == text) << "the file decodes to another text";
  return sha256_hex(file.data(), file.size());
}

class GoldenHashes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(set_numeric_mode());
    for (const Input& in : inputs()) ASSERT_FALSE(in.text.empty()) << in.name;
  }
  const bool print_ = std::getenv("TAV_GOLDEN_PRINT") != nullptr;
};

TEST_F(GoldenHashes, CompressedBytesNeverChange) {
  for (const Case& c : CASES) {
    SCOPED_TRACE(std::string(c.input) + " order " + std::to_string(c.order) + " " +
                 std::to_string(c.memory_mb) + " MB");
    const std::string actual = compressed_digest(input_named(c.input), c.order, c.memory_mb);
    if (print_)
      std::printf("    {\"%s\", %u, %u, \"%s\"},\n", c.input, c.order, c.memory_mb, actual.c_str());
    EXPECT_EQ(actual, c.expected);
  }
}

TEST_F(GoldenHashes, MemberFilesNeverChange) {
  for (const FileCase& c : FILE_CASES) {
    SCOPED_TRACE(std::string(c.input) + " order " + std::to_string(c.order) + " block " +
                 std::to_string(c.block) + " window " + std::to_string(c.window));
    const std::string actual = file_digest(input_named(c.input), c);
    if (print_)
      std::printf("    {\"%s\", %u, %llu, %llu, \"%s\"},\n", c.input, c.order,
                  static_cast<unsigned long long>(c.block), static_cast<unsigned long long>(c.window),
                  actual.c_str());
    EXPECT_EQ(actual, c.expected);
  }
}

TEST_F(GoldenHashes, PresetsNeverChange) {
  for (const PresetCase& c : PRESET_CASES) {
    SCOPED_TRACE(std::string(c.input) + " preset -" + std::to_string(c.level));
    const Preset p = preset(c.level);
    const std::string actual = compressed_digest(input_named(c.input), p.order, p.memory_mb);
    if (print_) std::printf("    {\"%s\", %d, \"%s\"},\n", c.input, c.level, actual.c_str());
    EXPECT_EQ(actual, c.expected);
  }
}

}  // namespace
}  // namespace tav::test
