#include "encode_stream.h"

#include "byte_model.h"
#include "range_decoder.h"

namespace tav {

const char* describe(EncodeStatus s) {
  switch (s) {
    case EncodeStatus::ok: return "ok";
    case EncodeStatus::range_exhausted:
      return "a byte the model gives the smallest frequency leaves the coder no room";
    case EncodeStatus::carry_conflict: return "a carry would change bytes the decoder has tested";
    case EncodeStatus::io_error: return "cannot write the output";
    case EncodeStatus::out_of_memory: return "the system refused node memory the budget allows";
    case EncodeStatus::invalid_header: return "the settings do not fit the container";
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

EncodeResult encode_stream(Model& m, const ContainerHeader& h, const uint8_t* text, ByteSink& out,
                           const EncodeProgress& progress) {
  EncodeResult r;
  if (check_header(h) != HeaderFault::none) {
    r.status = EncodeStatus::invalid_header;
    return r;
  }
  if (!write_header(h, out)) {
    r.status = EncodeStatus::io_error;
    return r;
  }
  if (!init_model(m, h.level_limit, h.memory_mb, text, h.text_length)) {
    r.status = EncodeStatus::out_of_memory;  // a valid budget always holds the root
    return r;
  }
  RangeEncoder enc(out);
  const uint32_t n = h.text_length;
  for (uint32_t p = 0; p < n; ++p) {
    if (progress && (p & 0xFFFFu) == 0) progress(p, HEADER_BYTES + enc.bytes_written());
    predict(m, p);
    const uint8_t s = text[p];
    const SymbolInterval iv = symbol_interval(m, s);
    const RangeEncoder::Result res = enc.encode(iv.cum_low, iv.freq, FREQ_TOTAL, p + 1 == n);
    if (res != RangeEncoder::Result::ok) {
      r.status = status_of(res);
      r.position = p;
      return r;
    }
    if (!learn(m, s, p)) {
      r.status = EncodeStatus::out_of_memory;
      r.position = p;
      return r;
    }
  }
  r.status = status_of(enc.finish());
  r.position = n;
  r.stream_bytes = enc.bytes_written();
  r.omitted_ff = enc.omitted_bytes();
  r.pages_used = m.store.pages_used();
  return r;
}

}  // namespace tav
