// The summaries of faces and edges the glue choice reads, taken once from the kernel's shapes, and
// whether two of them are the same.
#include "GlueFaces.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRep_Tool.hxx>
#include <GeomLib_IsPlanarSurface.hxx>
#include <Precision.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>

#include <algorithm>

namespace nimbo::detail {
namespace {

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

bool sameEdge(const Edge &a, const Edge &b, double tolerance) {
  const bool ends = (a.first.Distance(b.first) <= tolerance && a.last.Distance(b.last) <= tolerance) ||
                    (a.first.Distance(b.last) <= tolerance && a.last.Distance(b.first) <= tolerance);
  return ends && a.middle.Distance(b.middle) <= tolerance;
}

}  // namespace

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

bool near(const gp_Pnt &point, const std::vector<gp_Pnt> &points, double tolerance) {
  return std::any_of(points.begin(), points.end(), [&](const gp_Pnt &p) { return p.Distance(point) <= tolerance; });
}

bool hasEdge(const Face &face, const Edge &edge, double tolerance) {
  return std::any_of(face.edges.begin(), face.edges.end(), [&](const Edge &e) { return sameEdge(e, edge, tolerance); });
}

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

}  // namespace nimbo::detail
