// The decoder's whole path from file bytes to text: header, range decoder,
// model.  Any input must end, with the text or with a failed status, and
// without a memory error.  The header's text length and budget are capped so
// that each run stays short.
#include <algorithm>
#include <vector>

#include "decode_loop.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool mode_set = tav::set_numeric_mode();
  if (!mode_set) fuzz::fail("numeric mode");
  const size_t header_bytes = std::min<size_t>(size, tav::HEADER_BYTES);
  tav::ContainerHeader h = tav::parse_header_bytes(data, static_cast<uint32_t>(header_bytes));
  h.text_length = std::min<uint32_t>(h.text_length, 4096);
  h.memory_mb = 1 + h.memory_mb % 4;
  // Deep orders cost time per byte; past the 9 levels where the tables stop
  // changing, a few deeper ones are enough (the size limit is tested apart).
  if (h.level_limit > 24) h.level_limit = 24 + h.level_limit % 16;

  std::FILE* in = fuzz::open_bytes(data + header_bytes, size - header_bytes);
  if (in == nullptr) return 0;
  std::vector<uint8_t> text(h.text_length + 1u, 0);
  tav::Model model;
  bool init_ok = false;
  const tav::StreamResult r = tav::decode_stream(model, h, in, text.data(), init_ok);
  std::fclose(in);
  if (!init_ok) fuzz::fail("a budget of at least 1 MB always holds the root");
  if (r.status == tav::ByteStatus::ok && r.position != h.text_length) fuzz::fail("short success");
  return 0;
}
