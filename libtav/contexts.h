// The records behind the opaque context handles: parameters and the state
// of the stream in progress.
#pragma once

#include "compress_stream.h"
#include "decompress_stream.h"
#include "params.h"

struct tav_cctx {
  tav::lib::Params params;
  tav::lib::CompressStream stream;
};

struct tav_dctx {
  tav::lib::Params params;
  tav::lib::DecompressStream stream;
};
