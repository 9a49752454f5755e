// Scaling, wire chaining, face normals and minimum distances.
#include "ShapeAlgorithms.h"

#include <nimbo/nimbo_exception.h>

#include <BOPTools_AlgoTools3D.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRep_Tool.hxx>
#include <Message_ProgressRange.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Trsf.hxx>

#include <vector>

TopoDS_Shape scaleShape(TopoDS_Shape shape, double factor) {
  if (shape.IsNull()) throw nimbo_exception("Empty shape passed to scaleShape()");
  gp_Trsf scale_transform;
  scale_transform.SetScale(gp_Pnt(0, 0, 0), factor);
  return BRepBuilderAPI_Transform(shape, scale_transform, false).Shape();
}

TopTools_ListOfShape makeWires(const TopoDS_Shape &shape) {
  std::vector<TopoDS_Edge> edges;
  for (TopExp_Explorer exp(shape, TopAbs_EDGE, TopAbs_SHAPE); exp.More(); exp.Next()) {
    edges.push_back(TopoDS::Edge(exp.Current()));
  }
  TopTools_ListOfShape wire_list;
  while (!edges.empty()) {
    // Both open ends start at the seed's first vertex, so the seed always joins first.
    TopoDS_Vertex vstart = TopExp::FirstVertex(edges.front());
    TopoDS_Vertex vend = vstart;
    BRepBuilderAPI_MakeWire wire;
    // One forward pass: an edge that could only join an end grown later in the pass waits for a later wire.
    for (auto it = edges.begin(); it != edges.end();) {
      const TopoDS_Vertex v1 = TopExp::FirstVertex(*it);
      const TopoDS_Vertex v2 = TopExp::LastVertex(*it);
      bool joined = true;
      if (areVerticesEqual(v1, vstart)) {
        vstart = v2;
      } else if (areVerticesEqual(v2, vstart)) {
        vstart = v1;
      } else if (areVerticesEqual(v1, vend)) {
        vend = v2;
      } else if (areVerticesEqual(v2, vend)) {
        vend = v1;
      } else {
        joined = false;
      }
      if (joined) {
        wire.Add(*it);
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
  gp_Dir dir(1, 0, 0);
  BOPTools_AlgoTools3D::GetNormalToSurface(BRep_Tool::Surface(TopoDS::Face(shape)), 0.0, 0.0, dir);
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
