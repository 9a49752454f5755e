// A solved scalar field at the mesh's nodes, as the result files hold it, and the grid written from it.
#pragma once

#include <nimbo/solve/Solve.h>

#include <cstddef>
#include <map>
#include <string>

namespace nimbo::detail {

/// The field by node tag from a nodes file (a count, then "node value" lines). Throws
/// nimbo_exception naming the file when it cannot be read or gives fewer values than it counts.
std::map<std::size_t, double> readNodeValues(const std::string &path);

/// Writes "results.vtu" into `folder` from the study's mesh and nodes files: the mesh in mm, the
/// field at its points as "temperature" or "potential", the part numbers in the order of
/// result.parts. A mid-edge node the nodes file leaves out takes the mean of its edge's corners.
/// Returns its path; an empty one for physics other than heat, electrostatics and current, whose
/// solvers write their own. Throws nimbo_exception when a corner has no value or a file cannot be
/// read or written.
std::string writeFieldVtu(const SolveResult &result, const std::string &folder);

}  // namespace nimbo::detail
