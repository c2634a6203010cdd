// Counts what tav_d makes of damaged copies of a compressed file: every
// truncation length, and single-byte changes at random positions with random
// new values (fixed seed).  Each copy goes through the decoder's own path
// (plan_file, then decode_file) and is counted as
//   refused   a damaged index, a stream fault or a failed member check;
//   harmless  decoded, and the text is the original;
//   silent    decoded without complaint to other text (the goal is none).
// Silent cases are listed with their position.
//   damage_count FILE.tav ORIGINAL-TEXT [CHANGES]
#include <cinttypes>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "byte_io.h"
#include "member_decode.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Outcome { refused, harmless, silent };

Outcome judge(const Bytes& file, const Bytes& text) {
  const tav::FilePlan plan = tav::plan_file(file);
  if (plan.damage) return Outcome::refused;
  // The same guard as tav_d's check of the machine's memory, kept small here.
  if (plan.text_bytes > (uint64_t{64} << 20)) return Outcome::refused;
  for (const tav::Member& m : plan.members)
    if (tav::check_header(m.header) != tav::HeaderFault::none) return Outcome::refused;
  Bytes buf(plan.text_bytes + 1);
  tav::VectorSink out;
  const tav::FileDecodeResult r = tav::decode_file(file, plan, buf.data(), &out);
  if (!r.ok()) return Outcome::refused;
  return out.bytes == text ? Outcome::harmless : Outcome::silent;
}

bool read_file(const char* name, Bytes& b) {
  std::FILE* f = std::fopen(name, "rb");
  const bool ok = f != nullptr && tav::read_all_bytes(f, b);
  if (f != nullptr) std::fclose(f);
  if (!ok) std::fprintf(stderr, "damage_count: %s: cannot read\n", name);
  return ok;
}

struct Counts {
  uint64_t n[3] = {0, 0, 0};
  void add(Outcome o) { ++n[static_cast<int>(o)]; }
  void print(const char* what) const {
    std::printf("%-13s %6" PRIu64 " copies: %6" PRIu64 " refused, %6" PRIu64 " harmless, %6" PRIu64
                " silently wrong\n",
                what, n[0] + n[1] + n[2], n[0], n[1], n[2]);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: damage_count FILE.tav ORIGINAL-TEXT [CHANGES]\n");
    return 1;
  }
  if (!tav::set_numeric_mode()) return 1;
  Bytes good, text;
  if (!read_file(argv[1], good) || !read_file(argv[2], text)) return 1;
  const int changes = argc > 3 ? std::stoi(argv[3]) : 1000;

  Counts cuts;
  for (size_t len = 0; len < good.size(); ++len) {
    const Outcome o = judge(Bytes(good.begin(), good.begin() + static_cast<long>(len)), text);
    if (o == Outcome::silent) std::printf("silent: cut to %zu of %zu bytes\n", len, good.size());
    cuts.add(o);
  }
  Counts flips;
  std::mt19937_64 rng(20261209);
  for (int i = 0; i < changes; ++i) {
    Bytes bad = good;
    const size_t at = rng() % bad.size();
    bad[at] = static_cast<uint8_t>(bad[at] + 1 + rng() % 255);  // never the same value
    const Outcome o = judge(bad, text);
    if (o == Outcome::silent) std::printf("silent: byte %zu changed\n", at);
    flips.add(o);
  }
  cuts.print("truncations");
  flips.print("byte changes");
  return 0;
}
