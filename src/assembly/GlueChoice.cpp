// The glue the imprint's fuse may use, read off how the parts' faces meet. The glued fuse skips the
// intersection of faces (and, fully glued, of edges and vertices with faces), so a glue is safe only
// where that work would have found nothing new: every pair of faces of two parts is shown apart,
// lying on one surface, or meeting along one face's boundary only. What cannot be shown cheaply
// keeps the general fuse.
#include "Fusing.h"
#include "GlueFaces.h"
#include "Sweep.h"

#include <BRepExtrema_DistShapeShape.hxx>
#include <Precision.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>

#include <algorithm>
#include <cmath>
#include <optional>

namespace nimbo::detail {
namespace {

// Pairs left to the exact distance before the choice gives up on a glue: past this many, the
// classification would cost what the glue saves.
constexpr std::size_t distanceBudget = 32;

struct Budget {
  std::size_t distances = 0;
};

Meeting meetingOf(const Face &a, const Face &b, double fuzzy, Budget &budget) {
  if (!a.readable || !b.readable) return Meeting::undecided;
  const double tolerance = a.tolerance + b.tolerance + Precision::Confusion() + fuzzy;
  std::optional<Meeting> best;
  const auto keep = [&](std::optional<Meeting> m) {
    if (m && (!best || *m < *best)) best = m;
    return best == Meeting::apart;
  };
  if (besidePlane(a, b, tolerance) || besidePlane(b, a, tolerance)) return Meeting::apart;
  std::vector<gp_Pln> planes;
  if (a.kind == SurfaceKind::plane) planes.push_back(a.plane);
  if (b.kind == SurfaceKind::plane) planes.push_back(b.plane);
  for (const gp_Pln &plane : slabsOf(a.box, b.box, tolerance)) planes.push_back(plane);
  for (const gp_Pln &plane : planes) {
    if (keep(acrossPlane(plane, a, b, tolerance))) return Meeting::apart;
  }
  if (a.kind == SurfaceKind::cylinder && b.kind == SurfaceKind::cylinder && keep(cylinders(a, b, tolerance))) {
    return Meeting::apart;
  }
  if (keep(crossingCircle(a, b, tolerance)) || keep(crossingCircle(b, a, tolerance))) return Meeting::apart;
  if (best) return *best;
  // Faces on one plane that no plane parts.
  if (a.kind == SurfaceKind::plane && b.kind == SurfaceKind::plane &&
      a.plane.Axis().Direction().IsParallel(b.plane.Axis().Direction(), Precision::Angular()) &&
      std::abs(signedDistance(a.plane, b.plane.Location())) <= tolerance) {
    return coincidence(a, b, tolerance);
  }
  // The last resort, and the dear one: the exact distance.
  if (++budget.distances > distanceBudget) return Meeting::undecided;
  BRepExtrema_DistShapeShape distance(a.shape, b.shape);
  return distance.IsDone() && distance.Value() > tolerance ? Meeting::apart : Meeting::undecided;
}

}  // namespace

Glue chosenGlue(const std::vector<TopoDS_Shape> &arguments, double fuzzy) {
  if (arguments.size() < 2) return Glue::off;  // one argument is not fused at all
  std::vector<Face> faces;
  for (std::size_t a = 0; a < arguments.size(); ++a) {
    TopTools_IndexedMapOfShape map;
    TopExp::MapShapes(arguments[a], TopAbs_FACE, map);
    for (int k = 1; k <= map.Extent(); ++k) {
      faces.push_back(faceOf(a, TopoDS::Face(map(k))));
      if (faces.back().box.IsVoid()) return Glue::off;  // a face with no geometry to place
    }
  }
  // Only faces whose boxes meet can meet.
  std::vector<Interval3> boxes;
  for (const Face &face : faces) boxes.push_back(intervalOf(face.box));
  Meeting worst = Meeting::apart;
  Budget budget;
  for (const auto &[i, j] : pairsThatMeet(boxes)) {
    if (faces[i].part == faces[j].part) continue;
    worst = std::max(worst, meetingOf(faces[i], faces[j], fuzzy, budget));
    if (worst == Meeting::undecided) return Glue::off;
  }
  return worst == Meeting::partial ? Glue::shift : Glue::full;
}

}  // namespace nimbo::detail
