// The plane tests of the glue choice: two faces parted by a plane (one's own, or where their boxes
// meet in a thin slab), and how they touch where they lie on its two sides.
#include "GlueFaces.h"

#include <BRepBndLib.hxx>
#include <ElCLib.hxx>
#include <Precision.hxx>

#include <algorithm>
#include <cmath>

namespace nimbo::detail {
namespace {

// The least and greatest signed distance of `points` from `plane`.
struct Range {
  double low = Precision::Infinite();
  double high = -Precision::Infinite();
  void add(double d) {
    low = std::min(low, d);
    high = std::max(high, d);
  }
};

void addBox(const gp_Pln &plane, const Bnd_Box &box, Range &range) {
  double x[2], y[2], z[2];
  box.Get(x[0], y[0], z[0], x[1], y[1], z[1]);
  for (const double a : x) {
    for (const double b : y) {
      for (const double c : z) range.add(signedDistance(plane, gp_Pnt(a, b, c)));
    }
  }
}

// Whether the circle's arc holds the parameter u (the arc may start anywhere and wrap).
bool onArc(const Edge &edge, double u) {
  const double start = ElCLib::InPeriod(edge.from, 0.0, 2 * M_PI);
  const double at = ElCLib::InPeriod(u, start, start + 2 * M_PI);
  return at <= start + (edge.to - edge.from);
}

// The circle's points nearest and farthest along the plane's normal that its arc holds; none for a
// circle parallel to the plane.
std::vector<gp_Pnt> extremesOf(const gp_Pln &plane, const Edge &edge) {
  const gp_Dir &axis = edge.circle.Axis().Direction();
  gp_Vec along = gp_Vec(plane.Axis().Direction()) - gp_Vec(axis) * axis.Dot(plane.Axis().Direction());
  if (along.Magnitude() < Precision::Confusion()) return {};
  along.Normalize();
  std::vector<gp_Pnt> extremes;
  for (const double sign : {1.0, -1.0}) {
    const gp_Pnt extreme = edge.circle.Location().Translated(along * (sign * edge.circle.Radius()));
    if (onArc(edge, ElCLib::Parameter(edge.circle, extreme))) extremes.push_back(extreme);
  }
  return extremes;
}

// Whether the circle's arc comes within the tolerance of the plane away from its ends.
bool reachesInside(const gp_Pln &plane, const Edge &edge, double tolerance) {
  for (const gp_Pnt &extreme : extremesOf(plane, edge)) {
    const bool end = extreme.Distance(edge.first) <= tolerance || extreme.Distance(edge.last) <= tolerance;
    if (!end && std::abs(signedDistance(plane, extreme)) <= tolerance) return true;
  }
  return false;
}

// The edge's distances from the plane: exact for lines and circles, its box's for other curves.
Range rangeOf(const gp_Pln &plane, const Edge &edge) {
  Range range;
  range.add(signedDistance(plane, edge.first));
  range.add(signedDistance(plane, edge.last));
  if (edge.type == GeomAbs_Line) return range;
  if (edge.type == GeomAbs_Circle) {
    for (const gp_Pnt &extreme : extremesOf(plane, edge)) range.add(signedDistance(plane, extreme));
    return range;
  }
  Bnd_Box box;
  BRepBndLib::Add(edge.shape, box, false);
  addBox(plane, box, range);
  return range;
}

// How a straight edge in the plane overlaps the face's box: not at all, at one point, or along a
// stretch.
enum class Overlap { none, point, stretch };

Overlap overlapOf(const Edge &edge, const Bnd_Box &box, double tolerance, gp_Pnt &point) {
  double low[3], high[3];
  box.Get(low[0], low[1], low[2], high[0], high[1], high[2]);
  double t0 = 0.0, t1 = 1.0;
  const gp_XYZ start = edge.first.XYZ();
  const gp_XYZ step = edge.last.XYZ() - start;
  for (int axis = 0; axis < 3; ++axis) {
    const double s = start.Coord(axis + 1);
    const double d = step.Coord(axis + 1);
    if (std::abs(d) < Precision::Confusion()) {
      if (s < low[axis] || s > high[axis]) return Overlap::none;
      continue;
    }
    double a = (low[axis] - s) / d, b = (high[axis] - s) / d;
    if (a > b) std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
  }
  if (t1 < t0) return Overlap::none;
  point = gp_Pnt(start + step * t0);
  return (t1 - t0) * step.Modulus() <= 2 * tolerance ? Overlap::point : Overlap::stretch;
}

// `face` and `other` on the two closed sides of the plane, `other` crossing into it rather than
// lying in it: their contact lies on the boundary of `other`. Whole when every edge and vertex of
// it in the plane, within the face's reach, is one of the face's own.
Meeting touching(const gp_Pln &plane, const Face &face, const Face &other, double tolerance) {
  Meeting meeting = Meeting::whole;
  for (const Edge &edge : other.edges) {
    const Range range = rangeOf(plane, edge);
    if (range.low > tolerance || range.high < -tolerance) continue;  // off the plane
    const bool inPlane = range.high - range.low <= 2 * tolerance;
    if (inPlane) {
      if (hasEdge(face, edge, tolerance)) continue;
      if (edge.type == GeomAbs_Line) {
        // Meeting the face's box at one point only: whole where that point is a vertex of both.
        gp_Pnt point;
        const Overlap overlap = overlapOf(edge, face.box, tolerance, point);
        if (overlap == Overlap::none) continue;
        if (overlap == Overlap::point && near(point, {edge.first, edge.last}, 2 * tolerance) &&
            near(point, face.vertices, 2 * tolerance)) {
          continue;
        }
      } else {
        Bnd_Box box;
        BRepBndLib::Add(edge.shape, box, false);
        if (face.box.IsOut(box)) continue;
      }
      meeting = Meeting::partial;
    } else if (edge.type != GeomAbs_Line) {
      // A curve may reach the plane inside its span, where no vertex shows it: a circle's nearest
      // point is known; of other curves, only the ends.
      const bool atEnd = std::abs(signedDistance(plane, edge.first)) <= tolerance ||
                         std::abs(signedDistance(plane, edge.last)) <= tolerance;
      if (!atEnd || (edge.type == GeomAbs_Circle && reachesInside(plane, edge, tolerance))) {
        return Meeting::undecided;
      }
      meeting = Meeting::partial;
    }
  }
  for (const gp_Pnt &vertex : other.vertices) {
    if (std::abs(signedDistance(plane, vertex)) > tolerance || face.box.IsOut(vertex)) continue;
    if (!near(vertex, face.vertices, tolerance)) meeting = Meeting::partial;
  }
  return meeting;
}

// The face's distances from the plane: from its boundary where that bounds them, else from its box.
Range rangeAlong(const gp_Pln &plane, const Face &face, bool bound) {
  Range range;
  if (!bound) {
    addBox(plane, face.box, range);
    return range;
  }
  for (const Edge &edge : face.edges) {
    const Range r = rangeOf(plane, edge);
    range.add(r.low);
    range.add(r.high);
  }
  for (const gp_Pnt &vertex : face.vertices) range.add(signedDistance(plane, vertex));
  return range;
}

}  // namespace

double signedDistance(const gp_Pln &plane, const gp_Pnt &point) {
  return gp_Vec(plane.Location(), point).Dot(gp_Vec(plane.Axis().Direction()));
}

bool boundaryBound(const Face &face, const gp_Dir &normal) {
  switch (face.kind) {
    case SurfaceKind::plane:
      return true;
    case SurfaceKind::cylinder:
      return face.cylinder.Axis().Direction().IsParallel(normal, Precision::Angular());
    case SurfaceKind::cone:
      return face.cone.Axis().Direction().IsParallel(normal, Precision::Angular());
    default:
      return false;
  }
}

std::optional<Meeting> acrossPlane(const gp_Pln &plane, const Face &a, const Face &b, double tolerance) {
  const gp_Dir &normal = plane.Axis().Direction();
  const bool boundA = boundaryBound(a, normal) && !a.edges.empty();
  const bool boundB = boundaryBound(b, normal) && !b.edges.empty();
  const Range ra = rangeAlong(plane, a, boundA);
  const Range rb = rangeAlong(plane, b, boundB);
  if (ra.low > rb.high + tolerance || rb.low > ra.high + tolerance) return Meeting::apart;
  const bool parted = (ra.high <= tolerance && rb.low >= -tolerance) || (rb.high <= tolerance && ra.low >= -tolerance);
  if (!parted) return std::nullopt;
  std::optional<Meeting> best;
  if (boundB && rb.high - rb.low > 2 * tolerance) best = touching(plane, a, b, tolerance);
  if (boundA && ra.high - ra.low > 2 * tolerance) {
    const Meeting m = touching(plane, b, a, tolerance);
    if (!best || m < *best) best = m;
  }
  return best;
}

std::vector<gp_Pln> slabsOf(const Bnd_Box &a, const Bnd_Box &b, double tolerance) {
  std::vector<gp_Pln> planes;
  for (int axis = 1; axis <= 3; ++axis) {
    const double low = std::max(a.CornerMin().Coord(axis), b.CornerMin().Coord(axis));
    const double high = std::min(a.CornerMax().Coord(axis), b.CornerMax().Coord(axis));
    if (high - low > 2 * tolerance) continue;
    gp_XYZ at(0, 0, 0);
    gp_XYZ direction(0, 0, 0);
    at.SetCoord(axis, 0.5 * (low + high));
    direction.SetCoord(axis, 1.0);
    planes.emplace_back(gp_Pnt(at), gp_Dir(direction));
  }
  return planes;
}

bool besidePlane(const Face &face, const Face &other, double tolerance) {
  if (face.kind != SurfaceKind::plane || other.kind != SurfaceKind::cylinder) return false;
  const gp_Dir &normal = face.plane.Axis().Direction();
  if (std::abs(other.cylinder.Axis().Direction().Dot(normal)) > Precision::Angular()) return false;
  return std::abs(signedDistance(face.plane, other.cylinder.Location())) > other.cylinder.Radius() + tolerance;
}

}  // namespace nimbo::detail
