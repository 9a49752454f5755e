// render: the parts of the files drawn as an SVG line drawing.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/render/Render.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

struct Options {
  std::vector<std::string> files;
  std::string output;
  std::string view = "iso";
  std::string page = "800x600";
  nimbo::RenderOptions drawing;
  double exactLimit = 60.0;
};

void printRender(const json &report, std::ostream &out) {
  char line[256];
  std::snprintf(line, sizeof line, "wrote %s: %zu parts, %.2f s", report["output"].get<std::string>().c_str(),
                report["parts"].get<std::size_t>(), report["seconds"].get<double>());
  out << line << '\n';
}

Outcome renderFiles(const Options &options, bool exact) {
  const auto started = std::chrono::steady_clock::now();
  checkExtension(options.output, ".svg", "render writes SVG (.svg)");
  const nimbo::View seen = about(options.view, [&] { return nimbo::viewNamed(options.view); });
  const nimbo::Assembly read = readParts(options.files, OnTerminal(readingLabel(options.files)));
  const std::vector<nimbo::RenderItem> items = drawnParts(read.parts);
  nimbo::RenderOptions drawing = options.drawing;
  drawing.exact = exact;
  writeTextFile(about(subjectOf(options.files), [&] { return nimbo::renderSvg(items, seen, drawing); }),
                options.output);
  return {renderReport(options.files, options.output, items.size(), secondsSince(started)), printRender,
          textOnlyKeys::render};
}

std::function<Plan()> defineRender(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("FILE", options->files, "Shape files, drawn together")->required();
  command.add_option("-o,--output", options->output, "The drawing to write (.svg)")->required();
  command.add_option("--view", options->view, "iso, front, back, top, bottom, left, right, or X,Y,Z (default iso)");
  command.add_flag("--hidden", options->drawing.hidden, "Draw hidden edges dashed");
  command.add_flag("--exact", options->drawing.exact, "Exact hidden-line removal on the geometry (slow on big parts)");
  command.add_option("--size", options->page, "Page size WxH in pixels (default 800x600)");
  command
      .add_option("--exact-limit", options->exactLimit,
                  "Seconds the exact removal may take before the drawing falls back to the triangulation (default 60)")
      ->check(CLI::PositiveNumber);
  return [options] {
    char times = 0;
    char rest = 0;
    nimbo::RenderOptions &drawing = options->drawing;
    if (std::sscanf(options->page.c_str(), "%d%c%d%c", &drawing.width, &times, &drawing.height, &rest) != 3 ||
        (times != 'x' && times != 'X') || drawing.width < 16 || drawing.height < 16 || drawing.width > 20000 ||
        drawing.height > 20000) {
      throw file_error("--size", "not a page size WxH in pixels, 16 to 20000 each: " + options->page);
    }
    Plan plan{
        workSubject(options->files, "render"), [options] { return renderFiles(*options, false); }, {options->output}};
    if (options->drawing.exact) {
      // The exact removal cannot be interrupted, and may take minutes on a big part: it gets a
      // worker and a time of its own, and the drawing falls back to the triangulation.
      plan.fallback =
          Plan::Fallback{options->exactLimit, "the exact hidden-line removal", "drawn on the triangulation", plan.run};
      plan.run = [options] { return renderFiles(*options, true); };
    }
    return plan;
  };
}

}  // namespace

extern const Subcommand render_command{"render", "Draw the parts of FILE... as an SVG line drawing", nullptr,
                                       defineRender};
