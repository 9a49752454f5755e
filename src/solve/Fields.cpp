// The nodal field of a solved study as a VTK grid, for ParaView and scripts.
#include "Fields.h"

#include "Vtu.h"

#include <nimbo/nimbo_exception.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace nimbo::detail {

std::map<std::size_t, double> readNodeValues(const std::string &path) {
  std::ifstream in(path);
  std::size_t count = 0;
  if (!(in >> count)) throw nimbo_exception("Cannot read the field at the nodes from " + path);
  std::map<std::size_t, double> valueOf;
  std::size_t node = 0;
  double value = 0;
  while (in >> node >> value) valueOf[node] = value;
  if (valueOf.size() != count) {
    throw nimbo_exception(path + " gives " + std::to_string(valueOf.size()) + " of its " + std::to_string(count) +
                          " node values");
  }
  return valueOf;
}

std::vector<double> nodeField(const MeshData &mesh, const std::string &nodesFile) {
  const std::map<std::size_t, double> valueOf = readNodeValues(nodesFile);
  std::vector<double> field(mesh.nodes.size(), std::numeric_limits<double>::quiet_NaN());
  const auto valueAt = [&](std::size_t row) {
    const auto found = valueOf.find(mesh.nodeTags[row]);
    return found == valueOf.end() ? std::numeric_limits<double>::quiet_NaN() : found->second;
  };
  for (const auto &corners : mesh.tetrahedra) {
    for (const std::size_t row : corners) {
      field[row] = valueAt(row);
      if (std::isnan(field[row])) {
        throw nimbo_exception(nodesFile + " has no value at node " + std::to_string(mesh.nodeTags[row]));
      }
    }
  }
  // GetDP prints a quadratic mesh's field at the corners only, as its own view draws it: linear in
  // each tetrahedron. A mid-edge node it leaves out takes the mean of its edge's corners, so the grid
  // draws the same field.
  constexpr int ends[6][2] = {{0, 1}, {1, 2}, {2, 0}, {3, 0}, {3, 2}, {3, 1}};
  for (std::size_t t = 0; t < mesh.tetrahedronEdges.size(); ++t) {
    for (int e = 0; e < 6; ++e) {
      const std::size_t row = mesh.tetrahedronEdges[t][e];
      field[row] = valueAt(row);
      if (std::isnan(field[row])) {
        field[row] = (field[mesh.tetrahedra[t][ends[e][0]]] + field[mesh.tetrahedra[t][ends[e][1]]]) / 2;
      }
    }
  }
  return field;
}

void writeFieldVtu(const std::string &path, const MeshData &mesh, const std::vector<double> &field,
                   const std::string &name, const std::vector<std::string> &parts) {
  // The mesh file is in metres.
  writeVtu(path, mesh, 1000.0, parts, {VtuArray{name, 1, field}});
}

}  // namespace nimbo::detail
