// A solved scalar field at the mesh's nodes, as the result files hold it, and the grid written from it.
#pragma once

#include <nimbo/mesh/Mesh.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace nimbo::detail {

/// The field by node tag from a nodes file (a count, then "node value" lines). Throws
/// nimbo_exception naming the file when it cannot be read or gives fewer values than it counts.
std::map<std::size_t, double> readNodeValues(const std::string &path);

/// The field of a nodes file at every node row of the mesh. A mid-edge node the file leaves out
/// takes the mean of its edge's corners; a node on no tetrahedron is NaN. Throws nimbo_exception
/// when a corner has no value.
std::vector<double> nodeField(const MeshData &mesh, const std::string &nodesFile);

/// Writes the grid `path` (results.vtu) from a mesh in metres: its points in mm, the field at them
/// under `name`, and on the cells the number of their part in the order of `parts` (physical
/// volumes by name). Throws nimbo_exception when it cannot be written.
void writeFieldVtu(const std::string &path, const MeshData &mesh, const std::vector<double> &field,
                   const std::string &name, const std::vector<std::string> &parts);

}  // namespace nimbo::detail
