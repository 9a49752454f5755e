// The round tests of the glue choice: a cylinder or cone crossing a planar face in a circle, and
// two cylinders with parallel axes.
#include "GlueFaces.h"

#include <BRepClass_FaceClassifier.hxx>
#include <Precision.hxx>
#include <gp_Lin.hxx>

#include <algorithm>
#include <cmath>
#include <utility>

namespace nimbo::detail {
namespace {

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

}  // namespace

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

}  // namespace nimbo::detail
