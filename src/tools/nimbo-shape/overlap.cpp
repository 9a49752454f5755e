// overlap: whether two files' shapes have a common part.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

namespace {

void printOverlap(const json &report, std::ostream &out) {
  out << textOf(report["first"]) << " and " << textOf(report["second"])
      << (report["overlap"].get<bool>() ? " overlap" : " do not overlap") << '\n';
}

Outcome overlapOf(const FilePair &options) {
  const TopoDS_Shape first = readShapeFile(options.first, false, OnTerminal(readingLabel({options.first})));
  const TopoDS_Shape second = readShapeFile(options.second, false, OnTerminal(readingLabel({options.second})));
  const bool overlap = about(options.subject(), [&] { return doShapesOverlap(first, second); });
  return {
      {{"first", options.first}, {"second", options.second}, {"overlap", overlap}}, printOverlap, {}, overlap ? 0 : 1};
}

std::function<Plan()> defineOverlap(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<FilePair>();
  addFilePair(command, *options);
  return [options] { return Plan{options->subject(), [options] { return overlapOf(*options); }}; };
}

}  // namespace

extern const Subcommand overlap_command{"overlap", "Whether A and B have a common part (exit 0 overlap, 1 none)",
                                        nullptr, defineOverlap};
