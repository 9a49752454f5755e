// A subcommand of the tool: its name, its help, its own arguments, and the work a parsed command
// line asks of it. Each lives in a file of its own; the list of them is CMakeLists.txt's.
#pragma once

#include "report.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

/// A command line that parsed but asks for something impossible; reported as "nimbo-shape: <what>".
struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The options every subcommand takes; read once the command line is parsed.
struct CommonOptions {
  bool json = false;
  bool verbose = false;
  double timeout = 300.0;
  std::string maxMemory;
};

/// What a parsed command line asks for: work run in a worker process of its own.
struct Plan {
  std::string subject;  ///< what a crash, a time or a memory limit is reported about
  std::function<Outcome()> run;
  std::vector<std::string> outputs = {};  ///< files it writes: a worker that dies leaves their temporaries
  /// Run by the tool when the worker was ended before it could finish (a time or memory limit, a
  /// crash, Ctrl-C): clears what it left besides temporary files.
  std::function<void()> onKilled = nullptr;

  /// A second way to the same report, for when the first runs out of a time limit of its own.
  struct Fallback {
    double seconds;       ///< the first way's limit
    std::string what;     ///< "the exact hidden-line removal"
    std::string instead;  ///< "drawn on the triangulation"
    std::function<Outcome()> run;
  };
  std::optional<Fallback> fallback = std::nullopt;
};

/// The two files of compare, overlap and distance.
struct FilePair {
  std::string first;
  std::string second;

  /// What failures about both are about: "A and B".
  std::string subject() const { return first + " and " + second; }
};

/// Declares the arguments A and B on `command`.
inline void addFilePair(CLI::App &command, FilePair &files) {
  command.add_option("A", files.first, "First shape file")->required();
  command.add_option("B", files.second, "Second shape file")->required();
}

struct Subcommand {
  const char *name;
  const char *help;
  /// For subcommands that take files one by one (stats, parts): the report of one file. The tool
  /// adds the FILE arguments (files and folders) and --jobs, and runs the files in parallel workers.
  std::function<Outcome(const std::string &file)> eachFile = nullptr;
  /// For the others: declares the arguments on `command`, and returns what gives the work once the
  /// line is parsed.
  std::function<std::function<Plan()>(CLI::App &command, const CommonOptions &common)> define = nullptr;
};
