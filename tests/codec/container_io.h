// In-memory containers for the tests: compress a text with the compressor's
// stream writer, decode a container's bytes with the decoder's stream reader.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "container.h"
#include "decode_loop.h"
#include "encode_stream.h"

namespace tav::test {

using Bytes = std::vector<uint8_t>;

// 100 copies of a random 1000-byte block, every third one with a byte
// changed: order 6 meets the coder's limit at byte 74032 of it.
inline Bytes repeated_block() {
  std::mt19937 rng(5);
  Bytes block(1000);
  for (auto& b : block) b = static_cast<uint8_t>(rng());
  std::mt19937 r2(5 * 77);
  Bytes text;
  for (int c = 0; c < 100; ++c) {
    Bytes b = block;
    if (c % 3 == 2) b[r2() % b.size()] ^= static_cast<uint8_t>(1 + r2() % 255);
    text.insert(text.end(), b.begin(), b.end());
  }
  return text;
}

inline Bytes read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct Compressed {
  EncodeResult enc;
  Bytes file;  // header and stream
};

// Requires the numeric mode to be set.
inline Compressed compress_text(const Bytes& text, uint32_t order, uint32_t memory_mb) {
  ContainerHeader h;
  h.text_length = static_cast<uint32_t>(text.size());
  h.level_limit = order + 1;
  h.memory_mb = memory_mb;
  Model m;
  VectorSink out;
  Compressed c;
  c.enc = encode_stream(m, h, text.data(), out);
  c.file = std::move(out.bytes);
  return c;
}

struct Decompressed {
  ContainerHeader header;
  StreamResult result;
  Bytes text;
};

// Requires the numeric mode to be set.
inline Decompressed decompress_file(const Bytes& file) {
  const ContainerView v = split_container(file);
  Decompressed d;
  d.header = v.header;
  d.text.assign(check_header(v.header) == HeaderFault::none ? d.header.text_length + 1u : 1u, 0);
  Model m;
  d.result = decode_stream(m, d.header, v.stream, d.text.data());
  d.text.resize(d.result.position);
  return d;
}

}  // namespace tav::test
