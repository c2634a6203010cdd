// tav_e's four modes, each a whole run that returns the exit status:
// compress (encoder_compress.cpp), decompress, test and list
// (encoder_decompress.cpp).
#pragma once

#include "options.h"

namespace tav {

int compress(const Options& opt);
int decompress(const Options& opt);
int test_files(const Options& opt);
int list_files(const Options& opt);

}  // namespace tav
