// nimbo-shape: the shape library's jobs on CAD files, from the command line.
//
// Exit status: 0 for success (and for "equal" and "overlap"), 1 for "not equal" and "no overlap",
// 2 for a usage error or a failure, which is reported as one line on standard error.
#include "commands.h"
#include "console.h"
#include "report.h"
#include "shape_files.h"

#include <nimbo/crash_dump.h>

#include <CLI/CLI.hpp>

#include <cmath>
#include <exception>
#include <iostream>
#include <string>

namespace {

struct Options {
  bool json = false;
  bool verbose = false;
  std::string first;
  std::string second;
  double scale = 1.0;
};

void addOutputFlags(CLI::App &command, Options &options) {
  command.add_flag("--json", options.json, "Print one JSON object instead of text");
  command.add_flag("--verbose", options.verbose, "Show the CAD kernel's messages and log records on standard error");
}

template <typename Report>
void print(const Report &report, bool json, std::ostream &out) {
  if (json) {
    out << toJson(report).dump(2) << '\n';
  } else {
    printText(report, out);
  }
  // A report that never reached its reader (a full disk, a closed pipe) is no success.
  if (!out.flush()) throw tool_error("standard output", "the report could not be written");
}

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

}  // namespace

int main(int argc, char **argv) {
  install_crash_dump_filter();
  quietStartup();

  CLI::App app{"Inspect, compare and convert CAD shapes (STEP, IGES, BREP).", "nimbo-shape"};
  app.set_version_flag("--version", std::string("nimbo-shape ") + NIMBO_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, equal or overlapping; 1 not equal or not overlapping; 2 error.\n"
      "Files are read by extension: .step/.stp, .iges/.igs, .brep.");
  Options options;

  CLI::App *stats = app.add_subcommand("stats", "Statistics, counts and measures of the shape in FILE");
  stats->add_option("FILE", options.first, "Shape file")->required();

  CLI::App *parts = app.add_subcommand("parts", "The parts of the assembly in FILE: paths, names, measures, boxes");
  parts->add_option("FILE", options.first, "Assembly or shape file")->required();

  CLI::App *compare = app.add_subcommand("compare", "Whether A and B describe the same geometry (exit 0 equal, 1 not)");
  CLI::App *overlap = app.add_subcommand("overlap", "Whether A and B have a common part (exit 0 overlap, 1 none)");
  CLI::App *distance = app.add_subcommand("distance", "Minimum distance between A and B, and its vector");
  for (CLI::App *command : {compare, overlap, distance}) {
    command->add_option("A", options.first, "First shape file")->required();
    command->add_option("B", options.second, "Second shape file")->required();
  }

  CLI::App *convert = app.add_subcommand("convert", "Read IN, optionally scale it about the origin, write OUT");
  convert->add_option("IN", options.first, "Input shape file (.step, .stp, .iges, .igs, .brep)")->required();
  convert->add_option("OUT", options.second, "Output shape file (.step, .stp, .brep)")->required();
  convert->add_option("--scale", options.scale, "Scale factor, a positive number");

  for (CLI::App *command : {stats, parts, compare, overlap, distance, convert}) addOutputFlags(*command, options);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    return app.exit(error) == 0 ? 0 : 2;
  }
  if (!(std::isfinite(options.scale) && options.scale > 0.0)) {
    std::cerr << "nimbo-shape: --scale must be a positive number, not " << options.scale << std::endl;
    return 2;
  }

  std::ostream out(routeDiagnostics(options.verbose));
  try {
    if (stats->parsed()) {
      print(statsOf(options.first), options.json, out);
      return 0;
    }
    if (parts->parsed()) {
      print(partsOf(options.first), options.json, out);
      return 0;
    }
    if (compare->parsed()) {
      const CompareReport report = compareFiles(options.first, options.second);
      print(report, options.json, out);
      return report.forward.equal && report.backward.equal ? 0 : 1;
    }
    if (overlap->parsed()) {
      const OverlapReport report = overlapOf(options.first, options.second);
      print(report, options.json, out);
      return report.overlap ? 0 : 1;
    }
    if (distance->parsed()) {
      print(distanceOf(options.first, options.second), options.json, out);
      return 0;
    }
    print(convertFile(options.first, options.second, options.scale), options.json, out);
    return 0;
  } catch (const tool_error &error) {
    return fail(error.subject(), error.what());
  } catch (const std::exception &error) {
    // Anything the library did not foresee: still one line, still no abort.
    return fail(options.first, error.what());
  } catch (const Standard_Failure &failure) {
    return fail(options.first, kernelFailureText(failure));
  }
}
