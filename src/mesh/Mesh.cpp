// Meshing with Gmsh: the imprinted compound handed over in memory, its solids and faces found again
// among Gmsh's entities, physical groups named after the parts, a 3D mesh, an atomic write; and a
// mesh file read back.
#include <nimbo/mesh/Mesh.h>
#include "Gmsh.h"

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>

#include <gmsh.h>

#include <Message_ProgressScope.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace nimbo {

using detail::GmshSession;
using detail::inGmsh;
using detail::NumberedShape;

namespace {

int addGroup(int dim, const std::vector<int> &tags, const std::string &name) {
  if (tags.empty()) return 0;
  const int physical = gmsh::model::addPhysicalGroup(dim, tags);
  gmsh::model::setPhysicalName(dim, physical, name);
  return physical;
}

struct VolumeCount {
  std::size_t elements = 0;
  std::size_t nodes = 0;
  double volume = 0.0;
};

constexpr int linearTetrahedron = 4;  // Gmsh's element type

// Which nodes were counted, by tag in plain vectors (a million tetrahedra name four million corners):
// the last part that counted each, and whether any did.
struct NodeMarks {
  std::vector<std::size_t> part;
  std::vector<char> any;
  std::size_t total = 0;
};

// The elements of the volumes of part `part`, their nodes and their volume as meshed: the Jacobian
// integrated with a rule exact for the cubic determinant of a quadratic element, so that a solver
// integrating over the same elements finds the same volume.
VolumeCount countVolumes(const std::vector<int> &volumes, std::size_t part, NodeMarks &marks) {
  VolumeCount count;
  for (const int tag : volumes) {
    std::vector<int> types;
    std::vector<std::vector<std::size_t>> elements;
    std::vector<std::vector<std::size_t>> elementNodes;
    gmsh::model::mesh::getElements(types, elements, elementNodes, 3, tag);
    for (std::size_t t = 0; t < types.size(); ++t) {
      count.elements += elements[t].size();
      for (const std::size_t node : elementNodes[t]) {
        if (node >= marks.any.size()) {
          marks.any.resize(node + 1, 0);
          marks.part.resize(node + 1, static_cast<std::size_t>(-1));
        }
        if (marks.part[node] != part) {
          marks.part[node] = part;
          ++count.nodes;
        }
        if (!marks.any[node]) {
          marks.any[node] = 1;
          ++marks.total;
        }
      }
      std::vector<double> points, weights, jacobians, determinants, coordinates;
      // A linear tetrahedron's determinant is constant: one point integrates it exactly.
      gmsh::model::mesh::getIntegrationPoints(types[t], types[t] == linearTetrahedron ? "Gauss1" : "Gauss4", points,
                                              weights);
      gmsh::model::mesh::getJacobians(types[t], points, jacobians, determinants, coordinates, tag);
      for (std::size_t i = 0; i < determinants.size(); ++i) {
        count.volume += std::abs(determinants[i]) * weights[i % weights.size()];
      }
    }
  }
  return count;
}

std::size_t surfaceNodes(const std::vector<int> &faces) {
  std::set<std::size_t> nodes;
  for (const int tag : faces) {
    std::vector<std::size_t> tags;
    std::vector<double> coordinates;
    std::vector<double> parametric;
    gmsh::model::mesh::getNodes(tags, coordinates, parametric, 2, tag, true, false);
    nodes.insert(tags.begin(), tags.end());
  }
  return nodes.size();
}

MeshData meshData(double scale);

MeshSummary mesh(const Imprint &imprinted, const std::string &output, const MeshOptions &options,
                 const Message_ProgressRange &progress, GmshSession &session, double elements) {
  Message_ProgressScope scope(progress, "Meshing", 10);

  gmsh::model::add("nimbo");
  gmsh::vectorpair imported;
  gmsh::model::occ::importShapesNativePointer(&imprinted.compound, imported, false);
  gmsh::model::occ::synchronize();
  double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
  gmsh::model::getBoundingBox(-1, -1, xmin, ymin, zmin, xmax, ymax, zmax);
  const double scale = std::hypot(xmax - xmin, ymax - ymin, zmax - zmin);
  gmsh::vectorpair volumes;
  gmsh::model::getEntities(volumes, 3);
  std::size_t solids = 0;
  for (const ImprintedPart &part : imprinted.parts) solids += part.solids.size();
  if (volumes.size() != solids) {
    throw nimbo_exception("Gmsh made " + std::to_string(volumes.size()) + " volumes from the " +
                          std::to_string(solids) + " solids of the imprinted compound");
  }
  std::vector<NumberedShape> numbered;
  const auto add = [&](int dim, const std::vector<TopoDS_Shape> &shapes, const std::vector<int> &numbers) {
    for (std::size_t k = 0; k < shapes.size(); ++k) numbered.push_back({dim, numbers[k], shapes[k]});
  };
  for (const ImprintedPart &part : imprinted.parts) {
    add(3, part.solids, part.solidNumbers);
    add(2, part.boundary, part.boundaryNumbers);
  }
  for (const Interface &interface : imprinted.interfaces) add(2, interface.faces, interface.faceNumbers);
  detail::checkNumbering(numbered, scale);
  session.flush();

  std::map<std::size_t, std::string> pathOf;
  for (const ImprintedPart &part : imprinted.parts) pathOf[part.part] = part.path;
  MeshSummary summary;
  for (const ImprintedPart &part : imprinted.parts) {
    summary.parts.push_back({part.path, addGroup(3, part.solidNumbers, part.path), 0, 0, 0, 0.0});
  }
  for (const Interface &interface : imprinted.interfaces) {
    const std::string name = pathOf[interface.first] + " | " + pathOf[interface.second];
    summary.interfaces.push_back({name, addGroup(2, interface.faceNumbers, name), 0});
  }
  for (std::size_t k = 0; k < imprinted.parts.size(); ++k) {
    summary.parts[k].boundaryPhysical = addGroup(2, imprinted.parts[k].boundaryNumbers, imprinted.parts[k].path);
  }
  for (const SurfaceGroup &group : options.surfaces) {
    summary.surfaces.push_back({group.name, addGroup(2, group.faces, group.name), 0});
  }
  // Smaller sizes on chosen faces and their edges, as size fields: the smallest that applies wins.
  std::vector<double> refined;
  for (const SurfaceGroup &group : options.surfaces) {
    if (!(group.size > 0)) continue;
    gmsh::vectorpair faces, edges;
    for (const int face : group.faces) faces.emplace_back(2, face);
    gmsh::model::getBoundary(faces, edges, false, false, false);
    std::vector<double> faceTags(group.faces.begin(), group.faces.end()), edgeTags;
    for (const auto &[dim, tag] : edges) edgeTags.push_back(std::abs(tag));
    const int size = gmsh::model::mesh::field::add("MathEval");
    gmsh::model::mesh::field::setString(size, "F", std::to_string(group.size));
    const int only = gmsh::model::mesh::field::add("Restrict");
    gmsh::model::mesh::field::setNumber(only, "InField", size);
    gmsh::model::mesh::field::setNumbers(only, "FacesList", faceTags);
    gmsh::model::mesh::field::setNumbers(only, "EdgesList", edgeTags);
    refined.push_back(only);
  }
  if (!refined.empty()) {
    const int least = gmsh::model::mesh::field::add("Min");
    gmsh::model::mesh::field::setNumbers(least, "FieldsList", refined);
    gmsh::model::mesh::field::setAsBackgroundMesh(least);
  }

  if (options.size > 0) gmsh::option::setNumber("Mesh.MeshSizeMax", options.size);
  // Twelve elements around a full circle: the facets of a bolt and of its hole, a clearance apart,
  // then stay apart (coarser, the 3D mesher finds them crossing).
  gmsh::option::setNumber("Mesh.MeshSizeFromCurvature", 12);
  // The curvature of a cone grows without bound at its apex; with no smallest size Gmsh sizes the
  // elements there to nothing, leaves inverted triangles, and its fallback surface mesher then
  // crashes. Features ten thousand times smaller than the model are not resolved further.
  gmsh::option::setNumber("Mesh.MeshSizeMin", 1e-4 * scale);
  // Gmsh would quietly give a surface that its algorithm fails on to MeshAdapt, which can take minutes
  // on a large B-spline surface; the retries try the algorithms in turn and say which one worked.
  gmsh::option::setNumber("Mesh.AlgorithmSwitchOnFailure", 0);
  gmsh::option::setNumber("Mesh.MshFileVersion", options.format == MeshFormat::msh22 ? 2.2 : 4.1);
  gmsh::option::setNumber("Mesh.ScalingFactor", options.scale);
  gmsh::option::setNumber("Mesh.Binary", options.binary ? 1 : 0);
  scope.Next();
  // Where HXT's speed is worth its risk (see generateWithRetries).
  constexpr double largeFrom = 300000;
  summary.retries = detail::generateWithRetries(imprinted, session, elements >= largeFrom);
  if (scope.UserBreak()) throw nimbo_exception("Meshing stopped before it was complete");
  scope.Next(7);
  if (options.order == 2) {
    gmsh::model::mesh::setOrder(2);
    if (const std::size_t moved = detail::straightenInvertedQuadratics()) {
      summary.retries.push_back(
          "quadratic elements: " + std::to_string(moved) +
          " mid-edge nodes put back on straight edges, where curved ones turned elements inside out");
    }
  }
  // What the mesh holds is counted before it is written: a mesh without elements in some part is
  // refused, and leaves no file.
  NodeMarks marks;
  for (std::size_t k = 0; k < imprinted.parts.size(); ++k) {
    const VolumeCount count = countVolumes(imprinted.parts[k].solidNumbers, k, marks);
    if (count.elements == 0) throw nimbo_exception("Gmsh made no volume elements in " + imprinted.parts[k].path);
    MeshedPart &meshed = summary.parts[k];
    meshed.elements = count.elements;
    meshed.nodes = count.nodes;
    meshed.volume = count.volume;
    summary.elements += count.elements;
  }
  summary.nodes = marks.total;
  for (std::size_t k = 0; k < imprinted.interfaces.size(); ++k) {
    summary.interfaces[k].nodes = surfaceNodes(imprinted.interfaces[k].faceNumbers);
  }
  for (std::size_t k = 0; k < options.surfaces.size(); ++k) {
    summary.surfaces[k].nodes = surfaceNodes(options.surfaces[k].faces);
  }
  // Gmsh picks the format by the extension, which the temporary keeps.
  const auto write = [](const std::string &path) {
    if (!write_atomically(path, [](const std::string &temporary) {
          gmsh::write(temporary);
          return true;
        })) {
      throw nimbo_exception("Cannot write " + path);
    }
  };
  write(output);
  if (!options.copy.empty()) {
    gmsh::option::setNumber("Mesh.MshFileVersion", options.copyFormat == MeshFormat::msh22 ? 2.2 : 4.1);
    gmsh::option::setNumber("Mesh.ScalingFactor", options.copyScale);
    write(options.copy);
    gmsh::option::setNumber("Mesh.ScalingFactor", options.scale);
  }
  if (options.keepData) summary.data = std::make_shared<const MeshData>(meshData(options.scale));
  session.flush();
  scope.Next(2);
  return summary;
}

// The mesh held by Gmsh's model, as plain arrays, its coordinates times `scale`.
MeshData meshData(double scale) {
  MeshData data;
  std::vector<double> coordinates, parametric;
  gmsh::model::mesh::getNodes(data.nodeTags, coordinates, parametric, -1, -1, false, false);
  for (double &coordinate : coordinates) coordinate *= scale;
  // Rows by tag in a plain vector: Gmsh numbers nodes densely, and a million tetrahedra look up four
  // million corners.
  constexpr std::size_t none = static_cast<std::size_t>(-1);
  const std::size_t largest = data.nodeTags.empty() ? 0 : *std::max_element(data.nodeTags.begin(), data.nodeTags.end());
  std::vector<std::size_t> rowOf(largest + 1, none);
  data.nodes.reserve(data.nodeTags.size());
  for (std::size_t k = 0; k < data.nodeTags.size(); ++k) {
    rowOf[data.nodeTags[k]] = k;
    data.nodes.push_back({coordinates[3 * k], coordinates[3 * k + 1], coordinates[3 * k + 2]});
  }
  const auto rowOfTag = [&](std::size_t tag) {
    if (tag >= rowOf.size() || rowOf[tag] == none) throw nimbo_exception("the mesh has no node " + std::to_string(tag));
    return rowOf[tag];
  };
  gmsh::vectorpair groups;
  gmsh::model::getPhysicalGroups(groups);
  for (const auto &[dim, tag] : groups) {
    if (dim != 2 && dim != 3) continue;
    std::string name;
    gmsh::model::getPhysicalName(dim, tag, name);
    if (name.empty()) name = std::to_string(tag);
    std::vector<int> entities;
    gmsh::model::getEntitiesForPhysicalGroup(dim, tag, entities);
    std::vector<std::size_t> *const volume = dim == 3 ? &data.volumes[name] : nullptr;
    for (const int entity : entities) {
      std::vector<int> types;
      std::vector<std::vector<std::size_t>> elements, elementNodes;
      gmsh::model::mesh::getElements(types, elements, elementNodes, dim, entity);
      for (std::size_t t = 0; t < types.size(); ++t) {
        const std::size_t per = elementNodes[t].size() / std::max<std::size_t>(elements[t].size(), 1);
        for (std::size_t e = 0; e < elements[t].size(); ++e) {
          const std::size_t *corner = &elementNodes[t][e * per];
          const auto row = [&](int k) { return rowOfTag(corner[k]); };
          if (dim == 3 && per >= 4) {
            volume->push_back(data.tetrahedra.size());
            data.tetrahedra.push_back({row(0), row(1), row(2), row(3)});
            if (per == 10) data.tetrahedronEdges.push_back({row(4), row(5), row(6), row(7), row(8), row(9)});
          } else if (dim == 2 && per >= 3) {
            data.surfaces[name].push_back({row(0), row(1), row(2)});
            if (per == 6) data.surfaceEdges[name].push_back({row(3), row(4), row(5)});
          }
        }
      }
    }
  }
  return data;
}

}  // namespace

