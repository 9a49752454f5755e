// stats: the shape library's statistics, counts and measures of the shape in each file (of the
// whole assembly, for a STEP file whose parts are files of their own).
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

namespace {

Outcome statsOf(const std::string &file) {
  // An assembly whose parts are files of their own is measured whole.
  const TopoDS_Shape shape = readShapeFile(file, true, OnTerminal(readingLabel({file})));
  return about(file, [&] { return Outcome{statsReport(file, shape), printFields, textOnlyKeys::stats}; });
}

}  // namespace

extern const Subcommand stats_command{"stats", "Statistics, counts and measures of the shape in each FILE", statsOf};
