// What the meshing files share: the Gmsh session and the wrapper that turns Gmsh's failures into
// nimbo_exception, the check of Gmsh's numbering, and the 3D mesh with its retries. Private to the
// module.
#pragma once

#include <nimbo/mesh/Mesh.h>
#include <nimbo/nimbo_exception.h>

#include <TopoDS_Shape.hxx>

#include <exception>
#include <set>
#include <string>
#include <vector>

namespace nimbo::detail {

// One Gmsh session: Gmsh keeps its model in the process, so each call starts and ends its own.
class GmshSession {
 public:
  explicit GmshSession(bool verbose);
  ~GmshSession();
  GmshSession(const GmshSession &) = delete;
  GmshSession &operator=(const GmshSession &) = delete;

  /// Gmsh's messages so far, to standard error when verbose.
  void flush();
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

// Gmsh numbers what it imports in the order it meets it, which for a compound is the imprint's
// numbering. Checked, so that a name is never put on the wrong region: each entity's box against
// its shape's (both the kernel's box of one shape, which Gmsh keeps at hand), and where two shapes
// of the compound have the same box, which boxes cannot tell apart, their centres of mass too.
struct NumberedShape {
  int dim;
  int number;
  TopoDS_Shape shape;
};

/// Throws nimbo_exception when Gmsh's entities are not numbered as `numbered` says; `scale` is the
/// model's size, which sets the tolerance.
void checkNumbering(const std::vector<NumberedShape> &numbered, double scale);

/// Meshes the model in 3D by Delaunay (HXT first when `large`); when that fails, meshes again only what failed:
/// the surfaces left without triangles, each alone with Gmsh's other 2D algorithms, then the volumes,
/// whose failure is first blamed on the surfaces it names and then on the 3D algorithm. Each surface
/// and the volumes go through each algorithm at most once, so a hopeless case ends. Returns what was
/// retried and worked; throws naming the face or the parts that no algorithm meshed.
std::vector<std::string> generateWithRetries(const Imprint &imprinted, GmshSession &session, bool large);

/// Puts the mid-edge nodes of quadratic tetrahedra that their curved edges turn inside out back on
/// the straight edges, until every element is valid at its corners and its integration points.
/// Returns how many nodes moved.
std::size_t straightenInvertedQuadratics();

}  // namespace nimbo::detail
