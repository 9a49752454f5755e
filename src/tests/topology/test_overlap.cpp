// Shape overlap: common parts of full dimension, the dimension rule, compounds and Boolean failures.
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRep_Builder.hxx>
#include <BRep_TEdge.hxx>
#include <BRep_Tool.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Line.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>

#include <cmath>
#include <vector>

using nimbo::test::box;
using nimbo::test::compoundOf;
using nimbo::test::rectangleFace;

namespace {

const TopoDS_Shape unitBox = box({0, 0, 0}, {1, 1, 1});

}  // namespace

TEST(ShapeOverlap, SolidsOverlapOnlyWhenTheyShareVolume) {
  EXPECT_TRUE(doShapesOverlap(unitBox, box({0.5, 0.5, 0.5}, {2, 2, 2})));
  EXPECT_FALSE(doShapesOverlap(unitBox, box({1, 0, 0}, {2, 1, 1})));  // touch along a face
  EXPECT_FALSE(doShapesOverlap(unitBox, box({1, 1, 1}, {2, 2, 2})));  // touch at a corner
  EXPECT_FALSE(doShapesOverlap(unitBox, box({3, 3, 3}, {4, 4, 4})));
}

TEST(ShapeOverlap, DimensionLookedForIsTheFirstShapes) {
  const TopoDS_Shape face = rectangleFace(0.25, 0.25, 0.75, 0.75, 0.5);
  EXPECT_FALSE(doShapesOverlap(unitBox, face));
  EXPECT_TRUE(doShapesOverlap(face, unitBox));
  EXPECT_TRUE(doFacesOverlap(unitBox, face));
}

TEST(ShapeOverlap, CompoundFirstIsTestedThroughItsSubShapesWithTheOtherShapeFirst) {
  const TopoDS_Shape face = rectangleFace(0.25, 0.25, 0.75, 0.75, 0.5);
  // With the compound first the face becomes the first shape, so a common face is enough.
  EXPECT_TRUE(doShapesOverlap(compoundOf({unitBox}), face));
  EXPECT_EQ(doShapesOverlap(compoundOf({unitBox}), face), doShapesOverlap(face, unitBox));
  EXPECT_TRUE(doShapesOverlap(compoundOf({box({5, 5, 5}, {6, 6, 6}), unitBox}), box({0.5, 0, 0}, {1.5, 1, 1})));
  EXPECT_FALSE(doShapesOverlap(compoundOf({}), unitBox));
  EXPECT_TRUE(doShapesOverlap(unitBox, compoundOf({box({0.5, 0.5, 0.5}, {2, 2, 2})})));
}

TEST(ShapeOverlap, ShapesOfNoDimensionNeverOverlap) {
  const TopoDS_Shape shell = TopExp_Explorer(unitBox, TopAbs_SHELL).Current();
  const TopoDS_Shape wire = TopExp_Explorer(unitBox, TopAbs_WIRE).Current();
  const TopoDS_Shape vertex = TopExp_Explorer(unitBox, TopAbs_VERTEX).Current();
  for (const TopoDS_Shape &shape : {shell, wire, vertex}) {
    SCOPED_TRACE(shape.ShapeType());
    EXPECT_FALSE(doShapesOverlap(shape, unitBox));
  }
  EXPECT_FALSE(doShapesOverlap(TopoDS_Shape(), unitBox));
  EXPECT_FALSE(doShapesOverlap(unitBox, TopoDS_Shape()));
}

TEST(ShapeOverlap, ListFormStopsAtTheFirstOverlap) {
  TopTools_ListOfShape candidates;
  EXPECT_FALSE(doesShapeOverlapAny(unitBox, candidates));
  candidates.Append(box({3, 3, 3}, {4, 4, 4}));
  EXPECT_FALSE(doesShapeOverlapAny(unitBox, candidates));
  candidates.Append(box({0.5, 0.5, 0.5}, {2, 2, 2}));
  EXPECT_TRUE(doesShapeOverlapAny(unitBox, candidates));
}

TEST(ShapeOverlap, FailedBooleanIsAnErrorNotAnAnswer) {
  nimbo::test::TempDirAsTemp temp;
  // An edge without vertices makes the intersection fail.
  BRep_Builder builder;
  TopoDS_Edge edge;
  builder.MakeEdge(edge, new Geom_Line(gp_Pnt(-1, 0.5, 0.5), gp_Dir(1, 0, 0)), 1e-7);
  builder.Range(edge, 0.0, 3.0);
  try {
    doShapesOverlap(edge, unitBox);
    FAIL() << "expected nimbo_exception";
  } catch (const nimbo_exception &error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("Boolean common failed in doEdgesOverlap: ", 0), 0u) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << "one line: " << message;
  }
}

