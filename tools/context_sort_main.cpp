#include "context_sort_main.h"

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "byte_files.h"
#include "file_loader.h"
#include "tool_error.h"

namespace tav::tools {

namespace {

template <class Index>
void sort_and_write(const LoadedFile& text, ContextOrder order, const std::string& input_path,
                    const std::string& output_path) {
  BigVector<Index> positions;
  try {
    positions = context_sorted_positions<Index>(text.bytes(), order);
  } catch (const std::bad_alloc&) {
    throw ToolError(input_path, "not enough memory to sort " + std::to_string(text.length) + " bytes");
  }
  OutputFile output(output_path);
  std::vector<std::uint8_t> block(1 << 16);
  std::size_t fill = 0;
  for (const Index p : positions) {
    block[fill++] = text.data[p];
    if (fill == block.size()) {
      output.write(block);
      fill = 0;
    }
  }
  output.write({block.data(), fill});
  output.close();
}

}  // namespace

int context_sort_main(int argc, char** argv, ContextOrder order) {
  return run_tool(argv[0], [&](ToolRun& run) {
    if (argc > 3) throw ToolError("usage: " + run.program() + " [INPUT [OUTPUT]]");
    const std::string input_path = argc > 1 ? argv[1] : "english_lf";
    const std::string output_path = argc > 2 ? argv[2] : "english.out";
    run.working_on(input_path);
    refuse_same_file(input_path, output_path);
    // The input is loaded and closed before the output is created.
    const LoadedFile text = load_file(input_path);
    if (static_cast<std::int64_t>(text.length) <= CONTEXT_SORT_MAX_32)
      sort_and_write<std::int32_t>(text, order, input_path, output_path);
    else
      sort_and_write<std::int64_t>(text, order, input_path, output_path);
    // Every line the inverse rebuilds ends with a LF, so a last line without
    // one cannot come back.  Said once the output is complete, so that a
    // failed run still reports one line only.
    if (text.length != 0 && text.data[text.length - 1] != '\n')
      run.warn(input_path, "the text does not end with LF; context_unsort cannot rebuild its last line");
  });
}

}  // namespace tav::tools