const char *toString(MeshFormat format) { return format == MeshFormat::msh22 ? "msh2" : "msh4"; }

std::optional<MeshFormat> meshFormatNamed(const std::string &name) {
  for (const MeshFormat format : {MeshFormat::msh41, MeshFormat::msh22}) {
    if (name == toString(format)) return format;
  }
  return std::nullopt;
}

MeshSummary meshAssembly(const Imprint &imprinted, const std::string &output, const MeshOptions &options,
                         const Message_ProgressRange &progress) {
  if (options.order != 1 && options.order != 2) {
    throw input_error("Element order must be 1 or 2, not " + std::to_string(options.order));
  }
  if (imprinted.compound.IsNull() || imprinted.parts.empty()) throw input_error("Nothing to mesh: no solid part");
  if (!(options.scale > 0) || !std::isfinite(options.scale)) {
    throw input_error("The mesh's scale must be a positive number, not " + std::to_string(options.scale));
  }
  TopTools_IndexedMapOfShape faces;
  TopExp::MapShapes(imprinted.compound, TopAbs_FACE, faces);
  for (const SurfaceGroup &group : options.surfaces) {
    if (group.faces.empty()) throw input_error("The surface group \"" + group.name + "\" holds no face");
    for (const int face : group.faces) {
      // Numbers come from an imprint, so one out of range is the caller's slip, not a typo.
      if (face < 1 || face > faces.Extent()) {
        throw nimbo_exception("The surface group \"" + group.name + "\" names face " + std::to_string(face) +
                              ", which the imprinted compound does not have (it has " + std::to_string(faces.Extent()) +
                              ")");
      }
    }
  }
  const double elements = checkElementCount(imprinted, options);
  GmshSession session(options.verbose);
  return inGmsh(session, "", [&] { return mesh(imprinted, output, options, progress, session, elements); });
}

MeshData readMesh(const std::string &path) {
  if (!std::filesystem::is_regular_file(path)) throw input_error("Cannot read the mesh " + path + ": no such file");
  GmshSession session(false);
  return inGmsh(session, "Cannot read the mesh " + path, [&] {
    try {
      gmsh::open(path);
    } catch (const std::string &message) {
      throw nimbo_exception("Cannot read the mesh " + path + ": " + message);
    }
    return meshData(1.0);
  });
}

}  // namespace nimbo
