// Geometric equality of shapes: measure, centre of mass and bounding box within tolerances that
// scale with the first shape.
#include <nimbo/topology/ShapeAlgorithms.h>
#include "ShapeMeasures.h"
#include "ShapeProperties.h"

#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <TopoDS.hxx>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double linearScale(TopAbs_ShapeEnum type, double measure) {
  switch (type) {
    case TopAbs_SOLID:
      return std::pow(measure, 0.3333333333333333);
    case TopAbs_FACE:
      return std::pow(measure, 0.5);
    default:
      return measure;
  }
}

struct BoxCheck {
  double deviation;
  double tolerance;
  bool held;
};

BoxCheck checkBoundingBoxes(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  double Xmin1, Ymin1, Zmin1, Xmax1, Ymax1, Zmax1;
  double Xmin2, Ymin2, Zmin2, Xmax2, Ymax2, Zmax2;
  nimbo::detail::boundingBox(first).Get(Xmin1, Ymin1, Zmin1, Xmax1, Ymax1, Zmax1);
  nimbo::detail::boundingBox(second).Get(Xmin2, Ymin2, Zmin2, Xmax2, Ymax2, Zmax2);
  const double t = 0.04 * std::max({Xmax1 - Xmin1, Ymax1 - Ymin1, Zmax1 - Zmin1,  //
                                    Xmax2 - Xmin2, Ymax2 - Ymin2, Zmax2 - Zmin2});
  const double bounds1[] = {Xmin1, Xmax1, Ymin1, Ymax1, Zmin1, Zmax1};
  const double bounds2[] = {Xmin2, Xmax2, Ymin2, Ymax2, Zmin2, Zmax2};
  BoxCheck check{0.0, t, true};
  for (int i = 0; i < 6; ++i) {
    const double difference = std::abs(bounds1[i] - bounds2[i]);
    check.deviation = std::max(check.deviation, difference);
    // Written as "not below" so that a NaN bound fails the check.
    if (!(difference < t)) check.held = false;
  }
  return check;
}

template <typename Compare>
bool isEqualToAny(const TopoDS_Shape &shape, const TopTools_ListOfShape &candidates, Compare compare) {
  return std::any_of(candidates.cbegin(), candidates.cend(),
                     [&](const TopoDS_Shape &candidate) { return compare(shape, candidate); });
}

}  // namespace

bool areShapesEqual(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  if (first.IsNull() || second.IsNull()) return false;
  // The other shape goes first in the recursive comparisons, so its tolerances decide.
  if (first.ShapeType() == TopAbs_COMPOUND)
    return isShapeEqualToAny(second, nimbo::detail::representativeSubShapes(first));
  if (second.ShapeType() == TopAbs_COMPOUND)
    return isShapeEqualToAny(first, nimbo::detail::representativeSubShapes(second));
  if (first.ShapeType() != second.ShapeType()) return false;
  return areSimpleShapesEqual(first, second);
}

bool isShapeEqualToAny(const TopoDS_Shape &shape, const TopTools_ListOfShape &candidates) {
  return isEqualToAny(shape, candidates, areShapesEqual);
}

bool areSimpleShapesEqual(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  if (first.IsNull() || second.IsNull()) return false;
  switch (first.ShapeType()) {
    case TopAbs_SOLID:
      return areSolidsEqual(first, second);
    case TopAbs_FACE:
      return areFacesEqual(first, second);
    case TopAbs_VERTEX:
      return areVerticesEqual(first, second);
    case TopAbs_EDGE:
      return areEdgesEqual(first, second);
    default:
      return false;
  }
}

bool isSimpleShapeEqualToAny(const TopoDS_Shape &shape, const TopTools_ListOfShape &candidates) {
  return isEqualToAny(shape, candidates, areSimpleShapesEqual);
}

