// Shape comparison: measure, centre and box tests, compounds, directions and tolerances.
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Standard_TypeMismatch.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_CompSolid.hxx>
#include <TopoDS_Solid.hxx>

#include <cmath>

using nimbo::test::box;
using nimbo::test::compoundOf;
using nimbo::test::rectangleFace;
using nimbo::test::vertexAt;

namespace {

TopoDS_Shape unitCube() { return box({-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5}); }

// Same volume (1) and centre as the unit cube; only the boxes tell them apart.
TopoDS_Shape unitVolumeSphere() {
  return BRepPrimAPI_MakeSphere(gp_Pnt(0, 0, 0), std::pow(0.23873241463784303, 0.3333333333333333)).Shape();
}

TopoDS_Shape segment(const gp_Pnt &from, const gp_Pnt &to) { return BRepBuilderAPI_MakeEdge(from, to).Edge(); }

void expectBothWays(const TopoDS_Shape &a, const TopoDS_Shape &b, bool expected) {
  EXPECT_EQ(areShapesEqual(a, b), expected);
  EXPECT_EQ(areShapesEqual(b, a), expected);
}

bool hasTriangulation(const TopoDS_Shape &shape) {
  for (TopExp_Explorer faces(shape, TopAbs_FACE); faces.More(); faces.Next()) {
    TopLoc_Location location;
    if (BRep_Tool::Triangulation(TopoDS::Face(faces.Current()), location).IsNull()) return false;
  }
  return true;
}

}  // namespace

TEST(ShapeComparison, LargeBoxesOffByATenthAreEqualBothWays) {
  expectBothWays(box({0.1, 0.1, 0.1}, {100000, 200000, 300000}), box({0, 0, 0}, {100000.1, 200000.1, 300000.1}), true);
}

TEST(ShapeComparison, SphereAndCubeOfEqualVolumeAreToldApartByTheirBoxes) {
  const TopoDS_Shape sphere = unitVolumeSphere();
  const TopoDS_Shape cube = unitCube();
  ASSERT_NEAR(getVolume(sphere), 1.0, 1e-4);
  expectBothWays(sphere, cube, false);
  EXPECT_FALSE(areBoundingBoxesClose(sphere, cube));
}

TEST(ShapeComparison, NullShapeEqualsNothing) {
  const TopoDS_Shape null;
  const TopoDS_Shape cube = unitCube();
  expectBothWays(null, cube, false);
  EXPECT_FALSE(areShapesEqual(null, null));
  EXPECT_FALSE(areSimpleShapesEqual(null, cube));
  EXPECT_FALSE(areSimpleShapesEqual(cube, null));
  EXPECT_NO_THROW(meshShape(null));
}

TEST(ShapeComparison, OnlySolidsFacesEdgesAndVerticesCanBeEqual) {
  const TopoDS_Shape cube = unitCube();
  const TopoDS_Shape shell = TopExp_Explorer(cube, TopAbs_SHELL).Current();
  const TopoDS_Shape wire = TopExp_Explorer(cube, TopAbs_WIRE).Current();
  TopoDS_CompSolid compsolid;
  BRep_Builder builder;
  builder.MakeCompSolid(compsolid);
  builder.Add(compsolid, cube);
  for (const TopoDS_Shape &shape : {shell, wire, TopoDS_Shape(compsolid)}) {
    SCOPED_TRACE(shape.ShapeType());
    EXPECT_FALSE(areShapesEqual(shape, shape));
    EXPECT_FALSE(areSimpleShapesEqual(shape, shape));
  }
  EXPECT_TRUE(areShapesEqual(cube, cube));
  const TopoDS_Shape face = rectangleFace(0, 0, 1, 1);
  EXPECT_TRUE(areShapesEqual(face, face));
  const TopoDS_Shape edge = segment({0, 0, 0}, {1, 0, 0});
  EXPECT_TRUE(areShapesEqual(edge, edge));
  expectBothWays(cube, face, false);
}

