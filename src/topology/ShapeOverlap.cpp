// Overlap of shapes: a common part of full dimension, found through the Boolean common.
#include <nimbo/topology/ShapeAlgorithms.h>
#include "ShapeProperties.h"

#include <nimbo/nimbo_exception.h>

#include <BRepAlgoAPI_Common.hxx>
#include <BRepBndLib.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <Message_ProgressRange.hxx>
#include <Precision.hxx>
#include <TopExp_Explorer.hxx>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>

namespace {

bool commonHolds(const TopoDS_Shape &first, const TopoDS_Shape &second, TopAbs_ShapeEnum type, const char *operation) {
  if (nimbo::detail::hasFaceWithoutSurface(first) || nimbo::detail::hasFaceWithoutSurface(second)) {
    throw nimbo_exception(std::string("Boolean common failed in ") + operation +
                          ": a face without surface (a triangulation only) cannot take part");
  }
  BRepAlgoAPI_Common common_builder;
  common_builder.SetRunParallel(true);
  // A query must leave the caller's shapes alone: by default the Boolean grows the tolerances of
  // nearly touching sub-shapes and adds curves on the other shape's surfaces to the arguments' edges.
  common_builder.SetNonDestructive(true);
  TopTools_ListOfShape s1_list;
  s1_list.Append(first);
  TopTools_ListOfShape s2_list;
  s2_list.Append(second);
  common_builder.SetArguments(s1_list);
  common_builder.SetTools(s2_list);
  common_builder.Build(Message_ProgressRange());
  // A failed Boolean leaves an empty result; reading it as "no overlap" would report failure as an answer.
  if (common_builder.HasErrors()) {
    std::ostringstream errors;
    common_builder.DumpErrors(errors);
    std::string reasons = errors.str();
    while (!reasons.empty() && std::isspace(static_cast<unsigned char>(reasons.back()))) reasons.pop_back();
    throw nimbo_exception(std::string("Boolean common failed in ") + operation + ": " + reasons);
  }
  const TopoDS_Shape common = common_builder.Shape();
  return TopExp_Explorer(common, type, TopAbs_SHAPE).More();
}

// Whether the shapes are too far apart for their common to hold anything. A void box (a shape
// without geometry) says nothing, so the Boolean decides; touching boxes are not apart.
bool farApart(const Bnd_Box &first, const Bnd_Box &second) {
  return !first.IsVoid() && !second.IsVoid() && first.IsOut(second);
}

// doShapesOverlap with the first shape's reach computed once, for the list form.
bool overlaps(const TopoDS_Shape &first, const Bnd_Box &firstReach, const TopoDS_Shape &second) {
  if (first.IsNull() || second.IsNull()) return false;
  if (farApart(firstReach, getShapeReach(second))) return false;
  switch (first.ShapeType()) {
    case TopAbs_COMPOUND:
      // The other shape goes first, so its dimension is the one looked for.
      return doesShapeOverlapAny(second, nimbo::detail::representativeSubShapes(first));
    case TopAbs_SOLID:
      return doSolidsOverlap(first, second);
    case TopAbs_FACE:
      return doFacesOverlap(first, second);
    case TopAbs_EDGE:
      return doEdgesOverlap(first, second);
    default:
      return false;
  }
}

}  // namespace

// The box comes from the geometry, not from a triangulation, which is only as close to the surfaces
// as its recorded deflection claims. The kernel's box holds each face's tolerance, but a curved
// face's edges and vertices may carry larger ones, so it grows by the largest tolerance in the
// shape, and by the Boolean's fuzzy distance (the confusion tolerance, half of which it adds to each
// argument).
Bnd_Box getShapeReach(const TopoDS_Shape &shape) {
  Bnd_Box box;
  BRepBndLib::Add(shape, box, false);
  if (box.IsVoid()) return box;
  double tolerance = 0.0;
  for (const TopAbs_ShapeEnum type : {TopAbs_VERTEX, TopAbs_EDGE, TopAbs_FACE}) {
    tolerance = std::max(tolerance, BRep_Tool::MaxTolerance(shape, type));
  }
  box.Enlarge(tolerance);
  box.SetGap(box.GetGap() + Precision::Confusion());
  return box;
}

bool doShapesOverlap(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  if (first.IsNull() || second.IsNull()) return false;
  return overlaps(first, getShapeReach(first), second);
}

bool doesShapeOverlapAny(const TopoDS_Shape &shape, const TopTools_ListOfShape &candidates) {
  if (shape.IsNull()) return false;
  const Bnd_Box reach = getShapeReach(shape);
  return std::any_of(candidates.cbegin(), candidates.cend(),
                     [&](const TopoDS_Shape &candidate) { return overlaps(shape, reach, candidate); });
}

bool doSolidsOverlap(TopoDS_Shape first, TopoDS_Shape second) {
  return commonHolds(first, second, TopAbs_SOLID, "doSolidsOverlap");
}

bool doFacesOverlap(TopoDS_Shape first, TopoDS_Shape second) {
  return commonHolds(first, second, TopAbs_FACE, "doFacesOverlap");
}

bool doEdgesOverlap(TopoDS_Shape first, TopoDS_Shape second) {
  return commonHolds(first, second, TopAbs_EDGE, "doEdgesOverlap");
}