namespace {

// The comparison's checks in order. With `stopEarly` (the verdict) it ends at the first check that
// fails, as the comparison always has; without (the figures) it makes all three, and a void box
// fails its check instead of raising the kernel's error.
ComparisonChecks runChecks(const TopoDS_Shape &first, const TopoDS_Shape &second, TopAbs_ShapeEnum type,
                           bool stopEarly) {
  meshShape(first);
  meshShape(second);
  const GProp_GProps gprops1 = nimbo::detail::measureProperties(first, type);
  const GProp_GProps gprops2 = nimbo::detail::measureProperties(second, type);
  // Tolerances come from the magnitude of the first measure, so that an inside-out solid (negative
  // volume) still equals itself.
  const double m1 = gprops1.Mass();
  const double m2 = gprops2.Mass();
  const double unset = std::numeric_limits<double>::quiet_NaN();
  ComparisonChecks checks{unset, unset, unset, unset, unset, unset, false, false, false, false};
  checks.measureDifference = std::abs(m1 - m2);
  checks.measureTolerance = 0.001 * std::abs(m1);
  checks.measureHeld = !(checks.measureDifference > checks.measureTolerance);
  if (stopEarly && !checks.measureHeld) return checks;
  const gp_Pnt center1 = gprops1.CentreOfMass();
  checks.centerDistance = center1.Distance(gprops2.CentreOfMass());
  checks.centerTolerance = 0.001 * linearScale(type, std::abs(m1));
  checks.centerHeld = center1.IsEqual(gprops2.CentreOfMass(), checks.centerTolerance);
  if (stopEarly && !checks.centerHeld) return checks;
  if (stopEarly || (!nimbo::detail::boundingBox(first).IsVoid() && !nimbo::detail::boundingBox(second).IsVoid())) {
    const BoxCheck box = checkBoundingBoxes(first, second);
    checks.boxDeviation = box.deviation;
    checks.boxTolerance = box.tolerance;
    checks.boxHeld = box.held;
  }
  checks.equal = checks.measureHeld && checks.centerHeld && checks.boxHeld;
  return checks;
}

}  // namespace

ComparisonChecks getComparisonChecks(const TopoDS_Shape &first, const TopoDS_Shape &second, TopAbs_ShapeEnum type) {
  return runChecks(first, second, type, false);
}

bool areSolidsEqual(TopoDS_Shape first, TopoDS_Shape second) {
  return runChecks(first, second, TopAbs_SOLID, true).equal;
}

bool areFacesEqual(TopoDS_Shape first, TopoDS_Shape second) {
  return runChecks(first, second, TopAbs_FACE, true).equal;
}

bool areEdgesEqual(TopoDS_Shape first, TopoDS_Shape second) {
  return runChecks(first, second, TopAbs_EDGE, true).equal;
}

bool areVerticesEqual(TopoDS_Shape first, TopoDS_Shape second) {
  return nimbo::detail::arePointsCoincident(BRep_Tool::Pnt(TopoDS::Vertex(first)),
                                            BRep_Tool::Pnt(TopoDS::Vertex(second)));
}

bool areBoundingBoxesClose(TopoDS_Shape first, TopoDS_Shape second) { return checkBoundingBoxes(first, second).held; }

double meshDeflection(const TopoDS_Shape &shape) {
  double aXmin, aYmin, aZmin, aXmax, aYmax, aZmax;
  nimbo::detail::boundingBox(shape).Get(aXmin, aYmin, aZmin, aXmax, aYmax, aZmax);
  return 0.001 * std::max({aXmax - aXmin, aYmax - aYmin, aZmax - aZmin});
}

void meshShape(TopoDS_Shape shape) {
  if (shape.IsNull()) return;  // nothing to mesh, and a null shape has no type to ask
  if (shape.ShapeType() == TopAbs_EDGE && BRep_Tool::Degenerated(TopoDS::Edge(shape))) return;
  const double deflection = meshDeflection(shape);
  // A triangulation at least this fine is kept, as the mesher would keep it; asking first leaves a
  // meshed shape untouched, so that several threads may compare it at once.
  if (BRepTools::Triangulation(shape, deflection, true)) return;
  // Construction meshes; the triangulation stays on the shared topology.
  BRepMesh_IncrementalMesh Inc(shape, deflection, false, 0.5, false);
}
