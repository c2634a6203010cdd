/* Calls with integers that no enumerator names, as a C program may pass
 * them (C++ cannot even hold such a value in the enum). */
#include "tav.h"

tav_error set_raw_param(tav_cctx* c, int param, int64_t value) { return tav_cctx_set(c, (tav_param)param, value); }

const char* raw_error_message(int code) { return tav_error_message((tav_error)code); }

tav_error compress_stream_raw(tav_cctx* c, tav_out_buffer* out, tav_in_buffer* in, int end) {
  return tav_compress_stream(c, out, in, (tav_end_directive)end, 0);
}

tav_error decompress_stream_raw(tav_dctx* d, tav_out_buffer* out, tav_in_buffer* in, int end) {
  return tav_decompress_stream(d, out, in, (tav_end_directive)end, 0);
}
