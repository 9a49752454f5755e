// Small features: holes, bosses and fillets narrower than the element size, found by their
// surfaces and removed with the kernel's defeaturing, which extends the faces around them.
#include "Features.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepLProp_SLProps.hxx>
#include <BRepTools.hxx>
#include <BRepAlgoAPI_Defeaturing.hxx>
#include <BRepBndLib.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>

#include <algorithm>
#include <cmath>
#include <functional>

namespace nimbo::detail {
namespace {

// A face of a feature narrower than `size`: curved everywhere to a radius under size / 2, as a hole,
// a boss or a fillet of a smaller diameter is. Judged by the principal curvatures on a grid over the
// face, so that B-spline holes (as some writers store every cylinder) count as holes.
bool isSmallRound(const TopoDS_Face &face, double size) {
  const BRepAdaptor_Surface surface(face, true);
  if (surface.GetType() == GeomAbs_Plane) return false;
  double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
  BRepTools::UVBounds(face, u0, u1, v0, v1);
  BRepLProp_SLProps properties(surface, 2, Precision::Confusion());
  for (const double s : {0.1, 0.5, 0.9}) {
    for (const double t : {0.1, 0.5, 0.9}) {
      properties.SetParameters(u0 + s * (u1 - u0), v0 + t * (v1 - v0));
      if (!properties.IsCurvatureDefined()) return false;
      const double curvature = std::max(std::abs(properties.MaxCurvature()), std::abs(properties.MinCurvature()));
      if (curvature * size < 2.0) return false;
    }
  }
  return true;
}

double boxVolume(const std::vector<TopoDS_Shape> &faces) {
  Bnd_Box box;
  for (const TopoDS_Shape &face : faces) BRepBndLib::AddOptimal(face, box, false, false);
  if (box.IsVoid()) return 0.0;
  double x0, y0, z0, x1, y1, z1;
  box.Get(x0, y0, z0, x1, y1, z1);
  return (x1 - x0) * (y1 - y0) * (z1 - z0);
}

}  // namespace

std::vector<Feature> smallFeatures(const TopoDS_Shape &shape, double size) {
  TopTools_IndexedMapOfShape faces;
  TopExp::MapShapes(shape, TopAbs_FACE, faces);
  TopTools_IndexedDataMapOfShapeListOfShape owners;
  TopExp::MapShapesAndUniqueAncestors(shape, TopAbs_EDGE, TopAbs_FACE, owners);
  std::vector<bool> round(faces.Extent() + 1, false);
  for (int k = 1; k <= faces.Extent(); ++k) round[k] = isSmallRound(TopoDS::Face(faces(k)), size);
  // A face all of whose edges bound round faces of the feature, or itself, closes it: the bottom of
  // a blind hole, the top of a boss.
  const auto closes = [&](int k) {
    bool any = false;
    for (TopExp_Explorer edge(faces(k), TopAbs_EDGE); edge.More(); edge.Next()) {
      if (BRep_Tool::Degenerated(TopoDS::Edge(edge.Current()))) continue;
      for (const TopoDS_Shape &owner : owners.FindFromKey(edge.Current())) {
        const int other = faces.FindIndex(owner);
        if (other == k) continue;
        if (!round[other]) return false;
        any = true;
      }
    }
    return any;
  };
  std::vector<int> group(faces.Extent() + 1, 0);
  std::vector<Feature> features;
  for (int seed = 1; seed <= faces.Extent(); ++seed) {
    if (!round[seed] || group[seed] != 0) continue;
    Feature feature;
    std::vector<int> stack = {seed};
    group[seed] = seed;
    while (!stack.empty()) {
      const int k = stack.back();
      stack.pop_back();
      feature.faces.push_back(faces(k));
      for (TopExp_Explorer edge(faces(k), TopAbs_EDGE); edge.More(); edge.Next()) {
        for (const TopoDS_Shape &owner : owners.FindFromKey(edge.Current())) {
          const int other = faces.FindIndex(owner);
          if (group[other] == 0 && (round[other] || (round[k] && closes(other)))) {
            group[other] = seed;
            stack.push_back(other);
          }
        }
      }
    }
    feature.boxVolume = boxVolume(feature.faces);
    features.push_back(feature);
  }
  return features;
}

TopoDS_Shape withoutFeatures(const TopoDS_Shape &shape, const std::vector<Feature> &features) {
  BRepAlgoAPI_Defeaturing defeaturing;
  defeaturing.SetShape(shape);
  for (const Feature &feature : features) {
    for (const TopoDS_Shape &face : feature.faces) defeaturing.AddFaceToRemove(face);
  }
  defeaturing.SetRunParallel(false);
  defeaturing.SetToFillHistory(false);
  defeaturing.Build();
  if (!defeaturing.IsDone() || defeaturing.HasErrors()) return TopoDS_Shape();
  return defeaturing.Shape();
}

}  // namespace nimbo::detail
