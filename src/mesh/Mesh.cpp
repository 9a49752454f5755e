// Meshing with Gmsh: the imprinted compound handed over in memory, its solids and faces found again
// among Gmsh's entities, physical groups named after the parts, a 3D mesh, an atomic write.
#include <nimbo/mesh/Mesh.h>

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>

#include <gmsh.h>

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <Message_ProgressScope.hxx>

#include <algorithm>
#include <cmath>
#include <iostream>
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
    lastError_.clear();
    for (const std::string &line : log) {
      if (line.rfind("Error", 0) == 0) lastError_ = line;
    }
    // Gmsh keeps its log until asked; start afresh.
    gmsh::logger::stop();
    gmsh::logger::start();
  }
  const std::string &lastError() const { return lastError_; }

 private:
  bool verbose_;
  std::string lastError_;
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
// numbering; checked by the centres of mass, so that a name is never put on the wrong region.
void checkNumbering(const std::vector<TopoDS_Shape> &shapes, const std::vector<int> &numbers, int dim, double scale) {
  for (std::size_t k = 0; k < shapes.size(); ++k) {
    double x = 0, y = 0, z = 0;
    gmsh::model::occ::getCenterOfMass(dim, numbers[k], x, y, z);
    if (centerOf(shapes[k], dim).Distance(gp_Pnt(x, y, z)) > 1e-6 * scale) {
      throw nimbo_exception(
          "Gmsh numbered the imported shapes in another order than the compound's, so "
          "the regions cannot be named");
    }
  }
}

void addGroup(int dim, const std::vector<int> &tags, const std::string &name) {
  if (tags.empty()) return;
  gmsh::model::setPhysicalName(dim, gmsh::model::addPhysicalGroup(dim, tags), name);
}

std::size_t volumeElements(const std::vector<int> &volumes, std::set<std::size_t> &nodes) {
  std::size_t count = 0;
  for (const int tag : volumes) {
    std::vector<int> types;
    std::vector<std::vector<std::size_t>> elements;
    std::vector<std::vector<std::size_t>> elementNodes;
    gmsh::model::mesh::getElements(types, elements, elementNodes, 3, tag);
    for (std::size_t t = 0; t < types.size(); ++t) {
      count += elements[t].size();
      nodes.insert(elementNodes[t].begin(), elementNodes[t].end());
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
  for (const ImprintedPart &part : imprinted.parts) {
    checkNumbering(part.solids, part.solidNumbers, 3, scale);
    checkNumbering(part.boundary, part.boundaryNumbers, 2, scale);
  }
  for (const Interface &interface : imprinted.interfaces)
    checkNumbering(interface.faces, interface.faceNumbers, 2, scale);
  session.flush();

  std::map<std::size_t, std::string> pathOf;
  for (const ImprintedPart &part : imprinted.parts) pathOf[part.part] = part.path;
  for (const ImprintedPart &part : imprinted.parts) addGroup(3, part.solidNumbers, part.path);
  for (const Interface &interface : imprinted.interfaces) {
    addGroup(2, interface.faceNumbers, pathOf[interface.first] + " | " + pathOf[interface.second]);
  }
  for (const ImprintedPart &part : imprinted.parts) addGroup(2, part.boundaryNumbers, part.path);

  if (options.size > 0) gmsh::option::setNumber("Mesh.MeshSizeMax", options.size);
  // Twelve elements around a full circle: the facets of a bolt and of its hole, a clearance apart,
  // then stay apart (coarser, the 3D mesher finds them crossing).
  gmsh::option::setNumber("Mesh.MeshSizeFromCurvature", 12);
  gmsh::option::setNumber("Mesh.MshFileVersion", 4.1);
  scope.Next();
  try {
    gmsh::model::mesh::generate(3);
  } catch (const std::string &message) {
    throw nimbo_exception("Gmsh could not mesh the parts in 3D: " + message + " (a smaller element size often helps)");
  }
  session.flush();
  if (scope.UserBreak()) throw nimbo_exception("Meshing stopped before it was complete");
  scope.Next(7);
  if (options.order == 2) gmsh::model::mesh::setOrder(2);
  // What the mesh holds is counted before it is written: a mesh without elements in some part is
  // refused, and leaves no file.
  MeshSummary summary;
  std::set<std::size_t> all;
  for (const ImprintedPart &part : imprinted.parts) {
    std::set<std::size_t> nodes;
    const std::size_t elements = volumeElements(part.solidNumbers, nodes);
    if (elements == 0) throw nimbo_exception("Gmsh made no volume elements in " + part.path);
    summary.parts.push_back({part.path, elements, nodes.size()});
    summary.elements += elements;
    all.insert(nodes.begin(), nodes.end());
  }
  summary.nodes = all.size();
  for (const Interface &interface : imprinted.interfaces) {
    summary.interfaces.push_back(
        {pathOf[interface.first] + " | " + pathOf[interface.second], surfaceNodes(interface.faceNumbers)});
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

}  // namespace

MeshSummary meshAssembly(const Imprint &imprinted, const std::string &output, const MeshOptions &options,
                         const Message_ProgressRange &progress) {
  if (options.order != 1 && options.order != 2) {
    throw nimbo_exception("Element order must be 1 or 2, not " + std::to_string(options.order));
  }
  if (imprinted.compound.IsNull() || imprinted.parts.empty()) throw nimbo_exception("Nothing to mesh: no solid part");
  GmshSession session(options.verbose);
  // With "General.AbortOnError" at its API default, Gmsh reports a failure by throwing its message.
  try {
    return mesh(imprinted, output, options, progress, session);
  } catch (const nimbo_exception &) {
    throw;
  } catch (const std::string &message) {
    throw nimbo_exception("Gmsh failed: " + message);
  } catch (const std::exception &error) {
    throw nimbo_exception(std::string("Gmsh failed: ") + error.what());
  } catch (...) {
    session.flush();
    throw nimbo_exception("Gmsh failed" + (session.lastError().empty() ? std::string() : ": " + session.lastError()));
  }
}

}  // namespace nimbo
