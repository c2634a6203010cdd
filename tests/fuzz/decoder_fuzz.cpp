// The decoder's whole path from file bytes to text: container, range decoder,
// model.  Any input must end, with the text or with a failed status, and
// without a memory error.  The header's text length and budget are capped so
// that each run stays short.
#include <algorithm>
#include <vector>

#include "container.h"
#include "decode_loop.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool mode_set = tav::set_numeric_mode();
  if (!mode_set) fuzz::fail("numeric mode");
  const tav::ContainerView v = tav::split_container({data, size});
  tav::ContainerHeader h = v.header;
  h.text_length = std::min<uint32_t>(h.text_length, 4096);
  h.memory_mb = 1 + h.memory_mb % 4;
  // Deep orders cost time per byte; past the 9 levels where the tables stop
  // changing, a few deeper ones are enough (the size limit is tested apart).
  if (h.level_limit > 24) h.level_limit = 24 + h.level_limit % 16;
  if (tav::check_header(h) != tav::HeaderFault::none) fuzz::fail("a capped header is refused");

  std::vector<uint8_t> text(h.text_length + 1u, 0);
  tav::VectorSink out;
  tav::Model model;
  const tav::StreamResult r = tav::decode_stream(model, h, v.stream, text.data(), &out);
  if (r.status == tav::ByteStatus::ok && r.position != h.text_length) fuzz::fail("short success");
  if (r.status == tav::ByteStatus::out_of_memory || r.status == tav::ByteStatus::invalid_header)
    fuzz::fail("a valid header with a small budget must start and run");
  if (out.bytes.size() != r.position || !std::equal(out.bytes.begin(), out.bytes.end(), text.begin()))
    fuzz::fail("the sink did not get the decoded text");
  return 0;
}
