// convert: a shape file read, scaled about the origin if asked, and written in another format.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <cmath>
#include <sstream>

namespace {

struct Options {
  std::string input;
  std::string output;
  double scale = 1.0;
};

void printConvert(const json &report, std::ostream &out) {
  out << "wrote " << textOf(report["output"]) << " (" << textOf(report["dominant_type"]) << ") from "
      << textOf(report["input"]);
  if (report["scale"].get<double>() != 1.0) out << ", scaled by " << textOf(report["scale"]);
  out << '\n';
}

// The output's format is checked before the input is read.
Outcome convertFile(const Options &options) {
  checkWritablePath(options.output);
  TopoDS_Shape shape = readShapeFile(options.input, false, OnTerminal(readingLabel({options.input})));
  if (options.scale != 1.0) shape = about(options.input, [&] { return scaleShape(shape, options.scale); });
  writeShapeFile(shape, options.output);
  return {{{"input", options.input},
           {"output", options.output},
           {"scale", options.scale},
           {"dominant_type", nimbo::shapeTypeName(getDominantShapeType(shape))}},
          printConvert};
}

std::function<Plan()> defineConvert(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("IN", options->input, "Input shape file (.step, .stp, .iges, .igs, .brep)")->required();
  command.add_option("OUT", options->output, "Output shape file (.step, .stp, .brep)")->required();
  command.add_option("--scale", options->scale, "Scale factor, a positive number");
  return [options] {
    if (!(std::isfinite(options->scale) && options->scale > 0.0)) {
      std::ostringstream problem;
      problem << "--scale must be a positive number, not " << options->scale;
      throw usage_error(problem.str());
    }
    return Plan{options->input, [options] { return convertFile(*options); }, {options->output}};
  };
}

}  // namespace

extern const Subcommand convert_command{"convert", "Read IN, optionally scale it about the origin, write OUT", nullptr,
                                        defineConvert};
