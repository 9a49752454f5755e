// The retries of the 3D mesh: surfaces Gmsh could not mesh are meshed again alone with its other 2D
// algorithms, a failed volume mesh is blamed on the surfaces it names and then on the 3D algorithm.
#include "Gmsh.h"

#include <gmsh.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>

namespace nimbo::detail {
namespace {

struct Algorithm {
  int number;  // Gmsh's
  const char *name;
};

// Gmsh's default first, which the first try uses, then the others in the order a failing surface
// is given them. Algorithm 3D 4 (Frontal) needs Netgen, which Debian's Gmsh lacks.
constexpr Algorithm surfaceAlgorithms[] = {{6, "Frontal-Delaunay"}, {5, "Delaunay"}, {1, "MeshAdapt"}};
constexpr Algorithm volumeAlgorithms[] = {{1, "Delaunay"}, {10, "HXT"}};
// HXT meshed a flanged shaft to 812k tetrahedra in 7.5 s where Delaunay took 52 s for 920k, but on
// real CAD at small sizes it failed three files that Delaunay meshes (and crashed on one): it comes
// first only for large meshes.
constexpr Algorithm largeVolumeAlgorithms[] = {{10, "HXT"}, {1, "Delaunay"}};
constexpr std::size_t surfaceAlgorithmCount = std::size(surfaceAlgorithms);
constexpr std::size_t volumeAlgorithmCount = std::size(volumeAlgorithms);
// The last resort for surface meshes that meet: twice the elements per circle, and MeshAdapt.
constexpr int finerCurvature = 24;
constexpr Algorithm finerSurfaces = surfaceAlgorithms[2];

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

}  // namespace

std::vector<std::string> generateWithRetries(const Imprint &imprinted, GmshSession &session, bool large) {
  const Algorithm *const volumeAlgorithms = large ? largeVolumeAlgorithms : nimbo::detail::volumeAlgorithms;
  gmsh::option::setNumber("Mesh.Algorithm3D", volumeAlgorithms[0].number);
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
  // with every algorithm: after a few rounds every surface is meshed finer instead, so that it ends.
  constexpr int remeshRounds = 4;
  int rounds = 0;
  std::set<int> blamedEver;  // where the failure is, when no volume algorithm gets past it
  bool facetsOverlap = false;
  const auto giveUp = [&](const std::string &tried) {
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
    // Gmsh fails every volume of a connected assembly together: the surfaces it blamed say which
    // parts hold the trouble.
    std::string where;
    if (!blamedEver.empty()) {
      failed.clear();
      std::vector<std::string> faces;
      for (const int tag : blamedEver) {
        std::vector<int> up, down;
        gmsh::model::getAdjacencies(2, tag, up, down);
        failed.insert(failed.end(), up.begin(), up.end());
        if (faces.size() < 3) faces.push_back(owners.face(tag));
      }
      const std::size_t more = blamedEver.size() - faces.size();
      where = "; the surface mesh meets itself at " + listed(faces) +
              (more > 0 ? " and " + std::to_string(more) + " more faces" : "");
    }
    return nimbo_exception("Gmsh could not mesh the volume of " + owners.parts(failed) + " (" + tried +
                           "): " + volumeError + where + " (a smaller element size often helps)");
  };
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
    for (const std::string &error : errors) {
      facetsOverlap = facetsOverlap || error.find("overlapping facets") != std::string::npos;
    }
    for (const int tag : blamedSurfaces(errors)) {
      blamedEver.insert(tag);
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
    } else if (!blamedEver.empty()) {
      // The other volume algorithm reads the same triangles (and has hung on them). Facets that lie
      // on one another come of faces that touch where they should not, which no mesh mends; a
      // segment through a facet, of a wall thinner than the chords of its curves: every surface is
      // meshed again with shorter chords, by the algorithm that keeps closest to its surface.
      if (facetsOverlap) throw giveUp("volume algorithm tried: " + std::string(volumeAlgorithms[0].name));
      gmsh::model::mesh::clear();
      gmsh::option::setNumber("Mesh.MeshSizeFromCurvature", finerCurvature);
      for (const auto &[dim, tag] : surfaces) gmsh::model::mesh::setAlgorithm(2, tag, finerSurfaces.number);
      volumeError = generate(3, session);
      if (volumeError.empty() && unmeshed(volumes).empty() && unmeshed(surfaces).empty()) {
        retries.push_back("every surface: " + std::string(finerSurfaces.name) + " with " +
                          std::to_string(finerCurvature) + " elements per circle after the surface mesh met itself");
        break;
      }
      if (volumeError.empty()) volumeError = "no volume elements in " + owners.parts(unmeshed(volumes));
      throw giveUp(std::string(volumeAlgorithms[0].name) + ", then every surface by " + finerSurfaces.name +
                   " with " + std::to_string(finerCurvature) + " elements per circle");
    } else if (++volumeAlgorithm == volumeAlgorithmCount) {
      throw giveUp("volume algorithms tried: " + namesOf(volumeAlgorithms, volumeAlgorithmCount));
    }
  }
  gmsh::option::setNumber("Mesh.Algorithm3D", volumeAlgorithms[0].number);
  if (volumeAlgorithm > 0) {
    retries.push_back("volumes: " + std::string(volumeAlgorithms[volumeAlgorithm].name) + " after " +
                      namesOf(volumeAlgorithms, volumeAlgorithm) + " failed");
  }
  return retries;
}

}  // namespace nimbo::detail
