#include "tool_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace tav::tools {

ToolError::ToolError(const std::string& file, const std::string& reason)
    : std::runtime_error(file + ": " + reason) {}

ToolError::ToolError(const std::string& message) : std::runtime_error(message) {}

std::string errno_reason() { return std::strerror(errno); }

std::string program_name(const char* argv0) {
  // Messages read the same however the program was started.
  const char* slash = std::strrchr(argv0, '/');
  return slash != nullptr ? slash + 1 : argv0;
}

void ToolRun::warn(const std::string& file, const std::string& reason) const {
  std::fprintf(stderr, "%s: %s: warning: %s\n", program_.c_str(), file.c_str(), reason.c_str());
}

int run_tool(const char* program, const std::function<void(ToolRun&)>& body) {
  ToolRun run(program_name(program));
  const char* name = run.program().c_str();
  try {
    body(run);
    return 0;
  } catch (const ToolError& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
  } catch (const std::bad_alloc&) {
    // Nothing is allocated here: both names were stored before memory ran out.
    if (run.file().empty())
      std::fprintf(stderr, "%s: out of memory\n", name);
    else
      std::fprintf(stderr, "%s: %s: out of memory\n", name, run.file().c_str());
  }
  return 1;
}

}  // namespace tav::tools
