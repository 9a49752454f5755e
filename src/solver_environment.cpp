#include <nimbo/environment.h>

#include <nimbo/environment_variables.h>
#include <nimbo/nimbo_exception.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>

namespace {

struct PipeCloser {
  void operator()(std::FILE *pipe) const { pclose(pipe); }
};
using CommandPipe = std::unique_ptr<std::FILE, PipeCloser>;

/// Runs the command line through the shell and reads its standard output; empty when no pipe is obtained.
CommandPipe open_command_pipe(const char *command) { return CommandPipe(popen(command, "r")); }

}  // namespace

void query_solver_cpu_info() {
  // Set before the pipe opens: the solver started through it must inherit the verbosity.
  if (const int error = set_environment_variable("OPENBLAS_VERBOSE", "2"); error != 0) {
    throw nimbo_exception("SetEnvironmentVariable failed (" + std::to_string(error) + ")\n");
  }

  std::cout << "Opening pipe" << std::endl;
  const CommandPipe pipe = open_command_pipe("getdp -version 2>&1 | grep Core");
  if (!pipe) throw nimbo_exception("Error: Failed to Open GetDP pipe.\n");

  std::string result;
  char line_buffer[128];
  while (std::fgets(line_buffer, sizeof line_buffer, pipe.get()) != nullptr) result += line_buffer;
  if (!std::feof(pipe.get())) throw nimbo_exception("Error: Failed to Read GetDP pipe to the end.\n");

  // A solver built for Windows ends its lines in CR LF; the console line must not carry the CRs.
  result.erase(std::remove(result.begin(), result.end(), '\r'), result.end());
  std::replace(result.begin(), result.end(), '\n', ' ');
  if (result.empty()) result = "<no-info>";
  std::cout << "GetDP CPU info : [ " << result << "]" << std::endl;
}
