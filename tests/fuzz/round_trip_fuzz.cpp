// Compressor to decoder on arbitrary input and settings: whatever the
// compressor accepts must decode back to the input, byte for byte, and what
// it refuses at some order must go through at order 0.
//   data[0]: order 0..23; data[1]: budget 1..3 MB; the rest: the text.
#include <algorithm>
#include <vector>

#include "decode_loop.h"
#include "encode_stream.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

tav::EncodeStatus encode(const Bytes& text, uint32_t order, uint32_t memory_mb, Bytes& file) {
  char* buf = nullptr;
  size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  tav::ContainerHeader h;
  h.text_length = static_cast<uint32_t>(text.size());
  h.level_limit = order + 1;
  h.memory_mb = memory_mb;
  tav::Model model;
  const tav::EncodeResult r = tav::encode_stream(model, h, text.data(), out);
  std::fclose(out);
  file.assign(buf, buf + len);
  std::free(buf);
  if (r.status == tav::EncodeStatus::ok && file.size() != tav::HEADER_BYTES + r.stream_bytes)
    fuzz::fail("stream size");
  return r.status;
}

void check_decodes(const Bytes& file, const Bytes& text) {
  const tav::ContainerHeader h = tav::parse_header_bytes(file.data(), tav::HEADER_BYTES);
  std::FILE* in = fuzz::open_bytes(file.data() + tav::HEADER_BYTES, file.size() - tav::HEADER_BYTES);
  Bytes out(h.text_length + 1u, 0);
  tav::Model model;
  bool init_ok = false;
  const tav::StreamResult r = tav::decode_stream(model, h, in, out.data(), init_ok);
  std::fclose(in);
  if (!init_ok || r.status != tav::ByteStatus::ok) fuzz::fail("decoder stopped on a valid stream");
  if (r.stream_bytes != file.size() - tav::HEADER_BYTES) fuzz::fail("decoder read a different length");
  if (!std::equal(text.begin(), text.end(), out.begin())) fuzz::fail("decoded text differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool mode_set = tav::set_numeric_mode();
  if (!mode_set) fuzz::fail("numeric mode");
  if (size < 2) return 0;
  const uint32_t order = data[0] % 24;
  const uint32_t memory_mb = 1 + data[1] % 3;
  const Bytes text(data + 2, data + size);
  Bytes file;
  const tav::EncodeStatus st = encode(text, order, memory_mb, file);
  if (st == tav::EncodeStatus::ok) {
    check_decodes(file, text);
    return 0;
  }
  if (st == tav::EncodeStatus::io_error) fuzz::fail("in-memory stream failed");
  // The refused setting must leave order 0 as a way through.
  const tav::EncodeStatus st0 = encode(text, 0, memory_mb, file);
  if (st0 == tav::EncodeStatus::range_exhausted) fuzz::fail("order 0 ran out of range");
  if (st0 == tav::EncodeStatus::ok) check_decodes(file, text);
  return 0;
}
