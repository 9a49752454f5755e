#include "Measures.h"

#include "Tolerances.h"

#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepGProp.hxx>
#include <BRepGProp_Domain.hxx>
#include <BRepGProp_Face.hxx>
#include <BRepGProp_Vinert.hxx>
#include <BRep_Tool.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <gp_Circ.hxx>
#include <gp_Mat.hxx>
#include <gp_Pln.hxx>

#include <cmath>
#include <optional>
#include <utility>

namespace nimbo::detail {
namespace {

// Whether a face or an edge of this orientation bounds anything: internal and external ones do not.
bool bounds(TopAbs_Orientation orientation) { return orientation == TopAbs_FORWARD || orientation == TopAbs_REVERSED; }

// Calls visit(curve, backwards) for each edge that bounds the face, as the face runs it; stops and
// gives false as soon as `visit` does.
template <typename Visit>
bool eachBoundaryEdge(const TopoDS_Shape &face, const Visit &visit) {
  for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
    const TopoDS_Edge &edge = TopoDS::Edge(it.Current());
    if (!bounds(edge.Orientation()) || BRep_Tool::Degenerated(edge)) continue;
    if (!visit(BRepAdaptor_Curve(edge), edge.Orientation() == TopAbs_REVERSED)) return false;
  }
  return true;
}

// A planar face bounded by lines and circular arcs, in closed form: a point of its plane, and the
// loop integral of x cross dx around its boundary as the face turns, which is twice its area along
// its outer normal. None for any other face. The adaptive rule takes a millisecond on such a face
// for what this gives to rounding.
struct PlanarLoop {
  gp_XYZ point;
  gp_XYZ loop;
};

std::optional<PlanarLoop> planarLoop(const TopoDS_Face &face) {
  const BRepAdaptor_Surface surface(face, false);
  if (surface.GetType() != GeomAbs_Plane) return std::nullopt;
  gp_XYZ loop(0.0, 0.0, 0.0);
  const bool closedForm = eachBoundaryEdge(face, [&](const BRepAdaptor_Curve &curve, bool backwards) {
    const double first = curve.FirstParameter();
    const double last = curve.LastParameter();
    const gp_XYZ from = curve.Value(first).XYZ();
    const gp_XYZ to = curve.Value(last).XYZ();
    gp_XYZ term;
    switch (curve.GetType()) {
      case GeomAbs_Line:
        term = from.Crossed(to);
        break;
      case GeomAbs_Circle: {
        // Around centre c: c x (to - from), plus r^2 per radian about the circle's axis.
        const gp_Circ circle = curve.Circle();
        term = circle.Location().XYZ().Crossed(to - from) +
               circle.Axis().Direction().XYZ() * (circle.Radius() * circle.Radius() * (last - first));
        break;
      }
      default:
        return false;
    }
    loop += backwards ? term.Reversed() : term;
    return true;
  });
  if (!closedForm) return std::nullopt;
  return PlanarLoop{surface.Plane().Location().XYZ(), loop};
}

// The mean of the shape's vertices as they are met: the point about which it is integrated, near
// enough that the terms stay small, as the kernel chooses it.
gp_XYZ vertexCentre(const TopoDS_Shape &shape) {
  gp_XYZ sum(0.0, 0.0, 0.0);
  int count = 0;
  for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next(), ++count) {
    sum += BRep_Tool::Pnt(TopoDS::Vertex(it.Current())).XYZ();
  }
  return count > 0 ? sum / count : sum;
}

// Mass properties set directly, as the kernel's integrators set theirs.
struct GivenProperties : GProp_GProps {
  GivenProperties(const gp_Pnt &about, double mass, const gp_XYZ &moment, const gp_Mat &inertiaAbout) {
    loc = about;
    dim = mass;
    g = gp_Pnt(mass != 0.0 ? moment / mass : gp_XYZ(0.0, 0.0, 0.0));
    inertia = inertiaAbout;
  }
};

