// The nodal field of a solved study as a VTK grid, for ParaView and scripts.
#include "Fields.h"

#include "Vtu.h"

#include <nimbo/mesh/Mesh.h>
#include <nimbo/nimbo_exception.h>

#include <cmath>
#include <filesystem>
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

std::string writeFieldVtu(const SolveResult &result, const std::string &folder) {
  std::string name;
  switch (result.physics) {
    case Physics::heat:
      name = "temperature";
      break;
    case Physics::electrostatic:
    case Physics::current:
      name = "potential";
      break;
    default:
      return {};  // other solvers write their own grid
  }
  const MeshData mesh = readMesh(result.meshFile);
  const std::map<std::size_t, double> valueOf = readNodeValues(result.nodesFile);
  VtuArray field{name, 1, std::vector<double>(mesh.nodes.size(), std::numeric_limits<double>::quiet_NaN())};
  // Nodes on no tetrahedron (none in a conforming mesh) keep NaN; corners must have a value.
  const auto valueAt = [&](std::size_t row) {
    const auto found = valueOf.find(mesh.nodeTags[row]);
    return found == valueOf.end() ? std::numeric_limits<double>::quiet_NaN() : found->second;
  };
  for (const auto &corners : mesh.tetrahedra) {
    for (const std::size_t row : corners) {
      field.values[row] = valueAt(row);
      if (std::isnan(field.values[row])) {
        throw nimbo_exception(result.nodesFile + " has no value at node " + std::to_string(mesh.nodeTags[row]));
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
      field.values[row] = valueAt(row);
      if (std::isnan(field.values[row])) {
        field.values[row] =
            (field.values[mesh.tetrahedra[t][ends[e][0]]] + field.values[mesh.tetrahedra[t][ends[e][1]]]) / 2;
      }
    }
  }
  std::vector<std::string> parts;
  for (const PartResult &part : result.parts) parts.push_back(part.path);
  const std::string path = (std::filesystem::path(folder) / "results.vtu").string();
  // The mesh file is in metres.
  writeVtu(path, mesh, 1000.0, parts, {field});
  return path;
}

}  // namespace nimbo::detail
