// The faces the glue choice reads, summarised once from the kernel, and the tests of how two of them
// meet that its files share: across a plane, about a cylinder's circle, on one surface. Private to
// the assembly module.
#pragma once

#include <Bnd_Box.hxx>
#include <GeomAbs_CurveType.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Circ.hxx>
#include <gp_Cone.hxx>
#include <gp_Cylinder.hxx>
#include <gp_Dir.hxx>
#include <gp_Pln.hxx>
#include <gp_Pnt.hxx>

#include <cstddef>
#include <optional>
#include <vector>

namespace nimbo::detail {

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

/// The summary of a face of the argument `part`.
Face faceOf(std::size_t part, const TopoDS_Face &shape);

/// Whether one of `points` lies within the tolerance of `point`.
bool near(const gp_Pnt &point, const std::vector<gp_Pnt> &points, double tolerance);

/// Whether the face has an edge with the same ends and middle as `edge`.
bool hasEdge(const Face &face, const Edge &edge, double tolerance);

/// Faces on one surface: whole when they have the same vertices and edges, in part otherwise.
Meeting coincidence(const Face &a, const Face &b, double tolerance);

/// The point's distance from the plane, positive along its normal.
double signedDistance(const gp_Pln &plane, const gp_Pnt &point);

/// Faces whose distance from a plane peaks on their boundary: planes, and cylinders and cones about
/// the plane's normal. Only these are known to touch the plane along their edges alone.
bool boundaryBound(const Face &face, const gp_Dir &normal);

/// How two faces meet across a plane that may part them: apart when their distances from it do not
/// overlap, touching when they lie on its two closed sides; none when it parts nothing.
std::optional<Meeting> acrossPlane(const gp_Pln &plane, const Face &a, const Face &b, double tolerance);

/// Planes across the axis where the two boxes meet in a thin slab only, which may part the faces.
std::vector<gp_Pln> slabsOf(const Bnd_Box &a, const Bnd_Box &b, double tolerance);

/// A cylinder along a plane, wholly on one side of it.
bool besidePlane(const Face &face, const Face &other, double tolerance);

/// A cylinder or cone about the planar face's normal meets the face's plane in a circle. Apart when
/// the circle runs clear of the face's edges and outside it (a bolt in a wider hole); meeting on the
/// face's boundary when its edges go round the whole circle (a bolt in a bore). None otherwise.
std::optional<Meeting> crossingCircle(const Face &face, const Face &other, double tolerance);

/// Cylinders with parallel axes: apart, on one surface, or none when they may cross.
std::optional<Meeting> cylinders(const Face &a, const Face &b, double tolerance);

}  // namespace nimbo::detail
