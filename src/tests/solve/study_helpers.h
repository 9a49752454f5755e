// Studies on shapes built in a test.
#pragma once

#include <nimbo/solve/Solve.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_helpers.h"

#include <yaml-cpp/yaml.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace nimbo::test {

/// Whether a program is on PATH, for tests that need a solver.
inline bool onPath(const std::string &program) {
  return std::system(("command -v " + program + " > /dev/null 2>&1").c_str()) == 0;
}

/// A study on shapes written as BREP files into `dir` ("a.brep", "b.brep", ...), its geometry key
/// filled in; the rest is YAML text.
inline Study studyOn(const TempDir &dir, const std::vector<TopoDS_Shape> &shapes, const std::string &yaml) {
  std::string geometry = "geometry: [";
  for (std::size_t k = 0; k < shapes.size(); ++k) {
    const std::string name = std::string(1, static_cast<char>('a' + k)) + ".brep";
    writeBrep(shapes[k], (dir.path() / name).string());
    geometry += (k ? ", " : "") + name;
  }
  return studyFrom(YAML::Load(geometry + "]\n" + yaml), "study.yaml", dir.path().string());
}

}  // namespace nimbo::test
