// Failure reporting shared by the text tools.
//
// Every failure a tool can meet (bad arguments, a file that cannot be opened,
// read or written, memory that runs out) ends the run with one line on
// standard error, "<program>: <file>: <reason>", and exit status 1.  Library
// code throws ToolError; only this module prints.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace tav::tools {

class ToolError : public std::runtime_error {
 public:
  // `file` names what the failure concerns; `reason` says what went wrong.
  ToolError(const std::string& file, const std::string& reason);
  // A failure that concerns no single file, e.g. a usage error.
  explicit ToolError(const std::string& message);
};

// Reason text for the current errno, e.g. "No such file or directory".
std::string errno_reason();

// The last component of argv[0], for usage lines.
std::string program_name(const char* argv0);

// What run_tool knows of the run in progress.  A failure that carries no file
// of its own, memory running out anywhere, is reported against the file the
// run is working on; the record outlives the body, so the name is still there
// when the report is printed.
class ToolRun {
 public:
  explicit ToolRun(std::string program) : program_(std::move(program)) {}

  // From now on such failures concern `file`.
  void working_on(std::string file) { file_ = std::move(file); }
  const std::string& file() const { return file_; }
  const std::string& program() const { return program_; }

  // Prints "<program>: <file>: warning: <reason>" on standard error; the run
  // goes on.
  void warn(const std::string& file, const std::string& reason) const;

 private:
  std::string program_;
  std::string file_;  // empty until the arguments have named one
};

// Runs `body` and turns a ToolError or an exhausted allocator into the
// one-line report.  Returns the process exit status: 0 when `body` returned,
// 1 after a reported failure.
int run_tool(const char* program, const std::function<void(ToolRun&)>& body);

}  // namespace tav::tools
