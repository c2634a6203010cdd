// control_filter INPUT OUTPUT: copies INPUT to OUTPUT, dropping the control
// bytes of its first K bytes and turning those of the rest into LF, where K
// is the number of control bytes in INPUT.  Any other number of arguments is
// a usage error, refused before anything is opened.
#include <string>
#include <vector>

#include "byte_files.h"
#include "control_bytes.h"
#include "tool_error.h"

using namespace tav::tools;

int main(int argc, char** argv) {
  return run_tool(argv[0], [&](ToolRun& run) {
    if (argc != 3) throw ToolError("usage: " + run.program() + " INPUT OUTPUT");
    const std::string input_path = argv[1], output_path = argv[2];
    run.working_on(input_path);
    InputFile input(input_path);
    refuse_same_file(input_path, output_path);
    std::vector<std::uint8_t> block(1 << 18), out;

    // The filter needs the count before its first byte.
    std::uint64_t control_count = 0;
    while (const std::size_t got = input.read(block)) control_count += count_control_bytes({block.data(), got});
    input.rewind();
    OutputFile output(output_path);

    ControlFilter filter(control_count);
    while (const std::size_t got = input.read(block)) {
      out.clear();
      filter.process({block.data(), got}, out);
      output.write(out);
    }
    output.close();
  });
}
