#include "lib_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace tavtest {

Bytes sample(size_t size) {
  std::ifstream f(TAV_SAMPLE_PATH, std::ios::binary);
  Bytes all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (all.size() > size) all.resize(size);
  return all;
}

Bytes noise(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& c : b) c = static_cast<uint8_t>(rng());
  return b;
}

Bytes compress_with(const std::vector<std::pair<tav_param, int64_t>>& params, const Bytes& text) {
  tav_cctx* c = tav_cctx_create();
  for (const auto& [param, value] : params) EXPECT_EQ(tav_cctx_set(c, param, value), TAV_OK);
  Bytes out(text.size() + text.size() / 8 + 1024);
  size_t n = 0;
  EXPECT_EQ(tav_compress_cctx(c, text.data(), text.size(), out.data(), out.size(), &n), TAV_OK);
  tav_cctx_free(c);
  out.resize(n);
  return out;
}

Bytes compress_stream(tav_cctx* c, const Bytes& text, size_t in_step, size_t out_step, size_t flush_every) {
  Bytes out, buf(out_step);
  size_t pos = 0;
  for (;;) {
    size_t n = std::min(in_step, text.size() - pos);
    if (flush_every != 0) n = std::min(n, flush_every - pos % flush_every);
    tav_in_buffer in{text.data() + pos, n, 0};
    const bool last = pos + n == text.size();
    const bool flush = flush_every != 0 && (pos + n) % flush_every == 0;
    const tav_end_directive end = last ? TAV_END : flush ? TAV_FLUSH : TAV_CONTINUE;
    size_t remaining = 1;
    while (in.pos < in.size || (end != TAV_CONTINUE && remaining != 0)) {
      tav_out_buffer o{buf.data(), buf.size(), 0};
      const tav_error e = tav_compress_stream(c, &o, &in, end, &remaining);
      EXPECT_EQ(e, TAV_OK);
      if (e != TAV_OK) return {};
      out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(o.pos));
    }
    pos += n;
    if (last) return out;
  }
}

Bytes decompress(const Bytes& file) {
  uint64_t size = 0;
  EXPECT_EQ(tav_decompressed_size(file.data(), file.size(), &size), TAV_OK);
  Bytes text(size);
  size_t n = 0;
  EXPECT_EQ(tav_decompress(file.data(), file.size(), text.data(), text.size(), &n), TAV_OK);
  EXPECT_EQ(n, size);
  return text;
}

Bytes tav_e(const std::string& args, const Bytes& text) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("libtav_test." + std::to_string(::getpid()));
  fs::create_directories(dir);
  {
    std::ofstream f(dir / "in", std::ios::binary);
    f.write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size()));
  }
  const std::string cmd = std::string(TAV_E_PATH) + " -qf " + args + " '" + (dir / "in").string() + "' -o '" +
                          (dir / "out").string() + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::ifstream f(dir / "out", std::ios::binary);
  Bytes out((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  fs::remove_all(dir);
  return out;
}

}  // namespace tavtest