TEST(ShapeComparison, CompoundIsComparedThroughItsDominantSubShapes) {
  const TopoDS_Shape cube = unitCube();
  const TopoDS_Shape face = rectangleFace(0, 0, 1, 1);
  expectBothWays(compoundOf({cube}), cube, true);
  expectBothWays(compoundOf({box({5, 5, 5}, {6, 6, 6}), cube}), cube, true);
  // The free face of a compound that holds a solid never counts.
  expectBothWays(compoundOf({cube, face}), face, false);
  expectBothWays(compoundOf({face}), face, true);
  expectBothWays(compoundOf({}), cube, false);
  EXPECT_FALSE(areShapesEqual(compoundOf({}), compoundOf({})));
  expectBothWays(compoundOf({cube, face}), compoundOf({box({5, 5, 5}, {6, 6, 6}), cube}), true);
}

TEST(ShapeComparison, MeasureToleranceComesFromTheFirstShape) {
  // Volumes 1000 and 1001.0005: more than 0.1 % of the smaller apart, not of the larger.
  const TopoDS_Shape smaller = box({0, 0, 0}, {10, 10, 10});
  const TopoDS_Shape larger = box({0, 0, 0}, {10, 10, 10.010005});
  EXPECT_FALSE(areShapesEqual(smaller, larger));
  EXPECT_TRUE(areShapesEqual(larger, smaller));
}

TEST(ShapeComparison, ToleranceBoundaries) {
  // Lengths 1000 and 1001 differ by exactly 0.1 % of the first: still equal.
  EXPECT_TRUE(areEdgesEqual(segment({0, 0, 0}, {1000, 0, 0}), segment({0, 0, 0}, {1001, 0, 0})));
  EXPECT_FALSE(areEdgesEqual(segment({0, 0, 0}, {1000, 0, 0}), segment({0, 0, 0}, {1001.01, 0, 0})));
  // Same length, centres 0.009 and 0.011 apart against a tolerance of 0.01.
  const TopoDS_Shape edge = segment({0, 0, 0}, {10, 0, 0});
  EXPECT_TRUE(areEdgesEqual(edge, segment({0, 0.009, 0}, {10, 0.009, 0})));
  EXPECT_FALSE(areEdgesEqual(edge, segment({0, 0.011, 0}, {10, 0.011, 0})));
  // Boxes: a bound off by just under 4 % of the largest extent passes, just over fails.
  const TopoDS_Shape cube = box({0, 0, 0}, {100, 100, 100});
  EXPECT_TRUE(areBoundingBoxesClose(cube, box({3.99, 0, 0}, {103.99, 100, 100})));
  EXPECT_FALSE(areBoundingBoxesClose(cube, box({4.01, 0, 0}, {104.01, 100, 100})));
}

// The figures are the verdict's own: at each boundary the held flags are what decided it.
TEST(ShapeComparison, ChecksAreTheFiguresBehindTheVerdict) {
  const TopoDS_Shape edge = segment({0, 0, 0}, {1000, 0, 0});
  const ComparisonChecks at_measure_limit = getComparisonChecks(edge, segment({0, 0, 0}, {1001, 0, 0}), TopAbs_EDGE);
  EXPECT_DOUBLE_EQ(at_measure_limit.measureDifference, 1.0);
  EXPECT_DOUBLE_EQ(at_measure_limit.measureTolerance, 1.0);
  EXPECT_TRUE(at_measure_limit.measureHeld);
  EXPECT_TRUE(at_measure_limit.equal);

  // A bound off by just over 4 % of the extent fails the box check alone among the bounds.
  const TopoDS_Shape cube = box({0, 0, 0}, {100, 100, 100});
  const TopoDS_Shape shifted = box({4.01, 0, 0}, {104.01, 100, 100});
  const ComparisonChecks past_box_limit = getComparisonChecks(cube, shifted, TopAbs_SOLID);
  EXPECT_NEAR(past_box_limit.boxDeviation, 4.01, 1e-6);
  EXPECT_NEAR(past_box_limit.boxTolerance, 4.0, 1e-6);
  EXPECT_FALSE(past_box_limit.boxHeld);
  EXPECT_FALSE(past_box_limit.centerHeld);  // 4.01 against 0.1 % of 100
  EXPECT_TRUE(past_box_limit.measureHeld);
  EXPECT_FALSE(past_box_limit.equal);
  EXPECT_EQ(areSolidsEqual(cube, shifted), past_box_limit.equal);

  const ComparisonChecks box_only = getComparisonChecks(unitCube(), unitVolumeSphere(), TopAbs_SOLID);
  EXPECT_TRUE(box_only.measureHeld && box_only.centerHeld);
  EXPECT_FALSE(box_only.boxHeld);
  EXPECT_EQ(areSolidsEqual(unitCube(), unitVolumeSphere()), box_only.equal);
}

