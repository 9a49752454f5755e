// What GetDP leaves behind, read back: its figures, and the field at the nodes drawn on each part's
// boundary.
#include "Problem.h"
#include "../Fields.h"

#include <nimbo/mesh/Mesh.h>
#include <nimbo/nimbo_exception.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>

namespace nimbo {
namespace detail {

std::map<std::string, double> readFigures(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw nimbo_exception("GetDP wrote no figures (" + path + " is missing)");
  std::map<std::string, double> figures;
  std::string label, line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    double time = 0, value = 0;
    char extra = 0;
    if (!label.empty() && std::sscanf(line.c_str(), "%lf %lf %c", &time, &value, &extra) == 2) {
      figures[label] = value;
      label.clear();
    } else {
      label = line;
    }
  }
  return figures;
}

}  // namespace detail

std::vector<PartSurface> solvedPartSurfaces(const SolveResult &result) {
  const MeshData mesh = readMesh(result.meshFile);
  const std::map<std::size_t, double> valueOf = detail::readNodeValues(result.nodesFile);
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
          const std::array<double, 3> &p = mesh.nodes[triangle[c]];
          const auto found = valueOf.find(mesh.nodeTags[triangle[c]]);
          if (found == valueOf.end()) {
            throw nimbo_exception(result.nodesFile + " has no value at node " +
                                  std::to_string(mesh.nodeTags[triangle[c]]));
          }
          surface.nodes.emplace_back(p[0] * scale, p[1] * scale, p[2] * scale);
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

FieldSurface solvedSurface(const SolveResult &result) {
  FieldSurface all;
  for (const PartSurface &part : solvedPartSurfaces(result)) {
    const std::size_t offset = all.nodes.size();
    all.nodes.insert(all.nodes.end(), part.surface.nodes.begin(), part.surface.nodes.end());
    all.values.insert(all.values.end(), part.surface.values.begin(), part.surface.values.end());
    for (const auto &t : part.surface.triangles) all.triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
  }
  return all;
}

}  // namespace nimbo
