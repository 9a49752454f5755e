// Results as a VTK unstructured grid (.vtu), which ParaView, pyvista and meshio open: the mesh's
// tetrahedra with fields at the points and the part number on the cells.
#pragma once

#include <nimbo/mesh/Mesh.h>

#include <string>
#include <utility>
#include <vector>

namespace nimbo::detail {

/// A named array of `components` values per point or per cell.
struct VtuArray {
  std::string name;
  int components = 1;
  std::vector<double> values;  ///< points (or cells) times components, row by row
};

/// Writes the tetrahedra of `mesh` (quadratic ones when it has mid-edge nodes), their points in mm
/// (the mesh's coordinates times `scale`), the point arrays, and as cell data the part number of each
/// tetrahedron ("part", from 1 in the order of `parts`, which names the mesh's physical volumes).
/// Beside it, "<stem>.json" gives the numbering: {"parts": [path of part 1, ...]}. Point arrays are
/// in the order of mesh.nodes. Written as base64 binary, complete or not at all (a temporary file renamed).
/// Throws nimbo_exception naming the file when it cannot be written, or an array of the wrong size.
void writeVtu(const std::string &path, const MeshData &mesh, double scale, const std::vector<std::string> &parts,
              const std::vector<VtuArray> &pointData);

/// Writes a collection (.pvd) of grids in time, which ParaView plays as a series: (time in s, the
/// grid's file relative to the collection) in order. Throws nimbo_exception when it cannot be written.
void writePvd(const std::string &path, const std::vector<std::pair<double, std::string>> &grids);

}  // namespace nimbo::detail
