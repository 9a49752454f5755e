// distance: the minimum distance between two files' shapes, and its vector.
#include "shape_files.h"
#include "subcommand.h"

namespace {

struct Options {
  std::string first;
  std::string second;
};

Outcome distanceOf(const Options &options) {
  const std::string pair = options.first + " and " + options.second;
  const TopoDS_Shape first = readShapeFile(options.first);
  const TopoDS_Shape second = readShapeFile(options.second);
  gp_Vec vector;
  const std::optional<double> distance = about(pair, [&] { return nimbo::getDistance(first, second, vector); });
  if (!distance) throw tool_error(pair, "the minimum distance could not be computed");
  return {{{"first", options.first}, {"second", options.second}, {"distance", *distance}, {"vector", array(vector)}},
          printFields};
}

std::function<Plan()> defineDistance(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("A", options->first, "First shape file")->required();
  command.add_option("B", options->second, "Second shape file")->required();
  return [options] { return Plan{options->first + " and " + options->second, [options] { return distanceOf(*options); }}; };
}

}  // namespace

extern const Subcommand distance_command{"distance", "Minimum distance between A and B, and its vector", nullptr,
                                         defineDistance};