TEST(ShapeOverlap, FaceWithoutSurfaceIsRefusedBeforeTheBoolean) {
  nimbo::test::TempDirAsTemp temp;
  const TopoDS_Shape meshOnly = nimbo::test::triangulationOnlyFace();
  for (const bool meshFirst : {true, false}) {
    SCOPED_TRACE(meshFirst ? "mesh first" : "mesh second");
    try {
      meshFirst ? doShapesOverlap(meshOnly, unitBox) : doShapesOverlap(unitBox, meshOnly);
      ADD_FAILURE() << "expected nimbo_exception";
    } catch (const nimbo_exception &error) {
      EXPECT_EQ(std::string(error.what()), std::string("Boolean common failed in ") +
                                               (meshFirst ? "doFacesOverlap" : "doSolidsOverlap") +
                                               ": a face without surface (a triangulation only) cannot take part");
    }
  }
}

namespace {

/// A segment whose edge and vertices carry `tolerance`, so that the Boolean treats as touching
/// whatever lies within it.
TopoDS_Shape looseSegment(const gp_Pnt &from, const gp_Pnt &to, double tolerance) {
  const TopoDS_Edge edge = BRepBuilderAPI_MakeEdge(from, to).Edge();
  BRep_Builder builder;
  builder.UpdateEdge(edge, tolerance);
  for (TopExp_Explorer vertices(edge, TopAbs_VERTEX); vertices.More(); vertices.Next()) {
    builder.UpdateVertex(TopoDS::Vertex(vertices.Current()), tolerance);
  }
  return edge;
}

/// A quarter of the unit cylinder about the line Y = -1 - gap, Z = 1, for 0 <= X <= 1, curving up
/// from its straight edge at Y = -gap, Z = 1. Its edges and vertices carry `tolerance`; the face
/// keeps the default one, and being curved its box holds only that.
TopoDS_Shape looseEdgedQuarterCylinder(double gap, double tolerance) {
  const gp_Ax3 axis(gp_Pnt(0, -1 - gap, 1), gp_Dir(1, 0, 0), gp_Dir(0, 1, 0));
  const Handle(Geom_Surface) cylinder = new Geom_CylindricalSurface(axis, 1);
  const TopoDS_Shape face = BRepBuilderAPI_MakeFace(cylinder, 0, M_PI / 2, 0, 1, 1e-7).Face();
  BRep_Builder builder;
  for (TopExp_Explorer edges(face, TopAbs_EDGE); edges.More(); edges.Next()) {
    builder.UpdateEdge(TopoDS::Edge(edges.Current()), tolerance);
  }
  for (TopExp_Explorer vertices(face, TopAbs_VERTEX); vertices.More(); vertices.Next()) {
    builder.UpdateVertex(TopoDS::Vertex(vertices.Current()), tolerance);
  }
  return face;
}

/// The bottom face of a box standing `gap` above the unit box's top; box faces carry tolerance 1e-7.
TopoDS_Shape faceOfBoxAbove(double gap) {
  return BRepPrimAPI_MakeBox(gp_Pnt(0.25, 0.25, 1 + gap), gp_Pnt(0.75, 0.75, 2)).BottomFace();
}

/// The Boolean test of the first shape's dimension, without any pre-filter.
bool plainBoolean(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  switch (first.ShapeType()) {
    case TopAbs_SOLID:
      return doSolidsOverlap(first, second);
    case TopAbs_FACE:
      return doFacesOverlap(first, second);
    default:
      return doEdgesOverlap(first, second);
  }
}

struct OverlapCase {
  const char *name;
  TopoDS_Shape first;
  TopoDS_Shape second;
  bool overlap;
};

std::vector<OverlapCase> touchingOverlappingAndDisjointPairs() {
  const TopoDS_Shape topEdge = BRepBuilderAPI_MakeEdge(gp_Pnt(0, 0, 1), gp_Pnt(1, 0, 1)).Edge();
  return {
      {"solids sharing volume", unitBox, box({0.5, 0.5, 0.5}, {2, 2, 2}), true},
      {"solids sharing a face", unitBox, box({1, 0, 0}, {2, 1, 1}), false},
      {"solids sharing a corner", unitBox, box({1, 1, 1}, {2, 2, 2}), false},
      {"solids a thousandth apart", unitBox, box({1.001, 0, 0}, {2, 1, 1}), false},
      {"solids far apart", unitBox, box({30, 30, 30}, {31, 31, 31}), false},
      {"face lying on the box's top", rectangleFace(0.25, 0.25, 0.75, 0.75, 1), unitBox, true},
      {"face along the box's top edge", rectangleFace(0, -1, 1, 0, 1), unitBox, false},
      {"face a thousandth above the box", rectangleFace(0.25, 0.25, 0.75, 0.75, 1.001), unitBox, false},
      {"faces sharing an edge", rectangleFace(0, 0, 1, 1), rectangleFace(1, 0, 2, 1), false},
      {"coplanar faces sharing area", rectangleFace(0, 0, 1, 1), rectangleFace(0.5, 0.5, 2, 2), true},
      {"edge along the box's edge", topEdge, unitBox, true},
      {"edge touching the box at a point", BRepBuilderAPI_MakeEdge(gp_Pnt(1, 1, 1), gp_Pnt(2, 2, 2)).Edge(), unitBox,
       false},
      {"edge a thousandth off the box", BRepBuilderAPI_MakeEdge(gp_Pnt(0, -0.001, 1), gp_Pnt(1, -0.001, 1)).Edge(),
       unitBox, false},
      // Apart by more than the straight edge's tolerance but within the loose one's: the Boolean joins them.
      {"loose edge within its tolerance", looseSegment({0, -1e-4, 1}, {1, -1e-4, 1}, 1e-3), topEdge, true},
      {"loose edge beyond its tolerance", looseSegment({0, -2e-3, 1}, {1, -2e-3, 1}, 1e-3), topEdge, false},
      // Only the face's edges are loose: the face's own tolerance does not reach the other edge.
      {"edge within a curved face's edge tolerance", topEdge, looseEdgedQuarterCylinder(1e-4, 1e-3), true},
      // Apart by more than the two tolerances (1e-7 each) but within the Boolean's own fuzzy distance.
      {"face just above the box", faceOfBoxAbove(2.5e-7), unitBox, true},
  };
}

}  // namespace

