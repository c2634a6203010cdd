#include "decode_loop.h"

#include "context_tree.h"
#include "mixer.h"

namespace tav {

const char* describe(ByteStatus s) {
  switch (s) {
    case ByteStatus::ok: return "ok";
    case ByteStatus::damaged_state: return "the range coder reached a state no valid stream reaches";
    case ByteStatus::target_beyond_total: return "the coded value lies beyond every byte's interval";
    case ByteStatus::endless_reset: return "the compressed file ends too early (truncated)";
  }
  return "unknown";
}

// Order within a byte is fixed: mix, target, search, store, narrow, flag the
// winner, update.  The flag must still be set when the update runs.
ByteStatus decode_byte(Model& m, RangeDecoder& rd, uint8_t* text, uint32_t p) {
  mix(m, p);
  if (rd.damaged()) return ByteStatus::damaged_state;
  const SymbolInterval iv = find_symbol(m, rd.target());
  if (iv.symbol > 255) return ByteStatus::target_beyond_total;
  const uint8_t s = static_cast<uint8_t>(iv.symbol);
  text[p] = s;
  if (!rd.decode_update(iv.cum_low, iv.freq, FREQ_TOTAL)) return ByteStatus::endless_reset;
  flag_winner(m, s);
  update_contexts(m, s, p);
  return ByteStatus::ok;
}

StreamResult decode_stream(Model& m, const ContainerHeader& h, std::FILE* in, uint8_t* text,
                           bool& init_ok) {
  StreamResult r;
  init_ok = init_model(m, h.level_limit, h.memory_mb, text, h.text_length);
  if (!init_ok) return r;
  RangeDecoder rd;
  rd.init(in);
  for (uint32_t p = 0; p < h.text_length; ++p) {
    const ByteStatus st = decode_byte(m, rd, text, p);
    if (st != ByteStatus::ok) {
      r.status = st;
      r.position = p;
      r.stream_bytes = rd.bytes_read;
      return r;
    }
  }
  r.position = h.text_length;
  r.stream_bytes = rd.bytes_read;
  return r;
}

}  // namespace tav
