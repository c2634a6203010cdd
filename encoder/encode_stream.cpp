#include "encode_stream.h"

#include "context_tree.h"
#include "mixer.h"
#include "range_decoder.h"

namespace tav {

const char* describe(EncodeStatus s) {
  switch (s) {
    case EncodeStatus::ok: return "ok";
    case EncodeStatus::range_exhausted:
      return "a byte the model gives the smallest frequency leaves the coder no room";
    case EncodeStatus::carry_conflict: return "a carry would change bytes the decoder has tested";
    case EncodeStatus::io_error: return "cannot write the output";
  }
  return "unknown";
}

namespace {

EncodeStatus status_of(RangeEncoder::Result r) {
  switch (r) {
    case RangeEncoder::Result::ok: return EncodeStatus::ok;
    case RangeEncoder::Result::range_exhausted: return EncodeStatus::range_exhausted;
    case RangeEncoder::Result::carry_conflict: return EncodeStatus::carry_conflict;
    case RangeEncoder::Result::io_error: return EncodeStatus::io_error;
  }
  return EncodeStatus::io_error;
}

}  // namespace

EncodeResult encode_stream(Model& m, const ContainerHeader& h, const uint8_t* text, std::FILE* out,
                           const std::function<void(uint32_t)>& progress) {
  EncodeResult r;
  uint8_t header[HEADER_BYTES];
  write_header_bytes(h, header);
  if (std::fwrite(header, 1, HEADER_BYTES, out) != HEADER_BYTES) {
    r.status = EncodeStatus::io_error;
    return r;
  }
  init_model(m, h.level_limit, h.memory_mb, text, h.text_length);
  RangeEncoder enc(out);
  const uint32_t n = h.text_length;
  for (uint32_t p = 0; p < n; ++p) {
    if (progress && (p & 0xFFFFu) == 0) progress(p);
    mix(m, p);
    const uint8_t s = text[p];
    const SymbolInterval iv = symbol_interval(m, s);
    const RangeEncoder::Result res = enc.encode(iv.cum_low, iv.freq, FREQ_TOTAL, p + 1 == n);
    if (res != RangeEncoder::Result::ok) {
      r.status = status_of(res);
      r.position = p;
      return r;
    }
    flag_winner(m, s);
    update_contexts(m, s, p);
  }
  r.status = status_of(enc.finish());
  r.position = n;
  r.stream_bytes = enc.bytes_written();
  r.pages_used = m.store.pages_used();
  return r;
}

}  // namespace tav
