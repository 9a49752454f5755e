// view: the parts of the files as a self-contained 3D page for a browser.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/html/Html.h>

#include <chrono>
#include <cstdio>

namespace {

struct Options {
  std::vector<std::string> files;
  std::string output;
  double deflection = 0.0;
};

void printView(const json &report, std::ostream &out) {
  char line[512];
  std::snprintf(line, sizeof line, "wrote %s: %zu parts, %.1f MB, %.2f s", report["output"].get<std::string>().c_str(),
                report["parts"].get<std::size_t>(),
                report["bytes"].is_null() ? 0.0 : report["bytes"].get<double>() / 1e6, report["seconds"].get<double>());
  out << line << '\n';
}

Outcome viewFiles(const Options &options) {
  const auto started = std::chrono::steady_clock::now();
  checkExtension(options.output, ".html", "view writes a web page (.html)");
  const nimbo::Assembly read = readParts(options.files, OnTerminal(readingLabel(options.files)));
  nimbo::Page page = nimbo::partsPage(read.parts, subjectOf(options.files));
  page.deflection = options.deflection;
  about(subjectOf(options.files), [&] { nimbo::writePage(page, options.output); });
  return {viewReport(options.files, options.output, read.parts.size(), secondsSince(started)), printView,
          textOnlyKeys::view};
}

std::function<Plan()> defineView(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("FILE", options->files, "Shape files, shown together")->required();
  command.add_option("-o,--output", options->output, "The page to write (.html)")->required();
  command
      .add_option("--deflection", options->deflection,
                  "Of the triangulation, in mm (default: 0.002 of the parts' box diagonal, as the drawings)")
      ->check(CLI::PositiveNumber);
  return [options] {
    return Plan{workSubject(options->files, "view"), [options] { return viewFiles(*options); }, {options->output}};
  };
}

}  // namespace

extern const Subcommand view_command{
    "view", "Write the parts of FILE... as one HTML page to turn, filter and click through in a browser", nullptr,
    defineView};
