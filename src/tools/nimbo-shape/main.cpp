// nimbo-shape: the shape library's jobs on CAD files, from the command line.
//
// Exit status: 0 for success (and for "equal" and "overlap"), 1 for "not equal" and "no overlap",
// 2 for a usage error or a failure, which is reported as one line on standard error.
//
// Every job on a file runs in a worker process of its own: a crash of the CAD kernel on a damaged
// file, a hang or a runaway allocation ends that job with a one-line error, never the tool. This
// file only reads the options every subcommand shares, finds the subcommand in the list, and runs
// its work in workers; each subcommand is a file of its own.
#include "frontend/Console.h"
#include "isolation.h"
#include "shape_files.h"
#include "subcommand.h"
#include "subcommand_list.h"
#include "terminal_progress.h"

#include <nimbo/crash_dump.h>

#include <unistd.h>
#include <chrono>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Messages may span lines (the IGES refusal does); the tool's error is one line.
std::string oneLine(const std::string &text) {
  std::string line;
  for (const char c : text) {
    const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

int fail(const std::string &subject, const std::string &problem) {
  std::cerr << "nimbo-shape: " << subject << ": " << oneLine(problem) << std::endl;
  return 2;
}

// A report that never reached its reader (a full disk, a closed pipe) is no success.
void flushReport(std::ostream &out) {
  if (!out.flush()) throw file_error("standard output", "the report could not be written");
}

WorkLimits limitsOf(const CommonOptions &common) {
  WorkLimits limits;
  limits.seconds = common.timeout;
  limits.memory_bytes = common.maxMemory.empty() ? defaultMemoryLimit() : parseByteSize(common.maxMemory);
  return limits;
}

// The work as a worker runs it: the report, as JSON (one line each in JSON Lines) or as text.
Work workOf(const std::string &subject, const std::function<Outcome()> &run, bool json, bool oneLine) {
  return {subject, [subject, run, json, oneLine](std::ostream &out) {
            Outcome outcome = run();
            if (!outcome.warning.empty())
              std::cerr << "nimbo-shape: " << subject << ": " << outcome.warning << std::endl;
            // Each warning names its file.
            const std::vector<std::string> warnings = takeReadWarnings();
            for (const std::string &warning : warnings) std::cerr << "nimbo-shape: " << warning << std::endl;
            if (json) {
              if (!warnings.empty() && outcome.report.is_object()) outcome.report["warnings"] = warnings;
              out << jsonOf(outcome, oneLine) << '\n';
            } else {
              outcome.text(outcome.report, out);
            }
            return outcome.status;
          }};
}

// One job in a worker: its report, or its problem as the one error line.
int runOne(const Work &work, const WorkLimits &limits, std::ostream &out, Ending *ending = nullptr) {
  int status = 2;
  runIsolated({work}, 1, limits, [&](std::size_t, const WorkResult &result) {
    if (ending != nullptr) *ending = result.ending;
    out << result.output;
    status = result.ending == Ending::ok ? result.status : fail(result.subject, result.problem);
  });
  flushReport(out);
  return status;
}

// The plan of a parsed command line. A worker that dies while writing leaves its temporary files;
// the tool removes them.
int runPlan(const Plan &plan, const CommonOptions &common, std::ostream &out) {
  // Killed until it is known to have ended by itself: Ctrl-C leaves as an exception.
  struct KilledGuard {
    const std::function<void()> &clear;
    Ending ending = Ending::crashed;
    ~KilledGuard() {
      if (!clear || ending == Ending::ok || ending == Ending::failed) return;
      try {
        clear();
      } catch (...) {  // tidying up must not hide how the work ended
      }
    }
  } killed{plan.onKilled};
  std::vector<std::unique_ptr<LeftoverGuard>> leftovers;
  for (const std::string &output : plan.outputs) {
    if (!output.empty()) leftovers.push_back(std::make_unique<LeftoverGuard>(output));
  }
  const WorkLimits limits = limitsOf(common);
  if (plan.fallback) {
    WorkLimits first = limits;
    first.seconds = std::min(limits.seconds, plan.fallback->seconds);
    std::optional<WorkResult> tried;
    runIsolated({workOf(plan.subject, plan.run, common.json, false)}, 1, first,
                [&](std::size_t, const WorkResult &result) { tried = result; });
    if (tried) killed.ending = tried->ending;
    if (tried && tried->ending != Ending::timed_out) {
      out << tried->output;
      flushReport(out);
      return tried->ending == Ending::ok ? tried->status : fail(tried->subject, tried->problem);
    }
    std::cerr << "nimbo-shape: " << plan.subject << ": " << plan.fallback->what << " gave up after " << first.seconds
              << " s; " << plan.fallback->instead << std::endl;
    return runOne(workOf(plan.subject, plan.fallback->run, common.json, false), limits, out, &killed.ending);
  }
  return runOne(workOf(plan.subject, plan.run, common.json, false), limits, out, &killed.ending);
}

// "<done>/<total> files" on standard error while a batch runs, when that is a terminal.
class BatchProgress {
 public:
  explicit BatchProgress(std::size_t total) : total_(total), shown_(isatty(STDERR_FILENO) != 0) {}
  ~BatchProgress() {
    if (shown_ && width_ > 0) std::fprintf(stderr, "\r%*s\r", width_, "");
  }
  BatchProgress(const BatchProgress &) = delete;
  BatchProgress &operator=(const BatchProgress &) = delete;
  void done(std::size_t count) {
    if (shown_) width_ = std::fprintf(stderr, "\r%zu/%zu files", count, total_) - 1;
  }

 private:
  std::size_t total_;
  bool shown_;
  int width_ = 0;
};

using EachFile = std::function<Outcome(const std::string &file)>;

// Many files: every file's report in input order (one JSON line each with --json), a failed file's
// problem on standard error and, with --json, as {"file", "error"}; a summary at the end, which names
// the dump folder when any file left a dump there.
int runBatch(const std::vector<BatchInput> &inputs, const EachFile &reportOf, int jobs, const CommonOptions &common,
             std::ostream &out) {
  const auto started = std::chrono::steady_clock::now();
  // Workers must not draw their own progress lines over one another.
  TerminalProgress::setEnabled(false);
  // An input that gives no file fails in its place, so that the rest still run.
  std::vector<Work> work;
  std::vector<std::string> files;
  for (const BatchInput &input : inputs) {
    const std::string file = input.file;
    const std::string problem = input.problem;
    files.push_back(file);
    work.push_back(workOf(
        file,
        [file, problem, reportOf] {
          if (!problem.empty()) throw file_error(file, problem);
          return reportOf(file);
        },
        common.json, true));
  }
  const int parallel = jobs > 0 ? jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::size_t failed = 0;
  std::string dumps;  // the folder of the dumps the batch left, for its summary
  {
    BatchProgress progress(files.size());
    runIsolated(work, parallel, limitsOf(common), [&](std::size_t i, const WorkResult &result) {
      if (!result.dump.empty() && dumps.empty()) dumps = std::filesystem::path(result.dump).parent_path().string();
      if (result.ending != Ending::ok) {
        ++failed;
        fail(files[i], result.problem);
        if (common.json) {
          out << json({{"file", files[i]}, {"error", oneLine(result.problem)}})
                     .dump(-1, ' ', false, json::error_handler_t::replace)
              << '\n';
        }
      } else {
        if (!common.json && i > 0) out << '\n';
        out << result.output;
      }
      flushReport(out);
      progress.done(i + 1);
    });
  }
  const double seconds = secondsSince(started);
  char summary[160];
  std::snprintf(summary, sizeof summary, "nimbo-shape: %zu files, %zu succeeded, %zu failed, %.1f s", files.size(),
                files.size() - failed, failed, seconds);
  std::cerr << summary << (dumps.empty() ? "" : "; dumps in " + dumps) << std::endl;
  return failed == 0 ? 0 : 2;
}

// One file as a job of its own, several files or a folder as a batch.
int runFiles(const EachFile &reportOf, const std::vector<std::string> &inputs, int jobs, const CommonOptions &common,
             std::ostream &out) {
  const std::vector<BatchInput> files = shapeFilesIn(inputs);
  // --jobs asks for a batch even of one file, so that a scheduler's chunks all print JSON Lines.
  const bool batch = inputs.size() > 1 || jobs > 0 || std::filesystem::is_directory(inputs.front());
  if (batch) return runBatch(files, reportOf, jobs, common, out);
  const std::string file = files.front().file;
  return runOne(workOf(
                    file, [file, reportOf] { return reportOf(file); }, common.json, false),
                limitsOf(common), out);
}

void addCommonOptions(CLI::App &command, CommonOptions &common) {
  command.add_flag("--json", common.json, "Print one JSON object instead of text (JSON Lines for several files)");
  command.add_flag("--verbose", common.verbose, "Show the CAD kernel's messages and log records on standard error");
  command.add_option("--timeout", common.timeout, "Seconds a file may take before it is given up (default 300)");
  command.add_option("--max-memory", common.maxMemory,
                     "Memory a file's worker may take, as 512M or 8G (default: half the machine's)");
}

}  // namespace

int main(int argc, char **argv) {
  install_crash_dump_filter();
  quietStartup();

  CLI::App app{"Inspect, compare and convert CAD shapes (STEP, IGES, BREP).", "nimbo-shape"};
  app.set_version_flag("--version", std::string("nimbo-shape ") + NIMBO_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, equal or overlapping (clash: nothing overlaps; diff: nothing changed);\n"
      "1 not equal or not overlapping (clash: some parts overlap or could not be checked; diff: some\n"
      "part changed); 2 error.\n"
      "Files are read by extension: .step/.stp, .iges/.igs, .brep. stats and parts take several files\n"
      "and folders (searched for those extensions) and run them in parallel worker processes.");

  CommonOptions common;
  std::vector<std::string> files;  // of the subcommands that take files one by one
  int jobs = 0;
  struct Parsed {
    const Subcommand *subcommand;
    CLI::App *command;
    std::function<Plan()> plan;
  };
  std::vector<Parsed> commands;
  for (const Subcommand *subcommand : allSubcommands()) {
    CLI::App *command = app.add_subcommand(subcommand->name, subcommand->help);
    std::function<Plan()> plan;
    if (subcommand->eachFile) {
      command->add_option("FILE", files, "Shape files or folders")->required();
      command->add_option("--jobs", jobs, "Files worked on at once (default: the number of cores)")
          ->check(CLI::PositiveNumber);
    } else {
      plan = subcommand->define(*command, common);
    }
    addCommonOptions(*command, common);
    commands.push_back({subcommand, command, plan});
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    return app.exit(error) == 0 ? 0 : 2;
  }
  if (!(std::isfinite(common.timeout) && common.timeout > 0.0)) {
    std::cerr << "nimbo-shape: --timeout must be a positive number of seconds, not " << common.timeout << std::endl;
    return 2;
  }
  try {
    if (!common.maxMemory.empty()) parseByteSize(common.maxMemory);
  } catch (const std::invalid_argument &error) {
    std::cerr << "nimbo-shape: --max-memory: " << error.what() << std::endl;
    return 2;
  }

  std::ostream out(routeDiagnostics(common.verbose));
  std::string subject = "nimbo-shape";
  try {
    for (const Parsed &parsed : commands) {
      if (!parsed.command->parsed()) continue;
      subject = parsed.subcommand->name;
      if (parsed.subcommand->eachFile) return runFiles(parsed.subcommand->eachFile, files, jobs, common, out);
      return runPlan(parsed.plan(), common, out);
    }
    return 2;
  } catch (const usage_error &error) {
    std::cerr << "nimbo-shape: " << error.what() << std::endl;
    return 2;
  } catch (const interrupted &stop) {
    // A worker's progress line may be on the terminal.
    if (isatty(STDERR_FILENO) != 0) std::cerr << "\r\033[K";
    std::cerr << "nimbo-shape: interrupted" << std::endl;
    return 128 + stop.signal();
  } catch (const file_error &error) {
    return fail(error.subject(), error.what());
  } catch (const nimbo_exception &error) {
    return fail(subject, file_error(subject, error.what(), error.dump_path()).what());
  } catch (const std::exception &error) {
    // Anything the tool did not foresee: still one line, still no abort.
    return fail(subject, error.what());
  }
}
