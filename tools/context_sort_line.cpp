// context_sort_line [INPUT [OUTPUT]]: writes the bytes of INPUT ("english_lf")
// to OUTPUT ("english.out") ordered by their left context within the line.
#include "context_sort_main.h"

using namespace tav::tools;

int main(int argc, char** argv) { return context_sort_main(argc, argv, ContextOrder::line_bounded); }
