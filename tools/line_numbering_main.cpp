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
    OutputFile output(output_path);
    LineTagger tagger(order);
    std::vector<std::uint8_t> block(1 << 18), out;
    while (const std::size_t got = input.read(block)) {
      out.clear();
      tagger.process({block.data(), got}, out);
      output.write(out);
    }
    output.close();
  });
}

}  // namespace tav::tools
