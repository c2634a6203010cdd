// context_unsort [INPUT [OUTPUT]]: rebuilds lines of text from context-sorted
// INPUT ("english.out") into OUTPUT ("english.unp").
#include <new>
#include <span>
#include <string>

#include "byte_files.h"
#include "file_loader.h"
#include "successor_chains.h"
#include "tool_error.h"

using namespace tav::tools;

int main(int argc, char** argv) {
  return run_tool(argv[0], [&](ToolRun& run) {
    if (argc > 3) throw ToolError("usage: " + run.program() + " [INPUT [OUTPUT]]");
    const std::string input_path = argc > 1 ? argv[1] : "english.out";
    const std::string output_path = argc > 2 ? argv[2] : "english.unp";
    run.working_on(input_path);
    refuse_same_file(input_path, output_path);
    const LoadedFile sorted = load_file(input_path);
    OutputFile output(output_path);
    try {
      unsort_context_text(sorted.bytes(), [&](std::span<const std::uint8_t> piece) { output.write(piece); });
    } catch (const std::bad_alloc&) {
      throw ToolError(input_path, "not enough memory to rebuild " + std::to_string(sorted.length) + " bytes");
    }
    output.close();
  });
}
