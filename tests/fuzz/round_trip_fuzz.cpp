// Compressor to decoder on arbitrary input and settings: whatever the
// compressor accepts must decode back to the input, byte for byte, and the
// order fallback must always end with a stream (order 0 takes what another
// order refused).
//   data[0]: order 0..23; data[1]: budget 1..3 MB; the rest: the text.
#include <algorithm>
#include <vector>

#include "container.h"
#include "decode_loop.h"
#include "fuzz_support.h"
#include "order_fallback.h"

namespace {

using Bytes = std::vector<uint8_t>;

void check_decodes(const Bytes& file, const Bytes& text) {
  const tav::ContainerView v = tav::split_container(file);
  if (!v.header_complete || tav::check_header(v.header) != tav::HeaderFault::none)
    fuzz::fail("the compressor wrote a header the decoder refuses");
  Bytes out(v.header.text_length + 1u, 0);
  tav::Model model;
  const tav::StreamResult r = tav::decode_stream(model, v.header, v.stream, out.data());
  if (r.status != tav::ByteStatus::ok) fuzz::fail("decoder stopped on a valid stream");
  if (r.stream_bytes != v.stream.size()) fuzz::fail("decoder read a different length");
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
  tav::VectorSink out;
  bool order_zero_failed = false;
  tav::FallbackObserver observer;
  observer.attempt_failed = [&](const tav::FailedAttempt& a) {
    if (a.order == 0 && a.status == tav::EncodeStatus::range_exhausted) order_zero_failed = true;
  };
  const tav::FallbackResult f = tav::encode_with_fallback(text, {order, memory_mb}, out, observer);
  if (f.order != order) {  // the requested order failed: order 0 must take the input
    tav::VectorSink zero;
    tav::encode_with_fallback(text, {0, memory_mb}, zero, observer);
  }
  if (order_zero_failed) fuzz::fail("order 0 ran out of range");
  if (f.result.status == tav::EncodeStatus::io_error) fuzz::fail("in-memory stream failed");
  if (f.result.status != tav::EncodeStatus::ok) return 0;  // a carry conflict at every order
  if (out.bytes.size() != tav::HEADER_BYTES + f.result.stream_bytes) fuzz::fail("stream size");
  check_decodes(out.bytes, text);
  return 0;
}
