#include "params.h"

namespace tav::lib {

// tav.h states the codec's limits to C callers: they must be the codec's.
static_assert(TAV_MIN_LEVEL == MIN_PRESET && TAV_MAX_LEVEL == MAX_PRESET && TAV_DEFAULT_LEVEL == DEFAULT_PRESET);
static_assert(TAV_MAX_ORDER == MAX_ORDER && TAV_MAX_MEMORY_MB == MAX_MEMORY_MB);
static_assert(TAV_DEFAULT_LONG_WINDOW == DEFAULT_LONG_WINDOW);

namespace {

bool in_range(int64_t v, int64_t low, int64_t high) { return v >= low && v <= high; }

}  // namespace

tav_error set_param(Params& p, int param, int64_t value) {
  switch (param) {
    case TAV_PARAM_LEVEL: {
      if (!in_range(value, TAV_MIN_LEVEL, TAV_MAX_LEVEL)) return TAV_ERROR_PARAMETER;
      const Preset s = preset(static_cast<int>(value));
      p.level = static_cast<int>(value);
      p.order = s.order;
      p.memory_mb = s.memory_mb;
      return TAV_OK;
    }
    case TAV_PARAM_ORDER:
      if (!in_range(value, 0, TAV_MAX_ORDER)) return TAV_ERROR_PARAMETER;
      p.order = static_cast<uint32_t>(value);
      return TAV_OK;
    case TAV_PARAM_MEMORY_MB:
      if (!in_range(value, 1, TAV_MAX_MEMORY_MB)) return TAV_ERROR_PARAMETER;
      p.memory_mb = static_cast<uint32_t>(value);
      return TAV_OK;
    case TAV_PARAM_THREADS:
      if (!in_range(value, 0, MAX_THREADS)) return TAV_ERROR_PARAMETER;
      p.threads = static_cast<unsigned>(value);
      return TAV_OK;
    case TAV_PARAM_BLOCK_SIZE:
      if (!in_range(value, 1, MAX_TEXT_LENGTH)) return TAV_ERROR_PARAMETER;
      p.block_bytes = static_cast<uint64_t>(value);
      return TAV_OK;
    case TAV_PARAM_MEMORY_LIMIT:
      if (value < 0) return TAV_ERROR_PARAMETER;
      p.memory_limit = static_cast<uint64_t>(value);
      return TAV_OK;
    case TAV_PARAM_PLAIN:
      if (!in_range(value, 0, 1)) return TAV_ERROR_PARAMETER;
      p.plain = value == 1;
      return TAV_OK;
    case TAV_PARAM_LONG_WINDOW:
      if (!in_range(value, 0, static_cast<int64_t>(MAX_LONG_WINDOW))) return TAV_ERROR_PARAMETER;
      p.long_window = static_cast<uint64_t>(value);
      return TAV_OK;
  }
  return TAV_ERROR_PARAMETER;
}

tav_error get_param(const Params& p, int param, int64_t* value) {
  if (value == nullptr) return TAV_ERROR_PARAMETER;
  switch (param) {
    case TAV_PARAM_LEVEL: *value = p.level; return TAV_OK;
    case TAV_PARAM_ORDER: *value = p.order; return TAV_OK;
    case TAV_PARAM_MEMORY_MB: *value = p.memory_mb; return TAV_OK;
    case TAV_PARAM_THREADS: *value = p.threads; return TAV_OK;
    case TAV_PARAM_BLOCK_SIZE: *value = static_cast<int64_t>(p.block_bytes); return TAV_OK;
    case TAV_PARAM_MEMORY_LIMIT: *value = static_cast<int64_t>(p.memory_limit); return TAV_OK;
    case TAV_PARAM_PLAIN: *value = p.plain ? 1 : 0; return TAV_OK;
    case TAV_PARAM_LONG_WINDOW: *value = static_cast<int64_t>(p.long_window); return TAV_OK;
  }
  return TAV_ERROR_PARAMETER;
}

StopRequest stop_request(tav_stop_fn stop, void* opaque) {
  if (stop == nullptr) return {};
  return [stop, opaque] { return stop(opaque) != 0; };
}

Params level_params(int level) {
  Params p;
  if (level != 0) set_param(p, TAV_PARAM_LEVEL, level);
  return p;
}

}  // namespace tav::lib
