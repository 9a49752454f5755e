// Overlap of shapes: a common part of full dimension, found through the Boolean common.
#include "ShapeAlgorithms.h"
#include "ShapeProperties.h"

#include <nimbo/nimbo_exception.h>

#include <BRepAlgoAPI_Common.hxx>
#include <Message_ProgressRange.hxx>
#include <TopExp_Explorer.hxx>

#include <algorithm>
#include <sstream>
#include <string>

namespace {

bool commonHolds(const TopoDS_Shape &first, const TopoDS_Shape &second, TopAbs_ShapeEnum type,
                 const char *operation) {
  BRepAlgoAPI_Common common_builder;
  common_builder.SetRunParallel(true);
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
    throw nimbo_exception(std::string("Boolean common failed in ") + operation + ": " + errors.str());
  }
  const TopoDS_Shape common = common_builder.Shape();
  return TopExp_Explorer(common, type, TopAbs_SHAPE).More();
}

}  // namespace

bool doShapesOverlap(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  if (first.IsNull() || second.IsNull()) return false;
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

bool doesShapeOverlapAny(const TopoDS_Shape &shape, const TopTools_ListOfShape &candidates) {
  return std::any_of(candidates.cbegin(), candidates.cend(),
                     [&](const TopoDS_Shape &candidate) { return doShapesOverlap(shape, candidate); });
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
