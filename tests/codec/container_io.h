// In-memory containers for the tests: compress a text with the compressor's
// stream writer, decode a container's bytes with the decoder's stream reader.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "container.h"
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