// The mass properties of a solid whose faces are all planar and bounded by straight edges, in closed
// form: each edge of each face with a point of the face and the reference point makes a signed
// tetrahedron. None for any other solid. The adaptive rule spends most of a box's time failing to
// prove to 1e-12 what these sums give to rounding.
std::optional<GProp_GProps> polyhedronProperties(const TopoDS_Shape &shape) {
  const gp_XYZ about = vertexCentre(shape);
  double mass = 0.0;
  gp_XYZ moment(0.0, 0.0, 0.0);
  gp_Mat second(0, 0, 0, 0, 0, 0, 0, 0, 0);  // of x x^T about the reference point
  const auto outer = [](const gp_XYZ &a, const gp_XYZ &b) {
    return gp_Mat(a.X() * b.X(), a.X() * b.Y(), a.X() * b.Z(), a.Y() * b.X(), a.Y() * b.Y(), a.Y() * b.Z(),
                  a.Z() * b.X(), a.Z() * b.Y(), a.Z() * b.Z());
  };
  bool any = false;
  for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
    if (!bounds(face.Current().Orientation())) continue;
    if (BRepAdaptor_Surface(TopoDS::Face(face.Current()), false).GetType() != GeomAbs_Plane) return std::nullopt;
    std::optional<gp_XYZ> apex;
    const bool straight = eachBoundaryEdge(face.Current(), [&](const BRepAdaptor_Curve &curve, bool backwards) {
      if (curve.GetType() != GeomAbs_Line) return false;
      gp_XYZ a = curve.Value(curve.FirstParameter()).XYZ() - about;
      gp_XYZ b = curve.Value(curve.LastParameter()).XYZ() - about;
      if (backwards) std::swap(a, b);
      if (!apex) apex = a;
      const gp_XYZ &p = *apex;
      // The tetrahedron (0, p, a, b): its volume, and its first and second moments.
      const double volume = p.Dot(a.Crossed(b)) / 6.0;
      const gp_XYZ sum = p + a + b;
      mass += volume;
      moment += sum * (volume / 4.0);
      second += (outer(p, p) + outer(a, a) + outer(b, b) + outer(sum, sum)) * (volume / 20.0);
      any = true;
      return true;
    });
    if (!straight) return std::nullopt;
  }
  if (!any) return std::nullopt;
  const double trace = second.Value(1, 1) + second.Value(2, 2) + second.Value(3, 3);
  gp_Mat inertia(trace, 0, 0, 0, trace, 0, 0, 0, trace);
  inertia -= second;
  return GivenProperties(gp_Pnt(about), mass, moment, inertia);
}

}  // namespace

std::optional<GProp_GProps> measureOf(const TopoDS_Shape &shape) {
  GProp_GProps properties;
  switch (getDominantShapeType(shape)) {
    case TopAbs_SOLID:
      if (std::optional<GProp_GProps> polyhedron = polyhedronProperties(shape)) return polyhedron;
      BRepGProp::VolumeProperties(shape, properties, measurePrecision);
      return properties;
    case TopAbs_FACE:
      BRepGProp::SurfaceProperties(shape, properties, measurePrecision);
      return properties;
    case TopAbs_EDGE:
      return getDominantMeasure(shape);
    default:
      return std::nullopt;
  }
}

double volumeOf(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return 0.0;
  // Face by face about a point amid the vertices, as the kernel integrates: its faces then come out
  // as it gives them, and the small terms about a near point keep its relative precision meaningful.
  const gp_Pnt centre(vertexCentre(shape));
  double volume = 0.0;
  BRepGProp_Face integrand;
  BRepGProp_Domain domain;
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    const TopoDS_Face &face = TopoDS::Face(it.Current());
    if (!bounds(face.Orientation())) continue;
    // The flux of (x - centre)/3 through the face: (p - centre).n A / 3.
    if (const std::optional<PlanarLoop> planar = planarLoop(face)) {
      volume += (planar->point - centre.XYZ()).Dot(planar->loop) / 6.0;
      continue;
    }
    TopLoc_Location location;
    if (BRep_Tool::Surface(face, location).IsNull()) continue;
    BRepGProp_Vinert flux;
    flux.SetLocation(centre);
    integrand.Load(face);
    if (face.NbChildren() == 0) {
      flux.Perform(integrand, measurePrecision);
    } else {
      domain.Init(face);
      flux.Perform(integrand, domain, measurePrecision);
    }
    volume += flux.Mass();
  }
  return std::abs(volume);
}

double areaOf(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return 0.0;
  double area = 0.0;
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    const TopoDS_Face &face = TopoDS::Face(it.Current());
    if (const std::optional<PlanarLoop> planar = planarLoop(face)) {
      area += planar->loop.Modulus() / 2.0;
      continue;
    }
    GProp_GProps properties;
    BRepGProp::SurfaceProperties(face, properties, measurePrecision);
    area += properties.Mass();
  }
  return area;
}

}  // namespace nimbo::detail
