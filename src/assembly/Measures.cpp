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
#include <gp_Pln.hxx>

#include <cmath>
#include <optional>

namespace nimbo::detail {
namespace {

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
  for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
    const TopoDS_Edge &edge = TopoDS::Edge(it.Current());
    const TopAbs_Orientation orientation = edge.Orientation();
    if (orientation != TopAbs_FORWARD && orientation != TopAbs_REVERSED) continue;
    if (BRep_Tool::Degenerated(edge)) continue;
    const BRepAdaptor_Curve curve(edge);
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
        return std::nullopt;
    }
    loop += orientation == TopAbs_REVERSED ? term.Reversed() : term;
  }
  return PlanarLoop{surface.Plane().Location().XYZ(), loop};
}

}  // namespace

std::optional<GProp_GProps> measureOf(const TopoDS_Shape &shape) {
  GProp_GProps properties;
  switch (getDominantShapeType(shape)) {
    case TopAbs_SOLID:
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
  gp_XYZ sum(0.0, 0.0, 0.0);
  int count = 0;
  for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next(), ++count) {
    sum += BRep_Tool::Pnt(TopoDS::Vertex(it.Current())).XYZ();
  }
  const gp_Pnt centre(count > 0 ? sum / count : sum);
  double volume = 0.0;
  BRepGProp_Face integrand;
  BRepGProp_Domain domain;
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    const TopoDS_Face &face = TopoDS::Face(it.Current());
    const TopAbs_Orientation orientation = face.Orientation();
    if (orientation != TopAbs_FORWARD && orientation != TopAbs_REVERSED) continue;
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
