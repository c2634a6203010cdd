// line_number_lsb INPUT OUTPUT: copies INPUT to OUTPUT without CRs, with a
// line tag before every LF, least significant digit first, so that the LFs of
// up to 2^20 lines sort in line order under the unbounded context sort.
#include "line_numbering_main.h"

using namespace tav::tools;

int main(int argc, char** argv) { return line_numbering_main(argc, argv, DigitOrder::least_significant_first); }
