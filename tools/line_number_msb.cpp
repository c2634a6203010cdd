// line_number_msb INPUT OUTPUT: copies INPUT to OUTPUT without CRs, with a
// line tag before every LF, most significant digit first.
#include "line_numbering_main.h"

using namespace tav::tools;

int main(int argc, char** argv) { return line_numbering_main(argc, argv, DigitOrder::most_significant_first); }