TEST(ShapeOverlap, BoxPreFilterGivesThePlainBooleansAnswers) {
  for (const OverlapCase &c : touchingOverlappingAndDisjointPairs()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plainBoolean(c.first, c.second), c.overlap);
    EXPECT_EQ(doShapesOverlap(c.first, c.second), c.overlap);
    EXPECT_EQ(plainBoolean(c.second, c.first), doShapesOverlap(c.second, c.first));
  }
}

TEST(ShapeOverlap, ListFormWithThePreFilterFindsWhatThePlainBooleanFinds) {
  for (const OverlapCase &c : touchingOverlappingAndDisjointPairs()) {
    SCOPED_TRACE(c.name);
    // Far candidates before and after, and a compound holding the pair's second shape.
    TopTools_ListOfShape candidates;
    candidates.Append(box({-40, 0, 0}, {-39, 1, 1}));
    candidates.Append(compoundOf({box({50, 50, 50}, {51, 51, 51}), c.second}));
    candidates.Append(box({0, 60, 0}, {1, 61, 1}));
    EXPECT_EQ(doesShapeOverlapAny(c.first, candidates), c.overlap);
  }
}

namespace {

/// What a Boolean could add to a shape in place: curve representations on its edges, and tolerance.
struct Footprint {
  int curveRepresentations = 0;
  double vertexTolerance = 0.0;
  bool operator==(const Footprint &other) const {
    return curveRepresentations == other.curveRepresentations && vertexTolerance == other.vertexTolerance;
  }
};

Footprint footprintOf(const TopoDS_Shape &shape) {
  Footprint footprint;
  for (TopExp_Explorer edges(shape, TopAbs_EDGE); edges.More(); edges.Next()) {
    footprint.curveRepresentations += Handle(BRep_TEdge)::DownCast(edges.Current().TShape())->Curves().Extent();
  }
  footprint.vertexTolerance = BRep_Tool::MaxTolerance(shape, TopAbs_VERTEX);
  return footprint;
}

}  // namespace

TEST(ShapeOverlap, OverlapTestsLeaveTheShapesAsTheyWere) {
  for (const double gap : {0.0, 2.5e-7}) {
    SCOPED_TRACE(gap);
    const TopoDS_Shape solid = box({0, 0, 0}, {1, 1, 1});
    const TopoDS_Shape face = faceOfBoxAbove(gap);
    const Footprint solidBefore = footprintOf(solid);
    const Footprint faceBefore = footprintOf(face);
    ASSERT_TRUE(doShapesOverlap(face, solid));
    EXPECT_TRUE(footprintOf(solid) == solidBefore);
    EXPECT_TRUE(footprintOf(face) == faceBefore);
  }
}