TEST(ShapeComparison, VerticesCoincideWithinOneMillionthWhateverTheModelSize) {
  EXPECT_TRUE(areVerticesEqual(vertexAt(0, 0, 0), vertexAt(1e-6, 0, 0)));
  EXPECT_FALSE(areVerticesEqual(vertexAt(0, 0, 0), vertexAt(1.1e-6, 0, 0)));
  EXPECT_FALSE(areVerticesEqual(vertexAt(1e5, 0, 0), vertexAt(1e5, 2e-6, 0)));
  expectBothWays(vertexAt(1, 2, 3), vertexAt(1, 2, 3), true);
}

TEST(ShapeComparison, SimpleComparisonDispatchesOnTheFirstShapeOnly) {
  const TopoDS_Shape cube = unitCube();
  EXPECT_FALSE(areSimpleShapesEqual(compoundOf({cube}), cube));
  EXPECT_TRUE(areSimpleShapesEqual(cube, cube));
  EXPECT_THROW(areSimpleShapesEqual(vertexAt(0, 0, 0), cube), Standard_TypeMismatch);
}

TEST(ShapeComparison, ListFormsFindAnEqualCandidate) {
  const TopoDS_Shape cube = unitCube();
  TopTools_ListOfShape candidates;
  EXPECT_FALSE(isShapeEqualToAny(cube, candidates));
  EXPECT_FALSE(isSimpleShapeEqualToAny(cube, candidates));
  candidates.Append(unitVolumeSphere());
  EXPECT_FALSE(isShapeEqualToAny(cube, candidates));
  EXPECT_FALSE(isSimpleShapeEqualToAny(cube, candidates));
  candidates.Append(compoundOf({cube}));
  EXPECT_TRUE(isShapeEqualToAny(cube, candidates));
  // The simple form measures the compound candidate as a solid: its type is never checked.
  EXPECT_TRUE(isSimpleShapeEqualToAny(cube, candidates));
}

TEST(ShapeComparison, TriangulationStaysOnTheCallersShapes) {
  const TopoDS_Shape first = box({0, 0, 0}, {1, 1, 1});
  const TopoDS_Shape second = box({0, 0, 0}, {1, 1, 1});
  ASSERT_FALSE(hasTriangulation(first));
  EXPECT_TRUE(areShapesEqual(first, second));
  EXPECT_TRUE(hasTriangulation(first));
  EXPECT_TRUE(hasTriangulation(second));
}

TEST(ShapeComparison, InsideOutSolidEqualsItself) {
  const TopoDS_Shape inverted = box({0, 0, 0}, {2, 3, 4}).Reversed();
  ASSERT_LT(getVolume(inverted), 0.0);
  EXPECT_TRUE(areShapesEqual(inverted, inverted));
  EXPECT_FALSE(areShapesEqual(inverted, box({0, 0, 0}, {2, 3, 4})));
}

TEST(ShapeComparison, DegeneratedEdgeIsComparedWithoutMeshing) {
  const TopoDS_Shape sphere = unitVolumeSphere();
  TopoDS_Shape degenerated;
  for (TopExp_Explorer edges(sphere, TopAbs_EDGE); edges.More(); edges.Next()) {
    if (BRep_Tool::Degenerated(TopoDS::Edge(edges.Current()))) degenerated = edges.Current();
  }
  ASSERT_FALSE(degenerated.IsNull());
  EXPECT_NO_THROW(meshShape(degenerated));
  EXPECT_TRUE(areShapesEqual(degenerated, degenerated));
}
