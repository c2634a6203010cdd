// In-memory containers for the tests: compress a text with the compressor's
// stream writer, decode a container's bytes with the decoder's stream reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode_loop.h"
#include "encode_stream.h"

namespace tav::test {

using Bytes = std::vector<uint8_t>;

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
  Compressed c;
  std::FILE* f = std::tmpfile();
  ContainerHeader h;
  h.text_length = static_cast<uint32_t>(text.size());
  h.level_limit = order + 1;
  h.memory_mb = memory_mb;
  Model m;
  c.enc = encode_stream(m, h, text.data(), f);
  std::fflush(f);
  std::rewind(f);
  for (int ch; (ch = std::getc(f)) != EOF;) c.file.push_back(static_cast<uint8_t>(ch));
  std::fclose(f);
  return c;
}

struct Decompressed {
  ContainerHeader header;
  bool init_ok = false;
  StreamResult result;
  Bytes text;
};

// Requires the numeric mode to be set.
inline Decompressed decompress_file(const Bytes& file) {
  Decompressed d;
  std::FILE* f = std::tmpfile();
  std::fwrite(file.data(), 1, file.size(), f);
  std::rewind(f);
  uint8_t hb[HEADER_BYTES] = {};
  const size_t got = std::fread(hb, 1, HEADER_BYTES, f);
  d.header = parse_header_bytes(hb, static_cast<uint32_t>(got));
  d.text.assign(d.header.text_length + 1u, 0);
  Model m;
  d.result = decode_stream(m, d.header, f, d.text.data(), d.init_ok);
  d.text.resize(d.header.text_length);
  std::fclose(f);
  return d;
}

}  // namespace tav::test
