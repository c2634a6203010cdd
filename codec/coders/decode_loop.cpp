#include "decode_loop.h"

#include "byte_model.h"

namespace tav {

const char* describe(ByteStatus s) {
  switch (s) {
    case ByteStatus::ok: return "ok";
    case ByteStatus::damaged_state: return "the range coder reached a state no valid stream reaches";
    case ByteStatus::target_beyond_total: return "the coded value lies beyond every byte's interval";
    case ByteStatus::endless_reset: return "the compressed file ends too early (truncated)";
    case ByteStatus::out_of_memory: return "the system refused node memory the budget allows";
    case ByteStatus::output_failed: return "the decoded bytes cannot be written";
    case ByteStatus::invalid_header: return "the header names settings this decoder cannot use";
  }
  return "unknown";
}

ByteStatus decode_byte(Model& m, RangeDecoder& rd, uint8_t* text, uint32_t p) {
  predict(m, p);
  if (rd.damaged()) return ByteStatus::damaged_state;
  const SymbolInterval iv = find_symbol(m, rd.target());
  if (iv.symbol > 255) return ByteStatus::target_beyond_total;
  const uint8_t s = static_cast<uint8_t>(iv.symbol);
  text[p] = s;
  if (!rd.decode_update(iv.cum_low, iv.freq, FREQ_TOTAL)) return ByteStatus::endless_reset;
  return learn(m, s, p) ? ByteStatus::ok : ByteStatus::out_of_memory;
}

namespace {

constexpr uint32_t OUTPUT_PIECE = 1u << 16;

// Hands text[from .. to) to the sink.
bool hand_over(ByteSink* out, const uint8_t* text, uint32_t from, uint32_t to) {
  return out == nullptr || to == from || out->write({text + from, to - from});
}

}  // namespace

StreamResult decode_stream(Model& m, const ContainerHeader& h, std::span<const uint8_t> stream,
                           uint8_t* text, ByteSink* out, const DecodeProgress& progress) {
  StreamResult r;
  if (check_header(h) != HeaderFault::none) {
    r.status = ByteStatus::invalid_header;
    return r;
  }
  if (!init_model(m, h.level_limit, h.memory_mb, text, h.text_length)) {
    r.status = ByteStatus::out_of_memory;  // a valid budget always holds the root
    return r;
  }
  RangeDecoder rd;
  rd.init(stream);
  uint32_t handed = 0;  // text[0 .. handed) is with the sink
  bool sink_ok = true;
  uint32_t p = 0;
  for (; p < h.text_length; ++p) {
    if ((p & 511u) == 0) {
      if (progress) progress(p, rd.bytes_read);
      if (p - handed >= OUTPUT_PIECE) {
        sink_ok = hand_over(out, text, handed, p);
        if (!sink_ok) break;
        handed = p;
      }
    }
    const ByteStatus st = decode_byte(m, rd, text, p);
    if (st != ByteStatus::ok) {
      r.status = st;
      if (st == ByteStatus::out_of_memory) ++p;  // decoded; only the update failed
      break;
    }
  }
  r.position = p;
  r.stream_bytes = rd.bytes_read;
  r.past_end = rd.past_end;
  if (sink_ok) sink_ok = hand_over(out, text, handed, p);
  if (!sink_ok) r.status = ByteStatus::output_failed;
  return r;
}

}  // namespace tav
