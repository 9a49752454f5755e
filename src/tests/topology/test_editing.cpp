// Shape editing and queries: scaling, wire chaining, face normals and distances.
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_checks.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <gp_Ax3.hxx>
#include <gp_Pln.hxx>

#include <vector>

using nimbo::test::box;
using nimbo::test::compoundOf;

namespace {

TopoDS_Shape edge(const gp_Pnt &from, const gp_Pnt &to) { return BRepBuilderAPI_MakeEdge(from, to).Edge(); }

int edgeCount(const TopoDS_Shape &shape) {
  int count = 0;
  for (TopExp_Explorer edges(shape, TopAbs_EDGE); edges.More(); edges.Next()) ++count;
  return count;
}

std::vector<int> edgeCounts(const TopTools_ListOfShape &wires) {
  std::vector<int> counts;
  for (const TopoDS_Shape &wire : wires) {
    EXPECT_EQ(wire.ShapeType(), TopAbs_WIRE);
    counts.push_back(edgeCount(wire));
  }
  return counts;
}

}  // namespace

TEST(ShapeEditing, ScalingIsAboutTheOrigin) {
  const TopoDS_Shape unit = box({0, 0, 0}, {1, 1, 1});
  EXPECT_TRUE(areShapesEqual(scaleShape(unit, 1.0), unit));
  EXPECT_TRUE(areShapesEqual(scaleShape(unit, 2.0), box({0, 0, 0}, {2, 2, 2})));
  const TopoDS_Shape scaled = scaleShape(box({1, 1, 1}, {2, 2, 2}), 2.0);
  EXPECT_TRUE(areShapesEqual(scaled, box({2, 2, 2}, {4, 4, 4})));
  EXPECT_NEAR(getVolume(scaled), 8.0, 1e-9);
}

TEST(ShapeEditing, ScalingANullShapeOrASurfacelessFaceIsRefused) {
  nimbo::test::TempDirAsTemp temp;
  struct Case {
    TopoDS_Shape shape;
    const char *message;
  };
  for (const Case &c : {Case{TopoDS_Shape(), "Empty shape passed to scaleShape()"},
                        Case{compoundOf({box({0, 0, 0}, {1, 1, 1}), nimbo::test::triangulationOnlyFace()}),
                             "Shape with a face without surface passed to scaleShape()"}}) {
    SCOPED_TRACE(c.message);
    nimbo::test::expectRefusal([&] { scaleShape(c.shape, 2.0); }, c.message);
  }
}

TEST(ShapeEditing, WiresFromChainedRectangles) {
  const gp_Pnt a(0, 0, 0), b(1, 0, 0), c(1, 1, 0), d(0, 1, 0);
  const gp_Pnt e(5, 0, 0), f(6, 0, 0), g(6, 1, 0), h(5, 1, 0);
  const TopoDS_Shape rectangles =
      compoundOf({edge(a, b), edge(b, c), edge(c, d), edge(d, a), edge(e, f), edge(f, g), edge(g, h), edge(h, e)});
  EXPECT_EQ(edgeCounts(makeWires(rectangles)), (std::vector<int>{4, 4}));
}

TEST(ShapeEditing, WiresAreChainedInOneForwardPass) {
  const gp_Pnt a(0, 0, 0), b(1, 0, 0), c(1, 1, 0), d(0, 1, 0);
  // Square edges 1..4 head to tail, listed as 1, 3, 2, 4: edge 3 meets neither end when visited.
  const TopoDS_Shape edge3 = edge(c, d);
  const TopoDS_Shape square = compoundOf({edge(a, b), edge3, edge(b, c), edge(d, a)});
  const TopTools_ListOfShape wires = makeWires(square);
  EXPECT_EQ(edgeCounts(wires), (std::vector<int>{3, 1}));
  EXPECT_TRUE(TopExp_Explorer(wires.Last(), TopAbs_EDGE).Current().IsSame(edge3));
}

TEST(ShapeEditing, WiresOfASingleEdgeAndOfNoEdge) {
  EXPECT_EQ(edgeCounts(makeWires(edge({0, 0, 0}, {1, 0, 0}))), (std::vector<int>{1}));
  EXPECT_TRUE(makeWires(compoundOf({})).IsEmpty());
  EXPECT_TRUE(makeWires(TopoDS_Shape()).IsEmpty());
}

TEST(ShapeEditing, FaceNormalIgnoresOrientation) {
  const gp_Pln plane(gp_Ax3(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0)));
  const TopoDS_Shape face = BRepBuilderAPI_MakeFace(plane, 0, 1, 0, 1).Face();
  EXPECT_TRUE(getFaceNormal(face).IsEqual(gp_Dir(0, 0, 1), 1e-12));
  EXPECT_TRUE(getFaceNormal(face.Reversed()).IsEqual(gp_Dir(0, 0, 1), 1e-12));
}

TEST(ShapeEditing, FaceNormalOfANonFaceOrOfASurfacelessFaceIsRefused) {
  nimbo::test::TempDirAsTemp temp;
  struct Case {
    TopoDS_Shape shape;
    const char *message;
  };
  for (const Case &c : {Case{box({0, 0, 0}, {1, 1, 1}), "Face normal requested for shape that is not face"},
                        Case{nimbo::test::triangulationOnlyFace(), "Face normal requested for face without surface"}}) {
    SCOPED_TRACE(c.message);
    nimbo::test::expectRefusal([&] { getFaceNormal(c.shape); }, c.message);
  }
}

TEST(ShapeEditing, MinDistanceAndItsVector) {
  gp_Vec vector(9, 9, 9);
  EXPECT_NEAR(getMinDistance(box({0, 0, 0}, {1, 1, 1}), box({2, 0, 0}, {3, 1, 1}), vector), 1.0, 1e-9);
  EXPECT_TRUE(vector.IsEqual(gp_Vec(1, 0, 0), 1e-9, 1e-9));
  EXPECT_NEAR(getMinDistance(box({0, 0, 0}, {1, 1, 1}), box({1, 0, 0}, {2, 1, 1}), vector), 0.0, 1e-9);
}
