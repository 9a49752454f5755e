// A solved study's field on each part's boundary, read back from the result folder for drawing: the
// mesh's boundary triangles with the values at their nodes, moved by the displacement when asked.
#include <nimbo/mesh/Mesh.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/solve/Solve.h>

#include "Fields.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>

namespace nimbo {
namespace {

// A displacement file: a count, then "node dx dy dz" lines.
std::map<std::size_t, std::array<double, 3>> readDisplacements(const std::string &path) {
  std::ifstream in(path);
  std::size_t count = 0;
  if (!(in >> count)) throw nimbo_exception("Cannot read the displacements at the nodes from " + path);
  std::map<std::size_t, std::array<double, 3>> moved;
  std::size_t node = 0;
  std::array<double, 3> d{};
  while (in >> node >> d[0] >> d[1] >> d[2]) moved[node] = d;
  if (moved.size() != count) {
    throw nimbo_exception(path + " gives " + std::to_string(moved.size()) + " of its " + std::to_string(count) +
                          " displacements");
  }
  return moved;
}

}  // namespace

std::vector<PartSurface> solvedPartSurfaces(const SolveResult &result, double deformation) {
  const MeshData mesh = readMesh(result.meshFile);
  const std::map<std::size_t, double> valueOf = detail::readNodeValues(result.nodesFile);
  const bool deformed = deformation != 0 && !result.displacementFile.empty();
  const auto movedBy = deformed ? readDisplacements(result.displacementFile) : std::map<std::size_t, std::array<double, 3>>();
  // Only the nodes of each part's boundary, renumbered; GetDP's mesh is in metres.
  const double scale = isStructural(result.physics) ? 1.0 : 1000.0;
  std::vector<std::string> paths;
  for (const PartResult &part : result.parts) paths.push_back(part.path);
  if (result.structural) {
    for (const StructuralPartResult &part : result.structural->parts) paths.push_back(part.path);
  }
  std::vector<PartSurface> surfaces;
  for (const std::string &path : paths) {
    const auto triangles = mesh.surfaces.find(path);
    if (triangles == mesh.surfaces.end()) continue;
    FieldSurface surface;
    std::map<std::size_t, std::size_t> rowOf;
    for (const auto &triangle : triangles->second) {
      std::array<std::size_t, 3> rows{};
      for (int c = 0; c < 3; ++c) {
        const auto [at, fresh] = rowOf.emplace(triangle[c], surface.nodes.size());
        if (fresh) {
          const std::size_t tag = mesh.nodeTags[triangle[c]];
          const auto found = valueOf.find(tag);
          if (found == valueOf.end()) throw nimbo_exception(result.nodesFile + " has no value at node " + std::to_string(tag));
          std::array<double, 3> p = mesh.nodes[triangle[c]];
          for (double &x : p) x *= scale;
          if (deformed) {
            const auto moved = movedBy.find(tag);
            if (moved == movedBy.end()) {
              throw nimbo_exception(result.displacementFile + " has no displacement at node " + std::to_string(tag));
            }
            for (int d = 0; d < 3; ++d) p[d] += deformation * moved->second[d];
          }
          surface.nodes.emplace_back(p[0], p[1], p[2]);
          surface.values.push_back(found->second);
        }
        rows[c] = at->second;
      }
      surface.triangles.push_back(rows);
    }
    surfaces.push_back({path, std::move(surface)});
  }
  return surfaces;
}

FieldSurface solvedSurface(const SolveResult &result, double deformation) {
  FieldSurface all;
  for (const PartSurface &part : solvedPartSurfaces(result, deformation)) {
    const std::size_t offset = all.nodes.size();
    all.nodes.insert(all.nodes.end(), part.surface.nodes.begin(), part.surface.nodes.end());
    all.values.insert(all.values.end(), part.surface.values.begin(), part.surface.values.end());
    for (const auto &t : part.surface.triangles) all.triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
  }
  return all;
}

double deformationScale(const SolveResult &result) {
  if (result.displacementFile.empty()) return 0.0;
  const MeshData mesh = readMesh(result.meshFile);
  std::array<double, 6> box{};
  for (std::size_t row = 0; row < mesh.nodes.size(); ++row) {
    for (int d = 0; d < 3; ++d) {
      box[d] = row ? std::min(box[d], mesh.nodes[row][d]) : mesh.nodes[row][d];
      box[d + 3] = row ? std::max(box[d + 3], mesh.nodes[row][d]) : mesh.nodes[row][d];
    }
  }
  double largest = 0;
  for (const auto &[node, d] : readDisplacements(result.displacementFile)) {
    largest = std::max(largest, std::hypot(d[0], d[1], d[2]));
  }
  const double size = std::hypot(box[3] - box[0], box[4] - box[1], box[5] - box[2]);
  return largest > 0 ? size / 20 / largest : 0.0;
}

}  // namespace nimbo
