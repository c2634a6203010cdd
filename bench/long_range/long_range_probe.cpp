// Runs the long-range stage over a file and prints what it did: bytes
// removed, references, section bytes, stage speed (median of several runs),
// the encoder's memory and the process's peak; rebuilds the file from the
// literals and sections and compares.  Writes the literals (all blocks, in
// order) for tav_e to code, and optionally the per-byte model costs of the
// literals coded alone against the same bytes inside the whole text.
//
// usage: long_range_probe FILE [--method anchors|chunks] [--min N] [--hash N]
//          [--anchor-log N] [--chunk-log N] [--extend] [--block-size SIZE]
//          [--window SIZE] [--table-log N] [--runs N] [--literals OUT]
//          [--costs ORDER]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "long_range.h"
#include "tav.h"

namespace {

uint64_t parse_size(const char* s) {
  char* end = nullptr;
  uint64_t v = std::strtoull(s, &end, 10);
  switch (*end) {
    case 'K': v <<= 10; break;
    case 'M': v <<= 20; break;
    case 'G': v <<= 30; break;
    default: break;
  }
  return v;
}

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr, "long_range_probe: %s\n", why);
  std::exit(1);
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) usage("usage: long_range_probe FILE [options]");
  std::string path = argv[1];
  tav::LongRangeSettings s;
  uint64_t block_size = 64 << 20;
  uint64_t window = 0;
  int runs = 3;
  int costs_order = -1;
  std::string literals_out;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) usage(("missing value after " + a).c_str());
      return argv[++i];
    };
    if (a == "--method") {
      std::string m = next();
      s.method = m == "chunks" ? tav::LongRangeMethod::chunks : tav::LongRangeMethod::anchors;
    } else if (a == "--min") {
      s.min_match = static_cast<uint32_t>(parse_size(next()));
    } else if (a == "--hash") {
      s.hash_bytes = static_cast<uint32_t>(parse_size(next()));
    } else if (a == "--anchor-log") {
      s.anchor_log = static_cast<uint32_t>(parse_size(next()));
    } else if (a == "--chunk-log") {
      s.chunk_log = static_cast<uint32_t>(parse_size(next()));
    } else if (a == "--extend") {
      s.chunk_extend = true;
    } else if (a == "--block-size") {
      block_size = parse_size(next());
    } else if (a == "--window") {
      window = parse_size(next());
    } else if (a == "--table-log") {
      s.table_log = static_cast<uint32_t>(parse_size(next()));
    } else if (a == "--runs") {
      runs = std::max(1, std::atoi(next()));
    } else if (a == "--literals") {
      literals_out = next();
    } else if (a == "--costs") {
      costs_order = std::atoi(next());
    } else {
      usage(("unknown option " + a).c_str());
    }
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) usage(("cannot open " + path).c_str());
  std::vector<uint8_t> text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (block_size == 0) usage("block size 0");
  s.window_bytes = window ? window : std::max<uint64_t>(text.size(), 1);
  if (tav::check_settings(s) != tav::LongRangeSettingsFault::none) usage("bad settings");

  std::vector<std::span<const uint8_t>> blocks;
  for (uint64_t at = 0; at < text.size(); at += block_size) {
    blocks.emplace_back(text.data() + at, std::min<uint64_t>(block_size, text.size() - at));
  }

  // Encode `runs` times; keep the last run's output.
  std::vector<double> times;
  std::vector<tav::LongRangeBlock> out;
  std::vector<std::vector<uint8_t>> sections;
  uint64_t stage_memory = 0;
  for (int r = 0; r < runs; ++r) {
    out.clear();
    sections.clear();
    auto t0 = std::chrono::steady_clock::now();
    tav::LongRangeEncoder enc(s);
    for (auto b : blocks) {
      out.push_back(enc.encode_block(b));
      sections.push_back(tav::write_section(out.back().references, s.window_bytes, b.size()));
      stage_memory = std::max(stage_memory, enc.memory_bytes());
    }
    times.push_back(seconds_since(t0));
  }
  std::sort(times.begin(), times.end());
  double median = times[times.size() / 2];

  uint64_t lit_bytes = 0, refs = 0, section_bytes = 0, copied = 0, far_refs = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    lit_bytes += out[i].literals.size();
    refs += out[i].references.size();
    section_bytes += sections[i].size();
    for (auto& r : out[i].references) copied += r.length;
  }

  // Rebuild and compare.
  auto t1 = std::chrono::steady_clock::now();
  tav::LongRangeDecoder dec;
  bool same = true;
  uint64_t pos = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    auto res = dec.decode_block(sections[i], out[i].literals);
    if (res.damage.fault != tav::SectionFault::none || res.text.size() != blocks[i].size() ||
        std::memcmp(res.text.data(), blocks[i].data(), blocks[i].size()) != 0) {
      std::fprintf(stderr, "long_range_probe: block %zu does not rebuild: %s at %llu\n", i,
                   tav::describe(res.damage.fault), static_cast<unsigned long long>(res.damage.offset));
      same = false;
      break;
    }
    // References reaching into earlier blocks.
    uint64_t p = 0;
    for (auto& r : out[i].references) {
      p += r.literals;
      if (r.distance > p) ++far_refs;
      p += r.length;
    }
    pos += blocks[i].size();
  }
  double decode_s = seconds_since(t1);

  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  double mb = 1e6;
  std::printf(
      "input %zu literals %llu removed %llu (%.2f%%) refs %llu (into earlier blocks %llu) "
      "section %llu (%.2f B/ref) encode %.1f MB/s (median of %d: %.3f s) decode %.1f MB/s "
      "stage_mem %.1f MB peak_rss %.1f MB rebuilt %s\n",
      text.size(), (unsigned long long)lit_bytes, (unsigned long long)copied,
      100.0 * copied / std::max<size_t>(text.size(), 1), (unsigned long long)refs,
      (unsigned long long)far_refs, (unsigned long long)section_bytes,
      refs ? double(section_bytes) / refs : 0.0, text.size() / mb / median, runs, median,
      text.size() / mb / decode_s, stage_memory / mb, ru.ru_maxrss / 1024.0, same ? "ok" : "FAILED");

  if (!literals_out.empty()) {
    std::ofstream o(literals_out, std::ios::binary);
    for (auto& b : out) o.write(reinterpret_cast<const char*>(b.literals.data()), b.literals.size());
    if (!o) usage(("cannot write " + literals_out).c_str());
  }

  if (costs_order >= 0) {
    // Model cost of the literals coded alone (one model over all of them)
    // against the cost of the same bytes where they stand in the whole text,
    // and the cost in the whole text of the bytes the references replaced.
    std::vector<double> full(text.size()), lit_cost(lit_bytes);
    std::vector<uint8_t> lits;
    lits.reserve(lit_bytes);
    for (auto& b : out) lits.insert(lits.end(), b.literals.begin(), b.literals.end());
    if (tav_costs(text.data(), text.size(), costs_order, 1024, full.data()) != TAV_OK ||
        tav_costs(lits.data(), lits.size(), costs_order, 1024, lit_cost.data()) != TAV_OK) {
      usage("tav_costs failed");
    }
    double in_full = 0, replaced = 0, alone = 0;
    // By reference length: how many, the bytes they replace, what those
    // bytes cost the model in the whole text, and their section bytes.
    const uint64_t edges[] = {32, 64, 128, 256, 512, 1024, 4096, UINT64_MAX};
    struct Bin { uint64_t refs = 0, bytes = 0, section = 0; double bits = 0; } bins[7];
    auto varint_bytes = [](uint64_t v) { uint64_t n = 1; while (v >= 0x80) { v >>= 7; ++n; } return n; };
    uint64_t at = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      uint64_t p = at, prev = 0;
      for (auto& r : out[i].references) {
        for (uint64_t k = 0; k < r.literals; ++k) in_full += full[p + k];
        p += r.literals;
        double bits = 0;
        for (uint64_t k = 0; k < r.length; ++k) bits += full[p + k];
        replaced += bits;
        p += r.length;
        int b = 0;
        while (r.length >= edges[b + 1]) ++b;
        bins[b].refs++;
        bins[b].bytes += r.length;
        bins[b].bits += bits;
        bins[b].section += varint_bytes(r.literals) + varint_bytes(r.distance == prev ? 0 : r.distance) +
                           varint_bytes(r.length);
        prev = r.distance;
      }
      for (; p < at + blocks[i].size(); ++p) in_full += full[p];
      at += blocks[i].size();
    }
    for (double b : lit_cost) alone += b;
    std::printf(
        "costs order %d: whole text %.0f bytes; literals inside the whole text %.0f bytes, "
        "coded alone %.0f bytes (%+.2f%%); bytes replaced by references cost %.0f bytes in the whole "
        "text, their section %llu\n",
        costs_order, (in_full + replaced) / 8, in_full / 8, alone / 8, 100.0 * (alone - in_full) / in_full,
        replaced / 8, (unsigned long long)section_bytes);
    for (int b = 0; b < 7; ++b) {
      if (!bins[b].refs) continue;
      std::printf("  length %llu..: refs %llu bytes %llu cost in whole text %.0f bytes (%.3f bits/byte), section %llu bytes\n",
                  (unsigned long long)edges[b], (unsigned long long)bins[b].refs,
                  (unsigned long long)bins[b].bytes, bins[b].bits / 8, bins[b].bits / bins[b].bytes,
                  (unsigned long long)bins[b].section);
    }
  }
  return same ? 0 : 2;
}
