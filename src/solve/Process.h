// Running a solver: a program found before any meshing, run as a child process in its scratch
// folder, its messages collected, and ended when the caller stops or its time runs out.
#pragma once

#include <nimbo/solve/Solve.h>

#include <functional>
#include <string>
#include <vector>

namespace nimbo::detail {

/// A solver program as its runs and failures are told.
struct Program {
  std::string name;     ///< as users know it: "GetDP", "CalculiX"
  std::string path;     ///< what to run: as the user named it, or absolute once found
  std::string package;  ///< the Debian package that installs it
  /// Its own error line in what it printed, or empty when it printed none.
  std::string (*errorIn)(const std::string &output);
  /// "NAME=value" settings of its environment, besides this process's.
  std::vector<std::string> environment = {};
  /// How far along its run a line it printed says it is, from 0 to 1; negative when it says nothing.
  std::function<double(const std::string &line)> progressIn = {};
};

/// The program with its absolute path (searched on PATH when the path has no folder). Throws
/// nimbo_exception saying how to install it when there is none that can run.
Program findProgram(Program program);

/// Runs the program with the arguments in `folder`, through the solver's environment (prepared once
/// per process), and returns what it printed. Throws nimbo_exception with the program's own error
/// line when it fails or prints one, one line saying how to install it when it is missing, and when
/// `progress` is stopped or options.seconds run out (it is then ended).
std::string runProgram(const Program &program, const std::vector<std::string> &arguments, const std::string &folder,
                       const SolveOptions &options, const Message_ProgressRange &progress);

}  // namespace nimbo::detail
