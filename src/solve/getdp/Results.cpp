// What GetDP leaves behind, read back: its figures.
#include "Problem.h"

#include <nimbo/nimbo_exception.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

namespace nimbo {
namespace detail {

std::map<std::string, FigureSeries> readFigures(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw nimbo_exception("GetDP wrote no figures (" + path + " is missing)");
  std::map<std::string, FigureSeries> figures;
  std::string label, line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    double time = 0, value = 0;
    char extra = 0;
    if (!label.empty() && std::sscanf(line.c_str(), "%lf %lf %c", &time, &value, &extra) == 2) {
      figures[label].emplace_back(time, value);
      label.clear();
    } else {
      label = line;
    }
  }
  return figures;
}

long outputStride(const TimeStepping &time) {
  const long steps = stepsIn(time.end, time.step);
  return time.every > 0 ? stepsIn(time.every, time.step) : std::max(1L, (steps + 9) / 10);
}

}  // namespace detail

}  // namespace nimbo
