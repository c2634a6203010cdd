// Creating, freeing and setting up compression and decompression contexts.
#include "call.h"
#include "contexts.h"

namespace {

// A context's containers may allocate as they are built: no exception
// leaves here, only NULL.
template <class T>
T* create() {
  try {
    return new T();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

extern "C" {

tav_cctx* tav_cctx_create(void) { return create<tav_cctx>(); }

void tav_cctx_free(tav_cctx* cctx) { delete cctx; }

tav_error tav_cctx_set(tav_cctx* cctx, tav_param param, int64_t value) {
  if (cctx == nullptr) return TAV_ERROR_PARAMETER;
  if (cctx->stream.open()) return TAV_ERROR_STAGE;
  return tav::lib::set_param(cctx->params, tav::lib::raw_value(param), value);
}

tav_error tav_cctx_get(const tav_cctx* cctx, tav_param param, int64_t* value) {
  if (cctx == nullptr) return TAV_ERROR_PARAMETER;
  return tav::lib::get_param(cctx->params, tav::lib::raw_value(param), value);
}

tav_error tav_cctx_set_stop(tav_cctx* cctx, tav_stop_fn stop, void* opaque) {
  if (cctx == nullptr) return TAV_ERROR_PARAMETER;
  if (cctx->stream.open()) return TAV_ERROR_STAGE;
  cctx->params.stop = tav::lib::stop_request(stop, opaque);
  return TAV_OK;
}

tav_dctx* tav_dctx_create(void) { return create<tav_dctx>(); }

tav_error tav_dctx_set_stop(tav_dctx* dctx, tav_stop_fn stop, void* opaque) {
  if (dctx == nullptr) return TAV_ERROR_PARAMETER;
  if (dctx->stream.open()) return TAV_ERROR_STAGE;
  dctx->params.stop = tav::lib::stop_request(stop, opaque);
  return TAV_OK;
}

void tav_dctx_free(tav_dctx* dctx) { delete dctx; }

tav_error tav_dctx_set(tav_dctx* dctx, tav_param param, int64_t value) {
  const int p = tav::lib::raw_value(param);
  if (dctx == nullptr || (p != TAV_PARAM_THREADS && p != TAV_PARAM_MEMORY_LIMIT && p != TAV_PARAM_PLAIN))
    return TAV_ERROR_PARAMETER;
  if (dctx->stream.open()) return TAV_ERROR_STAGE;
  return tav::lib::set_param(dctx->params, p, value);
}

}  // extern "C"
