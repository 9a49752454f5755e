// Scaling, wire chaining, face normals and minimum distances.
#include <nimbo/topology/ShapeAlgorithms.h>
#include "ShapeProperties.h"

#include <nimbo/nimbo_exception.h>

#include <BOPTools_AlgoTools3D.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRep_Tool.hxx>
#include <Geom_Surface.hxx>
#include <Message_ProgressRange.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Trsf.hxx>

#include <vector>

TopoDS_Shape scaleShape(TopoDS_Shape shape, double factor) {
  if (shape.IsNull()) throw nimbo_exception("Empty shape passed to scaleShape()");
  if (nimbo::detail::hasFaceWithoutSurface(shape)) {
    throw nimbo_exception("Shape with a face without surface passed to scaleShape()");
  }
  gp_Trsf scale_transform;
  scale_transform.SetScale(gp_Pnt(0, 0, 0), factor);
  return BRepBuilderAPI_Transform(shape, scale_transform, false).Shape();
}

namespace {

struct EdgeEnds {
  TopoDS_Edge edge;
  gp_Pnt first;
  gp_Pnt last;
};

}  // namespace

TopTools_ListOfShape makeWires(const TopoDS_Shape &shape) {
  // Each end point is read once; the passes then compare points, not vertices.
  std::vector<EdgeEnds> edges;
  for (TopExp_Explorer exp(shape, TopAbs_EDGE, TopAbs_SHAPE); exp.More(); exp.Next()) {
    const TopoDS_Edge edge = TopoDS::Edge(exp.Current());
    edges.push_back({edge, BRep_Tool::Pnt(TopExp::FirstVertex(edge)), BRep_Tool::Pnt(TopExp::LastVertex(edge))});
  }
  using nimbo::detail::arePointsCoincident;
  TopTools_ListOfShape wire_list;
  while (!edges.empty()) {
    // Both open ends start at the seed's first vertex, so the seed always joins first.
    gp_Pnt start = edges.front().first;
    gp_Pnt end = start;
    BRepBuilderAPI_MakeWire wire;
    // One forward pass: an edge that could only join an end grown later in the pass waits for a later wire.
    for (auto it = edges.begin(); it != edges.end();) {
      bool joined = true;
      if (arePointsCoincident(it->first, start)) {
        start = it->last;
      } else if (arePointsCoincident(it->last, start)) {
        start = it->first;
      } else if (arePointsCoincident(it->first, end)) {
        end = it->last;
      } else if (arePointsCoincident(it->last, end)) {
        end = it->first;
      } else {
        joined = false;
      }
      if (joined) {
        wire.Add(it->edge);
        it = edges.erase(it);
      } else {
        ++it;
      }
    }
    wire_list.Append(wire.Wire());
  }
  return wire_list;
}

gp_Dir getFaceNormal(TopoDS_Shape shape) {
  if (getDominantShapeType(shape) != TopAbs_FACE) {
    throw nimbo_exception("Face normal requested for shape that is not face");
  }
  const Handle(Geom_Surface) surface = BRep_Tool::Surface(TopoDS::Face(shape));
  if (surface.IsNull()) throw nimbo_exception("Face normal requested for face without surface");
  gp_Dir dir(1, 0, 0);
  BOPTools_AlgoTools3D::GetNormalToSurface(surface, 0.0, 0.0, dir);
  return dir;
}

double getMinDistance(TopoDS_Shape shape1, TopoDS_Shape shape2, gp_Vec &vector) {
  BRepExtrema_DistShapeShape mindist(shape1, shape2, Extrema_ExtFlag_MINMAX, Extrema_ExtAlgo_Grad,
                                     Message_ProgressRange());
  double best = 1e20;
  gp_Vec local_vector(0, 0, 0);
  if (mindist.IsDone()) {
    for (int i = 1; i <= mindist.NbSolution(); ++i) {
      const gp_Pnt p1 = mindist.PointOnShape1(i);
      const gp_Pnt p2 = mindist.PointOnShape2(i);
      if (p1.Distance(p2) < best) {
        best = p1.Distance(p2);
        local_vector = gp_Vec(p1, p2);
      }
    }
  }
  vector = local_vector;
  return best;
}

namespace nimbo {

std::optional<double> getDistance(const TopoDS_Shape &first, const TopoDS_Shape &second, gp_Vec &vector) {
  const double distance = getMinDistance(first, second, vector);
  if (distance >= 1e20) return std::nullopt;  // getMinDistance's answer when it finds none
  return distance;
}

}  // namespace nimbo
