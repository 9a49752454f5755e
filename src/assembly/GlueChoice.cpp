// The glue the imprint's fuse may use, read off how the parts' faces meet. The glued fuse skips the
// intersection of faces (and, fully glued, of edges and vertices with faces), so a glue is safe only
// where that work would have found nothing new: every pair of faces of two parts is shown apart,
// lying on one surface, or meeting along one face's boundary only. What cannot be shown cheaply
// keeps the general fuse.
#include "Fusing.h"
#include "Sweep.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepClass_FaceClassifier.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <ElCLib.hxx>
#include <GeomLib_IsPlanarSurface.hxx>
#include <Precision.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Circ.hxx>
#include <gp_Cone.hxx>
#include <gp_Cylinder.hxx>
#include <gp_Lin.hxx>
#include <gp_Pln.hxx>

#include <algorithm>
#include <cmath>
#include <optional>

namespace nimbo::detail {
namespace {

// Pairs left to the exact distance before the choice gives up on a glue: past this many, the
// classification would cost what the glue saves.
constexpr std::size_t distanceBudget = 32;

enum class SurfaceKind { plane, cylinder, cone, other };

struct Edge {
  GeomAbs_CurveType type = GeomAbs_OtherCurve;
  gp_Pnt first, last, middle;
  gp_Circ circle;     // for circles
  double from = 0.0;  // the circle's parameter range
  double to = 0.0;
  TopoDS_Edge shape;  // for its box, only when needed
};

struct Face {
  std::size_t part = 0;
  TopoDS_Face shape;
  Bnd_Box box;  // enlarged by the tolerance
  double tolerance = 0.0;
  SurfaceKind kind = SurfaceKind::other;
  gp_Pln plane;
  gp_Cylinder cylinder;
  gp_Cone cone;
  std::vector<gp_Pnt> vertices;
  std::vector<Edge> edges;
  bool readable = true;  // false when an edge had no curve to read
};

// How two faces of different parts meet, from harmless to unknown; the pairs' worst decides.
enum class Meeting { apart, whole, partial, undecided };

Edge edgeOf(const TopoDS_Edge &shape) {
  BRepAdaptor_Curve curve(shape);
  Edge edge;
  edge.type = curve.GetType();
  edge.first = curve.Value(curve.FirstParameter());
  edge.last = curve.Value(curve.LastParameter());
  edge.middle = curve.Value(0.5 * (curve.FirstParameter() + curve.LastParameter()));
  if (edge.type == GeomAbs_Circle) {
    edge.circle = curve.Circle();
    edge.from = curve.FirstParameter();
    edge.to = curve.LastParameter();
  }
  edge.shape = shape;
  return edge;
}

Face faceOf(std::size_t part, const TopoDS_Face &shape) {
  Face face;
  face.part = part;
  face.shape = shape;
  face.tolerance = BRep_Tool::Tolerance(shape);
  for (const TopAbs_ShapeEnum type : {TopAbs_EDGE, TopAbs_VERTEX}) {
    face.tolerance = std::max(face.tolerance, BRep_Tool::MaxTolerance(shape, type));
  }
  // From the exact geometry: a triangulation's box may miss where the surface bulges between nodes.
  BRepBndLib::Add(shape, face.box, false);
  face.box.Enlarge(face.tolerance + Precision::Confusion());
  try {
    const BRepAdaptor_Surface surface(shape, false);
    switch (surface.GetType()) {
      case GeomAbs_Plane:
        face.kind = SurfaceKind::plane;
        face.plane = surface.Plane();
        break;
      case GeomAbs_Cylinder:
        face.kind = SurfaceKind::cylinder;
        face.cylinder = surface.Cylinder();
        break;
      case GeomAbs_Cone:
        face.kind = SurfaceKind::cone;
        face.cone = surface.Cone();
        break;
      case GeomAbs_BezierSurface:
      case GeomAbs_BSplineSurface: {
        // Files often carry planes as splines; a flat one is taken for its plane.
        TopLoc_Location location;
        const GeomLib_IsPlanarSurface flat(BRep_Tool::Surface(shape, location), face.tolerance);
        if (flat.IsPlanar()) {
          face.kind = SurfaceKind::plane;
          face.plane = flat.Plan().Transformed(location.Transformation());
        }
        break;
      }
      default:
        break;
    }
    TopTools_IndexedMapOfShape vertices;
    TopExp::MapShapes(shape, TopAbs_VERTEX, vertices);
    for (int k = 1; k <= vertices.Extent(); ++k) face.vertices.push_back(BRep_Tool::Pnt(TopoDS::Vertex(vertices(k))));
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    for (int k = 1; k <= edges.Extent(); ++k) {
      const TopoDS_Edge &edge = TopoDS::Edge(edges(k));
      if (!BRep_Tool::Degenerated(edge)) face.edges.push_back(edgeOf(edge));
    }
  } catch (const Standard_Failure &) {
    face.readable = false;
  }
  return face;
}

// The least and greatest signed distance of `points` from `plane`.
struct Range {
  double low = Precision::Infinite();
  double high = -Precision::Infinite();
  void add(double d) {
    low = std::min(low, d);
    high = std::max(high, d);
  }
};

double signedDistance(const gp_Pln &plane, const gp_Pnt &point) {
  return gp_Vec(plane.Location(), point).Dot(gp_Vec(plane.Axis().Direction()));
}

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

// Faces whose distance from a plane peaks on their boundary: planes, and cylinders and cones about
// the plane's normal. Only these are known to touch the plane along their edges alone.
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

bool near(const gp_Pnt &point, const std::vector<gp_Pnt> &points, double tolerance) {
  return std::any_of(points.begin(), points.end(), [&](const gp_Pnt &p) { return p.Distance(point) <= tolerance; });
}

bool sameEdge(const Edge &a, const Edge &b, double tolerance) {
  const bool ends = (a.first.Distance(b.first) <= tolerance && a.last.Distance(b.last) <= tolerance) ||
                    (a.first.Distance(b.last) <= tolerance && a.last.Distance(b.first) <= tolerance);
  return ends && a.middle.Distance(b.middle) <= tolerance;
}

bool hasEdge(const Face &face, const Edge &edge, double tolerance) {
  return std::any_of(face.edges.begin(), face.edges.end(), [&](const Edge &e) { return sameEdge(e, edge, tolerance); });
}

// Faces on one surface: whole when they have the same vertices and edges, in part otherwise.
Meeting coincidence(const Face &a, const Face &b, double tolerance) {
  if (a.vertices.size() != b.vertices.size() || a.edges.size() != b.edges.size()) return Meeting::partial;
  for (const gp_Pnt &p : a.vertices) {
    if (!near(p, b.vertices, tolerance)) return Meeting::partial;
  }
  for (const Edge &e : a.edges) {
    if (!hasEdge(b, e, tolerance)) return Meeting::partial;
  }
  return Meeting::whole;
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

// The nearest and farthest an edge in the plane comes to a point of the plane; none for a curve
// other than a line or a circle.
std::optional<std::pair<double, double>> radialRange(const Edge &edge, const gp_Pnt &centre, double tolerance) {
  if (edge.type == GeomAbs_Circle) {
    // Another circle of the plane: the whole circle's reach, which holds its arc's.
    const double apart = edge.circle.Location().Distance(centre);
    if (apart <= tolerance) return std::make_pair(edge.circle.Radius(), edge.circle.Radius());
    return std::make_pair(std::abs(apart - edge.circle.Radius()), apart + edge.circle.Radius());
  }
  if (edge.type != GeomAbs_Line) return std::nullopt;
  const gp_Vec step(edge.first, edge.last);
  const double length2 = step.SquareMagnitude();
  const double t = length2 > 0 ? std::clamp(gp_Vec(edge.first, centre).Dot(step) / length2, 0.0, 1.0) : 0.0;
  const double nearest = edge.first.Translated(step * t).Distance(centre);
  return std::make_pair(nearest, std::max(edge.first.Distance(centre), edge.last.Distance(centre)));
}

// A cylinder or cone about the planar face's normal meets the face's plane in a circle. Apart when
// the circle runs clear of the face's edges and outside it (a bolt in a wider hole); meeting on the
// face's boundary when its edges go round the whole circle (a bolt in a bore). None otherwise.
std::optional<Meeting> crossingCircle(const Face &face, const Face &other, double tolerance) {
  if (face.kind != SurfaceKind::plane || (other.kind != SurfaceKind::cylinder && other.kind != SurfaceKind::cone) ||
      !boundaryBound(other, face.plane.Axis().Direction())) {
    return std::nullopt;
  }
  const gp_Ax1 axis = other.kind == SurfaceKind::cylinder ? other.cylinder.Axis() : other.cone.Axis();
  const double along =
      -signedDistance(face.plane, axis.Location()) / axis.Direction().Dot(face.plane.Axis().Direction());
  const gp_Pnt centre = axis.Location().Translated(gp_Vec(axis.Direction()) * along);
  const double radius = other.kind == SurfaceKind::cylinder
                            ? other.cylinder.Radius()
                            : other.cone.RefRadius() + along * std::tan(other.cone.SemiAngle());
  if (radius <= tolerance) return std::nullopt;
  double turned = 0.0;
  for (const Edge &edge : face.edges) {
    const auto range = radialRange(edge, centre, tolerance);
    if (!range) return std::nullopt;
    if (range->first > radius + tolerance || range->second < radius - tolerance) continue;
    const bool onCircle = edge.type == GeomAbs_Circle && std::abs(edge.circle.Radius() - radius) <= tolerance;
    if (!onCircle) return std::nullopt;
    turned += std::abs(edge.to - edge.from);
  }
  if (turned >= 2 * M_PI - Precision::Angular()) return Meeting::partial;
  if (turned > 0.0) return std::nullopt;
  // Clear of every edge, the circle is wholly inside the face or wholly outside: one point tells.
  const gp_Dir side = face.plane.Position().XDirection();
  const gp_Pnt point = centre.Translated(gp_Vec(side) * radius);
  const BRepClass_FaceClassifier where(face.shape, point, tolerance);
  return where.State() == TopAbs_OUT ? std::optional<Meeting>(Meeting::apart) : std::nullopt;
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

// How two faces meet across a plane that may part them: apart when their distances from it do not
// overlap, touching when they lie on its two closed sides; none when it parts nothing.
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

// Planes across the axis where the two boxes meet in a thin slab only, which may part the faces.
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

// Cylinders with parallel axes: apart, on one surface, or none when they may cross.
std::optional<Meeting> cylinders(const Face &a, const Face &b, double tolerance) {
  if (!a.cylinder.Axis().Direction().IsParallel(b.cylinder.Axis().Direction(), Precision::Angular())) {
    return std::nullopt;
  }
  const double apart = gp_Lin(a.cylinder.Axis()).Distance(b.cylinder.Location());
  const double ra = a.cylinder.Radius();
  const double rb = b.cylinder.Radius();
  if (apart <= tolerance) return std::abs(ra - rb) > tolerance ? Meeting::apart : coincidence(a, b, tolerance);
  if (apart > ra + rb + tolerance || apart < std::abs(ra - rb) - tolerance) return Meeting::apart;
  return std::nullopt;
}

// A cylinder along a plane, wholly on one side of it.
bool besidePlane(const Face &face, const Face &other, double tolerance) {
  if (face.kind != SurfaceKind::plane || other.kind != SurfaceKind::cylinder) return false;
  const gp_Dir &normal = face.plane.Axis().Direction();
  if (std::abs(other.cylinder.Axis().Direction().Dot(normal)) > Precision::Angular()) return false;
  return std::abs(signedDistance(face.plane, other.cylinder.Location())) > other.cylinder.Radius() + tolerance;
}

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
