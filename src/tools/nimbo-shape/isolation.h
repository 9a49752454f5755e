// Work run in child processes, so that a crash of the CAD kernel on a damaged file, a hang or a
// runaway allocation ends that one piece of work and not the tool.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

/// The limits every piece of work runs under.
struct WorkLimits {
  double seconds = 300.0;        ///< wall-clock time before the work is given up
  std::size_t memory_bytes = 0;  ///< the worker's address space; 0 for no limit
};

/// How a worker ended.
enum class Ending {
  ok,             ///< the work returned its status and report
  failed,         ///< the work reported a failure
  timed_out,      ///< it was given up at its time limit
  crashed,        ///< it died without a report (a signal, or an exit that skipped it)
  out_of_memory,  ///< it ran out of its memory
};

/// How one piece of work ended: its exit status and report, or the one-line problem.
struct WorkResult {
  Ending ending = Ending::failed;
  int status = 2;       ///< what the work returned (0 or 1), or 2 when it did not end ok
  std::string output;   ///< the report it wrote
  std::string subject;  ///< what the problem is about: the file, or the pair of files
  std::string problem;  ///< why it failed, when status is 2
  std::string dump;     ///< the process dump the failure left, named in `problem`; empty when none
};

/// One piece of work: `run` writes its report to the stream and returns the exit status (0 or 1),
/// or throws (file_error for the failures the tool detects). `subject` names it in problems that
/// `run` cannot report itself: a crash, a time or memory limit.
struct Work {
  std::string subject;
  std::function<int(std::ostream &out)> run;
};

/// Thrown by runIsolated when the tool is asked to stop (SIGINT, SIGTERM), once its workers are gone.
class interrupted : public std::runtime_error {
 public:
  explicit interrupted(int signal) : std::runtime_error("interrupted"), signal_(signal) {}
  int signal() const { return signal_; }

 private:
  int signal_;
};

/// Runs each piece of work in a child process of its own, at most `parallel` at a time, and calls
/// `finished(i, result)` for each in input order as soon as it and all before it have ended. Ctrl-C
/// or SIGTERM ends the workers and throws `interrupted`; what finished before was reported.
void runIsolated(const std::vector<Work> &work, int parallel, const WorkLimits &limits,
                 const std::function<void(std::size_t, const WorkResult &)> &finished);

/// Half the machine's memory: the default memory limit of a worker.
std::size_t defaultMemoryLimit();

/// Reads a size such as "512M", "8G" or "1000000" (bytes); throws std::invalid_argument otherwise.
std::size_t parseByteSize(const std::string &text);

/// The size in the largest unit that keeps it whole or readable: "12 GiB", "512 MiB".
std::string byteSizeText(std::size_t bytes);
