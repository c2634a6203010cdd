#include "order_fallback.h"

#include "settings.h"

namespace tav {

FallbackResult encode_with_fallback(std::span<const uint8_t> text, const EncodeSettings& s,
                                    RewindableSink& out, const FallbackObserver& observer) {
  FallbackResult f;
  if (text.size() > MAX_TEXT_LENGTH) {
    f.result.status = EncodeStatus::invalid_header;
    f.order = s.order;
    return f;
  }
  bool first = true;
  for (const uint32_t order : fallback_orders(s.order)) {
    f.order = order;
    if (!first && !out.rewind()) {
      f.result = EncodeResult{};
      f.result.status = EncodeStatus::io_error;
      return f;
    }
    first = false;
    ContainerHeader h;
    h.text_length = static_cast<uint32_t>(text.size());
    h.set_order(order);
    h.memory_mb = s.memory_mb;
    if (observer.attempt_starts) observer.attempt_starts(order);
    {
      Model model;  // freed before the next attempt takes its own
      model.store.set_system_memory_limit(s.node_memory_limit);
      f.result = encode_stream(model, h, text.data(), out, observer.progress);
    }
    if (!order_may_help(f.result.status)) return f;
    if (observer.attempt_failed) observer.attempt_failed({order, f.result.position, f.result.status});
  }
  return f;
}

}  // namespace tav
