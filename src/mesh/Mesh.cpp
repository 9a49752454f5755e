// Meshing with Gmsh: the imprinted compound handed over in memory, its solids and faces found again
// among Gmsh's entities, physical groups named after the parts, a 3D mesh, an atomic write.
#include <nimbo/mesh/Mesh.h>

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>

#include <gmsh.h>

#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Message_ProgressScope.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <set>

namespace nimbo {
namespace {

// One Gmsh session: Gmsh keeps its model in the process, so each call starts and ends its own.
class GmshSession {
 public:
  explicit GmshSession(bool verbose) : verbose_(verbose) {
    gmsh::initialize(0, nullptr, false);  // no user configuration files: the same mesh everywhere
    gmsh::option::setNumber("General.Terminal", 0);
    gmsh::logger::start();
  }
  ~GmshSession() {
    flush();
    gmsh::logger::stop();
    gmsh::finalize();
  }
  GmshSession(const GmshSession &) = delete;
  GmshSession &operator=(const GmshSession &) = delete;

  /// Gmsh's messages so far, to standard error when verbose.
  void flush() {
    std::vector<std::string> log;
    gmsh::logger::get(log);
    if (verbose_) {
      for (const std::string &line : log) std::cerr << "gmsh: " << line << '\n';
    }
    errors_.clear();
    failedSurfaces_.clear();
    bool summary = false;  // Gmsh closes a failed mesh with a summary, itself in error lines
    int surface = 0;       // the one Gmsh is meshing, which its errors do not always name
    for (const std::string &line : log) {
      const std::size_t meshing = line.find("Meshing surface ");
      if (meshing != std::string::npos && line.rfind("Info", 0) == 0) surface = std::atoi(line.c_str() + meshing + 16);
      if (line.find("Meshing 3D") != std::string::npos) surface = 0;
      if (line.rfind("Error", 0) != 0) continue;
      if (surface > 0 && !summary) failedSurfaces_.insert(surface);
      const std::size_t colon = line.find(": ");
      const std::string text = colon == std::string::npos ? line : line.substr(colon + 2);
      if (text.find("Mesh generation error summary") != std::string::npos) summary = true;
      if (summary || text.rfind("---", 0) == 0) continue;
      errors_.push_back(text);
    }
    // Gmsh keeps its log until asked; start afresh.
    gmsh::logger::stop();
    gmsh::logger::start();
  }
  /// The error lines of the messages last flushed, without Gmsh's closing summary.
  const std::vector<std::string> &errors() const { return errors_; }
  /// The first of them, which caused the others; empty when there was none.
  std::string error() const { return errors_.empty() ? std::string() : errors_.front(); }
  /// The surfaces Gmsh logged an error while meshing, in the messages last flushed.
  const std::set<int> &failedSurfaces() const { return failedSurfaces_; }

