// The plate and the list of paths that the reading and the writing tests of assemblies share.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include "test_helpers.h"

#include <string>
#include <vector>

namespace nimbo::test {

// Centred on the origin, so that placing it is a real move; it lands on (0, 0, 0)-(100, 40, 10).
inline const TopoDS_Shape plate = box({-50, -20, -5}, {50, 20, 5});

/// The parts' paths, in order.
inline std::vector<std::string> pathsOf(const nimbo::Assembly &assembly) {
  std::vector<std::string> paths;
  for (const nimbo::Part &part : assembly.parts) paths.push_back(part.path);
  return paths;
}

}  // namespace nimbo::test
