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

// Each solid part's boundary as the mesh holds it: its nodes' rows, renumbered from 0 in the order
// its triangles meet them, and the triangles in that numbering.
struct BoundaryRows {
  std::string path;
  std::vector<std::size_t> rows;
  std::vector<std::array<std::size_t, 3>> triangles;
};

std::vector<BoundaryRows> boundariesOf(const SolveResult &result, const MeshData &mesh) {
  std::vector<std::string> paths;
  for (const PartResult &part : result.parts) paths.push_back(part.path);
  if (result.structural) {
    for (const StructuralPartResult &part : result.structural->parts) paths.push_back(part.path);
  }
  std::vector<BoundaryRows> boundaries;
  for (const std::string &path : paths) {
    const auto triangles = mesh.surfaces.find(path);
    if (triangles == mesh.surfaces.end()) continue;
    BoundaryRows boundary{path, {}, {}};
    std::map<std::size_t, std::size_t> rowOf;
    for (const auto &triangle : triangles->second) {
      std::array<std::size_t, 3> rows{};
      for (int c = 0; c < 3; ++c) {
        const auto [at, fresh] = rowOf.emplace(triangle[c], boundary.rows.size());
        if (fresh) boundary.rows.push_back(triangle[c]);
        rows[c] = at->second;
      }
      boundary.triangles.push_back(rows);
    }
    boundaries.push_back(std::move(boundary));
  }
  return boundaries;
}

// A nodes file's values at a boundary's nodes.
std::vector<double> valuesAt(const BoundaryRows &boundary, const MeshData &mesh,
                             const std::map<std::size_t, double> &valueOf, const std::string &file) {
  std::vector<double> values;
  for (const std::size_t row : boundary.rows) {
    const auto found = valueOf.find(mesh.nodeTags[row]);
    if (found == valueOf.end())
      throw nimbo_exception(file + " has no value at node " + std::to_string(mesh.nodeTags[row]));
    values.push_back(found->second);
  }
  return values;
}

}  // namespace

std::vector<PartSurface> solvedPartSurfaces(const SolveResult &result, double deformation) {
  const MeshData mesh = readMesh(result.meshFile);
  const std::map<std::size_t, double> valueOf = detail::readNodeValues(result.nodesFile);
  const bool deformed = deformation != 0 && !result.displacementFile.empty();
  const auto movedBy =
      deformed ? readDisplacements(result.displacementFile) : std::map<std::size_t, std::array<double, 3>>();
  // GetDP's mesh is in metres.
  const double scale = isStructural(result.physics) ? 1.0 : 1000.0;
  std::vector<PartSurface> surfaces;
  for (BoundaryRows &boundary : boundariesOf(result, mesh)) {
    FieldSurface surface;
    surface.values = valuesAt(boundary, mesh, valueOf, result.nodesFile);
    for (const std::size_t row : boundary.rows) {
      std::array<double, 3> p = mesh.nodes[row];
      for (double &x : p) x *= scale;
      if (deformed) {
        const auto moved = movedBy.find(mesh.nodeTags[row]);
        if (moved == movedBy.end()) {
          throw nimbo_exception(result.displacementFile + " has no displacement at node " +
                                std::to_string(mesh.nodeTags[row]));
        }
        for (int d = 0; d < 3; ++d) p[d] += deformation * moved->second[d];
      }
      surface.nodes.emplace_back(p[0], p[1], p[2]);
    }
    surface.triangles = std::move(boundary.triangles);
    surfaces.push_back({boundary.path, std::move(surface)});
  }
  return surfaces;
}

std::vector<std::vector<std::vector<double>>> solvedSteps(const SolveResult &result) {
  std::vector<std::vector<std::vector<double>>> steps;
  if (!result.transient) return steps;
  const MeshData mesh = readMesh(result.meshFile);
  const std::vector<BoundaryRows> boundaries = boundariesOf(result, mesh);
  for (const TransientStep &step : result.transient->outputs) {
    const std::map<std::size_t, double> valueOf = detail::readNodeValues(step.nodesFile);
    steps.emplace_back();
    for (const BoundaryRows &boundary : boundaries)
      steps.back().push_back(valuesAt(boundary, mesh, valueOf, step.nodesFile));
  }
  return steps;
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