 private:
  bool verbose_;
  std::vector<std::string> errors_;
  std::set<int> failedSurfaces_;
};

gp_Pnt centerOf(const TopoDS_Shape &shape, int dim) {
  GProp_GProps properties;
  if (dim == 3) {
    BRepGProp::VolumeProperties(shape, properties);
  } else {
    BRepGProp::SurfaceProperties(shape, properties);
  }
  return properties.CentreOfMass();
}

// Gmsh numbers what it imports in the order it meets it, which for a compound is the imprint's
// numbering. Checked, so that a name is never put on the wrong region: each entity's box against
// its shape's (both the kernel's box of one shape, which Gmsh keeps at hand), and where two shapes
// of the compound have the same box, which boxes cannot tell apart, their centres of mass too.
struct NumberedShape {
  int dim;
  int number;
  TopoDS_Shape shape;
};

void checkNumbering(const std::vector<NumberedShape> &numbered, double scale) {
  const auto fail = [] {
    throw nimbo_exception(
        "Gmsh numbered the imported shapes in another order than the compound's, so the regions cannot be named");
  };
  const double tolerance = 1e-6 * scale;
  std::vector<Bnd_Box> boxes(numbered.size());
  for (std::size_t k = 0; k < numbered.size(); ++k) {
    BRepBndLib::Add(numbered[k].shape, boxes[k]);
    double x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0;
    gmsh::model::getBoundingBox(numbered[k].dim, numbered[k].number, x0, y0, z0, x1, y1, z1);
    if (boxes[k].CornerMin().Distance(gp_Pnt(x0, y0, z0)) > tolerance ||
        boxes[k].CornerMax().Distance(gp_Pnt(x1, y1, z1)) > tolerance) {
      fail();
    }
  }
  // Shapes whose boxes' lower corners lie within the tolerance, found by sorting along x.
  std::vector<std::size_t> order(numbered.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return boxes[a].CornerMin().X() < boxes[b].CornerMin().X(); });
  std::vector<bool> alike(numbered.size(), false);
  for (std::size_t i = 0; i < order.size(); ++i) {
    for (std::size_t j = i + 1; j < order.size(); ++j) {
      const Bnd_Box &a = boxes[order[i]];
      const Bnd_Box &b = boxes[order[j]];
      if (b.CornerMin().X() - a.CornerMin().X() > tolerance) break;
      if (numbered[order[i]].dim == numbered[order[j]].dim && a.CornerMin().Distance(b.CornerMin()) <= tolerance &&
          a.CornerMax().Distance(b.CornerMax()) <= tolerance) {
        alike[order[i]] = alike[order[j]] = true;
      }
    }
  }
  for (std::size_t k = 0; k < numbered.size(); ++k) {
    if (!alike[k]) continue;
    double x = 0, y = 0, z = 0;
    gmsh::model::occ::getCenterOfMass(numbered[k].dim, numbered[k].number, x, y, z);
    if (centerOf(numbered[k].shape, numbered[k].dim).Distance(gp_Pnt(x, y, z)) > tolerance) fail();
  }
}

int addGroup(int dim, const std::vector<int> &tags, const std::string &name) {
  if (tags.empty()) return 0;
  const int physical = gmsh::model::addPhysicalGroup(dim, tags);
  gmsh::model::setPhysicalName(dim, physical, name);
  return physical;
}

struct VolumeCount {
  std::size_t elements = 0;
  double volume = 0.0;
};

constexpr int linearTetrahedron = 4;  // Gmsh's element type

// The elements of the volumes and their volume as meshed: the Jacobian integrated with a rule exact
// for the cubic determinant of a quadratic element, so that a solver integrating over the same
// elements finds the same volume.
VolumeCount countVolumes(const std::vector<int> &volumes, std::set<std::size_t> &nodes) {
  VolumeCount count;
  for (const int tag : volumes) {
    std::vector<int> types;
    std::vector<std::vector<std::size_t>> elements;
    std::vector<std::vector<std::size_t>> elementNodes;
    gmsh::model::mesh::getElements(types, elements, elementNodes, 3, tag);
    for (std::size_t t = 0; t < types.size(); ++t) {
      count.elements += elements[t].size();
      nodes.insert(elementNodes[t].begin(), elementNodes[t].end());
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

struct Algorithm {
  int number;  // Gmsh's
  const char *name;
};

// Gmsh's default first, which the first try uses, then the others in the order a failing surface
// is given them. Algorithm 3D 4 (Frontal) needs Netgen, which Debian's Gmsh lacks.
constexpr Algorithm surfaceAlgorithms[] = {{6, "Frontal-Delaunay"}, {5, "Delaunay"}, {1, "MeshAdapt"}};
constexpr Algorithm volumeAlgorithms[] = {{1, "Delaunay"}, {10, "HXT"}};
constexpr std::size_t surfaceAlgorithmCount = std::size(surfaceAlgorithms);
constexpr std::size_t volumeAlgorithmCount = std::size(volumeAlgorithms);

// "A, B and C".
std::string listed(const std::vector<std::string> &names) {
  std::string text;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) text += k + 1 == names.size() ? " and " : ", ";
    text += names[k];
  }
  return text;
}

template <typename Algorithms>
std::string namesOf(const Algorithms &algorithms, std::size_t count) {
  std::vector<std::string> names;
  for (std::size_t k = 0; k < count; ++k) names.push_back(algorithms[k].name);
  return listed(names);
}

bool hasElements(int dim, int tag) {
  std::vector<int> types;
  std::vector<std::vector<std::size_t>> elements, nodes;
  gmsh::model::mesh::getElements(types, elements, nodes, dim, tag);
  return std::any_of(elements.begin(), elements.end(), [](const auto &e) { return !e.empty(); });
}

std::vector<int> unmeshed(const gmsh::vectorpair &entities) {
  std::vector<int> tags;
  for (const auto &[dim, tag] : entities) {
    if (!hasElements(dim, tag)) tags.push_back(tag);
  }
  return tags;
}

// One of Gmsh's meshing steps; its first error, or empty. Gmsh is kept from throwing at an error: a
// throw leaves its mesher locked, and every later step of the session would do nothing. It then logs
// the error and carries on, which also lets one pass find every surface it cannot mesh.
std::string generate(int dim, GmshSession &session) {
  std::string thrown;
  gmsh::option::setNumber("General.AbortOnError", 0);
  try {
    gmsh::model::mesh::generate(dim);
  } catch (const std::string &message) {
    thrown = message;
  }
  gmsh::option::setNumber("General.AbortOnError", 2);
  session.flush();
  return thrown.empty() ? session.error() : thrown;
}

// The parts of the imprint, for naming the faces and volumes that Gmsh cannot mesh.
class Owners {
 public:
  explicit Owners(const Imprint &imprinted) {
    for (const ImprintedPart &part : imprinted.parts) {
      for (const int number : part.solidNumbers) pathOf_[number] = part.path;
    }
  }
  /// "face 37 of a/b", or "face 37 between a/b and c" for an interface.
  std::string face(int tag) const {
    std::vector<int> up, down;
    gmsh::model::getAdjacencies(2, tag, up, down);
    return "face " + std::to_string(tag) +
           (up.empty() ? std::string() : (up.size() == 1 ? " of " : " between ") + parts(up));
  }
  std::string parts(const std::vector<int> &volumes) const {
    std::vector<std::string> paths;
    for (const int volume : volumes) {
      const auto found = pathOf_.find(volume);
      const std::string path = found == pathOf_.end() ? "volume " + std::to_string(volume) : found->second;
      if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    }
    return listed(paths);
  }

 private:
  std::map<int, std::string> pathOf_;
};

// Meshes the surface alone with the algorithms from `next` on until one gives it triangles without
// an error; notes a success after a failure in `retries`, and throws, naming the face and its part,
// when none does. Meshing one surface at a time keeps the others' meshes, and so the curves' nodes
// they share. Returns the position of the algorithm that worked.
std::size_t meshSurface(int tag, std::size_t next, const std::string &firstError, const gmsh::vectorpair &surfaces,
                        const Owners &owners, GmshSession &session, std::vector<std::string> &retries) {
  std::string error = firstError;
  gmsh::option::setNumber("Mesh.MeshOnlyVisible", 1);
  gmsh::model::setVisibility(surfaces, 0);
  for (std::size_t k = next; k < surfaceAlgorithmCount; ++k) {
    gmsh::model::mesh::setAlgorithm(2, tag, surfaceAlgorithms[k].number);
    gmsh::model::setVisibility({{2, tag}}, 1);
    std::string failure = generate(2, session);
    if (failure.empty() && !hasElements(2, tag)) failure = "it made no triangles";
    gmsh::model::setVisibility({{2, tag}}, 0);
    if (failure.empty()) {
      gmsh::model::setVisibility(surfaces, 1);
      gmsh::option::setNumber("Mesh.MeshOnlyVisible", 0);
      if (k > 0) {
        retries.push_back(owners.face(tag) + ": " + surfaceAlgorithms[k].name + " after " +
                          namesOf(surfaceAlgorithms, k) + " failed");
      }
      return k;
    }
    if (error.empty()) error = failure;
  }
  throw nimbo_exception("Gmsh could not mesh " + owners.face(tag) + " (surface algorithms tried: " +
                        namesOf(surfaceAlgorithms, surfaceAlgorithmCount) + "): " + error);
}

// Of a pass's errors, the first that names the surface, else the first.
std::string errorAbout(int tag, const std::vector<std::string> &errors) {
  const std::string name = "surface " + std::to_string(tag);
  for (const std::string &error : errors) {
    const std::size_t at = error.find(name);
    if (at != std::string::npos && !std::isdigit(static_cast<unsigned char>(error[at + name.size()]))) return error;
  }
  return errors.empty() ? std::string() : errors.front();
}

// The surfaces a failed 3D mesh blames: those Gmsh marks, and those its errors name (as in
// "Invalid boundary mesh (overlapping facets) on surface 5 surface 6").
std::set<int> blamedSurfaces(const std::vector<std::string> &errors) {
  std::set<int> tags;
  gmsh::vectorpair marked;
  gmsh::model::mesh::getLastEntityError(marked);
  for (const auto &[dim, tag] : marked) {
    if (dim == 2) tags.insert(tag);
  }
  for (const std::string &error : errors) {
    for (std::size_t at = error.find("surface "); at != std::string::npos; at = error.find("surface ", at + 1)) {
      const char *digits = error.c_str() + at + 8;
      if (std::isdigit(static_cast<unsigned char>(*digits))) tags.insert(std::atoi(digits));
    }
  }
  return tags;
}

// Meshes the model in 3D as Gmsh does by default; when that fails, meshes again only what failed:
// the surfaces left without triangles, each alone with Gmsh's other 2D algorithms, then the volumes,
// whose failure is first blamed on the surfaces it names and then on the 3D algorithm. Each surface
// and the volumes go through each algorithm at most once, so a hopeless case ends. Returns what was
// retried and worked; throws naming the face or the parts that no algorithm meshed.
std::vector<std::string> generateWithRetries(const Imprint &imprinted, GmshSession &session) {
  const std::string firstError = generate(3, session);
  std::vector<std::string> errors = session.errors();
  gmsh::vectorpair surfaces, volumes;
  gmsh::model::getEntities(surfaces, 2);
  gmsh::model::getEntities(volumes, 3);
  // The surfaces left without triangles, and those whose meshing logged an error, whatever it left.
  std::vector<int> failedSurfaces = unmeshed(surfaces);
  failedSurfaces.insert(failedSurfaces.end(), session.failedSurfaces().begin(), session.failedSurfaces().end());
  std::sort(failedSurfaces.begin(), failedSurfaces.end());
  failedSurfaces.erase(std::unique(failedSurfaces.begin(), failedSurfaces.end()), failedSurfaces.end());
  if (firstError.empty() && failedSurfaces.empty() && unmeshed(volumes).empty()) return {};

  const Owners owners(imprinted);
  std::vector<std::string> retries;
  std::map<int, std::size_t> algorithmOf;  // of the surfaces meshed again, the position of the one that worked
  gmsh::model::mesh::clear(volumes);
  // Gmsh went on past the surfaces it could not mesh: each is meshed again with the next algorithms.
  for (const int tag : failedSurfaces) {
    gmsh::model::mesh::clear({{2, tag}});
    algorithmOf[tag] = meshSurface(tag, 1, errorAbout(tag, errors), surfaces, owners, session, retries);
  }
  std::size_t volumeAlgorithm = 0;
  std::string volumeError = firstError;
  // The first try's 3D mesh is only worth repeating on surfaces meshed anew.
  bool again = !failedSurfaces.empty();
  // A surface model that crosses itself has Gmsh blame one surface after another, each remeshed
  // with every algorithm: after a few rounds the 3D algorithm is changed instead, so that it ends.
  constexpr int remeshRounds = 4;
  int rounds = 0;
  while (true) {
    if (again) {
      gmsh::option::setNumber("Mesh.Algorithm3D", volumeAlgorithms[volumeAlgorithm].number);
      gmsh::model::mesh::clear(volumes);
      // Only the volumes: Gmsh would otherwise mesh every surface again, the slow ones included.
      gmsh::option::setNumber("Mesh.MeshOnlyVisible", 1);
      gmsh::model::setVisibility(surfaces, 0);
      gmsh::model::setVisibility(volumes, 1);
      volumeError = generate(3, session);
      gmsh::model::setVisibility(surfaces, 1);
      gmsh::option::setNumber("Mesh.MeshOnlyVisible", 0);
      errors = session.errors();
      if (volumeError.empty()) {
        const std::vector<int> empty = unmeshed(volumes);
        if (empty.empty()) break;
        volumeError = "no volume elements in " + owners.parts(empty);
      }
    }
    again = true;
    std::vector<int> remesh;
    for (const int tag : blamedSurfaces(errors)) {
      const auto found = algorithmOf.find(tag);
      if (hasElements(2, tag) && (found == algorithmOf.end() || found->second + 1 < surfaceAlgorithmCount)) {
        remesh.push_back(tag);
      }
    }
    if (!remesh.empty() && rounds++ < remeshRounds) {
      gmsh::model::mesh::clear(volumes);
      for (const int tag : remesh) {
        const auto found = algorithmOf.find(tag);
        const std::size_t next = found == algorithmOf.end() ? 1 : found->second + 1;
        gmsh::model::mesh::clear({{2, tag}});
        algorithmOf[tag] = meshSurface(tag, next, volumeError, surfaces, owners, session, retries);
      }
    } else if (++volumeAlgorithm == volumeAlgorithmCount) {
      gmsh::vectorpair marked;
      gmsh::model::mesh::getLastEntityError(marked);
      std::vector<int> failed;
      for (const auto &[dim, tag] : marked) {
        if (dim == 3) failed.push_back(tag);
      }
      if (failed.empty()) failed = unmeshed(volumes);
      if (failed.empty()) {
        for (const auto &[dim, tag] : volumes) failed.push_back(tag);
      }
      throw nimbo_exception("Gmsh could not mesh the volume of " + owners.parts(failed) +
                            " (volume algorithms tried: " + namesOf(volumeAlgorithms, volumeAlgorithmCount) +
                            "): " + volumeError + " (a smaller element size often helps)");
    }
  }
  gmsh::option::setNumber("Mesh.Algorithm3D", volumeAlgorithms[0].number);
  if (volumeAlgorithm > 0) {
    retries.push_back("volumes: " + std::string(volumeAlgorithms[volumeAlgorithm].name) + " after " +
                      namesOf(volumeAlgorithms, volumeAlgorithm) + " failed");
  }
  return retries;
}

MeshSummary mesh(const Imprint &imprinted, const std::string &output, const MeshOptions &options,
                 const Message_ProgressRange &progress, GmshSession &session) {
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
  checkNumbering(numbered, scale);
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
  scope.Next();
  summary.retries = generateWithRetries(imprinted, session);
  if (scope.UserBreak()) throw nimbo_exception("Meshing stopped before it was complete");
  scope.Next(7);
  if (options.order == 2) gmsh::model::mesh::setOrder(2);
  // What the mesh holds is counted before it is written: a mesh without elements in some part is
  // refused, and leaves no file.
  std::set<std::size_t> all;
  for (std::size_t k = 0; k < imprinted.parts.size(); ++k) {
    std::set<std::size_t> nodes;
    const VolumeCount count = countVolumes(imprinted.parts[k].solidNumbers, nodes);
    if (count.elements == 0) throw nimbo_exception("Gmsh made no volume elements in " + imprinted.parts[k].path);
    MeshedPart &meshed = summary.parts[k];
    meshed.elements = count.elements;
    meshed.nodes = nodes.size();
    meshed.volume = count.volume;
    summary.elements += count.elements;
    all.insert(nodes.begin(), nodes.end());
  }
  summary.nodes = all.size();
  for (std::size_t k = 0; k < imprinted.interfaces.size(); ++k) {
    summary.interfaces[k].nodes = surfaceNodes(imprinted.interfaces[k].faceNumbers);
  }
  for (std::size_t k = 0; k < options.surfaces.size(); ++k) {
    summary.surfaces[k].nodes = surfaceNodes(options.surfaces[k].faces);
  }
  // Gmsh picks the format by the extension, which the temporary keeps.
  if (!write_atomically(output, [](const std::string &temporary) {
        gmsh::write(temporary);
        return true;
      })) {
    throw nimbo_exception("Cannot write " + output);
  }
  session.flush();
  scope.Next(2);
  return summary;
}

// The mesh held by Gmsh's model, as plain arrays: corner nodes only, which every element order has first.
MeshData meshData() {
  MeshData data;
  std::vector<double> coordinates, parametric;
  gmsh::model::mesh::getNodes(data.nodeTags, coordinates, parametric, -1, -1, false, false);
  std::map<std::size_t, std::size_t> rowOf;
  for (std::size_t k = 0; k < data.nodeTags.size(); ++k) {
    rowOf[data.nodeTags[k]] = k;
    data.nodes.push_back({coordinates[3 * k], coordinates[3 * k + 1], coordinates[3 * k + 2]});
  }
  gmsh::vectorpair groups;
  gmsh::model::getPhysicalGroups(groups);
  for (const auto &[dim, tag] : groups) {
    if (dim != 2 && dim != 3) continue;
    std::string name;
    gmsh::model::getPhysicalName(dim, tag, name);
    if (name.empty()) name = std::to_string(tag);
    std::vector<int> entities;
    gmsh::model::getEntitiesForPhysicalGroup(dim, tag, entities);
    for (const int entity : entities) {
      std::vector<int> types;
      std::vector<std::vector<std::size_t>> elements, elementNodes;
      gmsh::model::mesh::getElements(types, elements, elementNodes, dim, entity);
      for (std::size_t t = 0; t < types.size(); ++t) {
        const std::size_t per = elementNodes[t].size() / std::max<std::size_t>(elements[t].size(), 1);
        for (std::size_t e = 0; e < elements[t].size(); ++e) {
          const std::size_t *corner = &elementNodes[t][e * per];
          if (dim == 3 && per >= 4) {
            data.volumes[name].push_back(data.tetrahedra.size());
            data.tetrahedra.push_back(
                {rowOf.at(corner[0]), rowOf.at(corner[1]), rowOf.at(corner[2]), rowOf.at(corner[3])});
          } else if (dim == 2 && per >= 3) {
            data.surfaces[name].push_back({rowOf.at(corner[0]), rowOf.at(corner[1]), rowOf.at(corner[2])});
          }
        }
      }
    }
  }
  return data;
}

// Runs `work` on Gmsh's model. With "General.AbortOnError" at its API default, Gmsh reports a
// failure by throwing its message; each kind becomes a nimbo_exception led by `what`.
template <typename Work>
auto inGmsh(GmshSession &session, const std::string &what, Work work) -> decltype(work()) {
  const std::string lead = what.empty() ? "Gmsh failed" : what;
  try {
    return work();
  } catch (const nimbo_exception &) {
    throw;
  } catch (const std::string &message) {
    throw nimbo_exception(lead + ": " + message);
  } catch (const std::exception &error) {
    throw nimbo_exception(lead + ": " + error.what());
  } catch (...) {
    session.flush();
    throw nimbo_exception(lead + (session.error().empty() ? std::string() : ": " + session.error()));
  }
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
    throw nimbo_exception("Element order must be 1 or 2, not " + std::to_string(options.order));
  }
  if (imprinted.compound.IsNull() || imprinted.parts.empty()) throw nimbo_exception("Nothing to mesh: no solid part");
  if (!(options.scale > 0) || !std::isfinite(options.scale)) {
    throw nimbo_exception("The mesh's scale must be a positive number, not " + std::to_string(options.scale));
  }
  TopTools_IndexedMapOfShape faces;
  TopExp::MapShapes(imprinted.compound, TopAbs_FACE, faces);
  for (const SurfaceGroup &group : options.surfaces) {
    if (group.faces.empty()) throw nimbo_exception("The surface group \"" + group.name + "\" holds no face");
    for (const int face : group.faces) {
      if (face < 1 || face > faces.Extent()) {
        throw nimbo_exception("The surface group \"" + group.name + "\" names face " + std::to_string(face) +
                              ", which the imprinted compound does not have (it has " + std::to_string(faces.Extent()) +
                              ")");
      }
    }
  }
  GmshSession session(options.verbose);
  return inGmsh(session, "", [&] { return mesh(imprinted, output, options, progress, session); });
}

MeshData readMesh(const std::string &path) {
  if (!std::filesystem::is_regular_file(path)) throw nimbo_exception("Cannot read the mesh " + path + ": no such file");
  GmshSession session(false);
  return inGmsh(session, "Cannot read the mesh " + path, [&] {
    try {
      gmsh::open(path);
    } catch (const std::string &message) {
      throw nimbo_exception("Cannot read the mesh " + path + ": " + message);
    }
    return meshData();
  });
}

}  // namespace nimbo
