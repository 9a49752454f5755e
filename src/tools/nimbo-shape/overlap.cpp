// overlap: whether two files' shapes have a common part.
#include "shape_files.h"
#include "subcommand.h"

namespace {

struct Options {
  std::string first;
  std::string second;
};

void printOverlap(const json &report, std::ostream &out) {
  out << textOf(report["first"]) << " and " << textOf(report["second"])
      << (report["overlap"].get<bool>() ? " overlap" : " do not overlap") << '\n';
}

Outcome overlapOf(const Options &options) {
  const TopoDS_Shape first = readShapeFile(options.first);
  const TopoDS_Shape second = readShapeFile(options.second);
  const bool overlap =
      about(options.first + " and " + options.second, [&] { return doShapesOverlap(first, second); });
  return {{{"first", options.first}, {"second", options.second}, {"overlap", overlap}}, printOverlap, {}, overlap ? 0 : 1};
}

std::function<Plan()> defineOverlap(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("A", options->first, "First shape file")->required();
  command.add_option("B", options->second, "Second shape file")->required();
  return [options] {
    return Plan{options->first + " and " + options->second, [options] { return overlapOf(*options); }};
  };
}

}  // namespace

extern const Subcommand overlap_command{"overlap", "Whether A and B have a common part (exit 0 overlap, 1 none)",
                                        nullptr, defineOverlap};
