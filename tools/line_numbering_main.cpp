#include "line_numbering_main.h"

#include <string>
#include <vector>

#include "byte_files.h"
#include "tool_error.h"

namespace tav::tools {

int line_numbering_main(int argc, char** argv, DigitOrder order) {
  return run_tool(argv[0], [&](ToolRun& run) {
    // An extra argument is refused before anything is opened: a shell glob
    // that matched three files must not overwrite the second one.
    if (argc != 3) throw ToolError("usage: " + run.program() + " INPUT OUTPUT");
    const std::string input_path = argv[1], output_path = argv[2];
    run.working_on(input_path);
    InputFile input(input_path);
    refuse_same_file(input_path, output_path);
    LineTagger tagger(order);
    std::vector<std::uint8_t> block(1 << 18), out;
    // The first read comes before the output is created, so that an input
    // that opens but cannot be read (a directory) leaves the output untouched.
    std::size_t got = input.read(block);
    OutputFile output(output_path);
    while (got != 0) {
      out.clear();
      tagger.process({block.data(), got}, out);
      output.write(out);
      got = input.read(block);
    }
    output.close();
  });
}

}  // namespace tav::tools
