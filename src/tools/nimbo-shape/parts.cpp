// parts: the parts of the assembly in each file, with their measures and boxes.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <algorithm>

namespace {

void printParts(const json &report, std::ostream &out) {
  double scale = 0.0;
  for (const json &part : report["parts"]) {
    scale = std::max(scale, pointOf(part["box"]["min"]).Distance(pointOf(part["box"]["max"])));
  }
  printRows({{"file", textOf(report["file"])},
             {"length_unit", textOf(report["length_unit"])},
             {"parts", std::to_string(report["parts"].size())}},
            out);
  out << '\n';
  Rows rows;
  for (const json &part : report["parts"]) {
    const auto leaves = leavesOf(part, true);
    if (rows.empty()) {
      rows.emplace_back();
      for (const auto &leaf : leaves) rows.back().push_back(leaf.first);
    }
    rows.emplace_back();
    for (const auto &leaf : leaves) rows.back().push_back(cellOf(leaf.second, scale));
  }
  if (rows.empty()) rows.push_back({"path", "name", "type", "volume", "area", "center", "box_min", "box_max"});
  printRows(rows, out);
}

Outcome partsOf(const std::string &file) {
  const nimbo::Assembly assembly = readParts({file}, OnTerminal(readingLabel({file})));
  return about(file, [&] { return Outcome{partsReport(file, assembly), printParts, textOnlyKeys::parts}; });
}

}  // namespace

extern const Subcommand parts_command{"parts", "The parts of the assembly in each FILE: paths, names, measures, boxes",
                                      partsOf};
