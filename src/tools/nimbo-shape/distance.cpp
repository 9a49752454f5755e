// distance: the minimum distance between two files' shapes, and its vector.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

namespace {

Outcome distanceOf(const FilePair &options) {
  const std::string pair = options.subject();
  const TopoDS_Shape first = readShapeFile(options.first, false, OnTerminal(readingLabel({options.first})));
  const TopoDS_Shape second = readShapeFile(options.second, false, OnTerminal(readingLabel({options.second})));
  gp_Vec vector;
  const std::optional<double> distance = about(pair, [&] { return nimbo::getDistance(first, second, vector); });
  if (!distance) throw file_error(pair, "the minimum distance could not be computed");
  return {{{"first", options.first}, {"second", options.second}, {"distance", *distance}, {"vector", array(vector)}},
          printFields};
}

std::function<Plan()> defineDistance(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<FilePair>();
  addFilePair(command, *options);
  return [options] { return Plan{options->subject(), [options] { return distanceOf(*options); }}; };
}

}  // namespace

extern const Subcommand distance_command{"distance", "Minimum distance between A and B, and its vector", nullptr,
                                         defineDistance};
