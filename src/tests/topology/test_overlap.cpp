// Shape overlap: common parts of full dimension, the dimension rule, compounds and Boolean failures.
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_helpers.h"

#include <BRep_Builder.hxx>
#include <Geom_Line.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Edge.hxx>
#include <gtest/gtest.h>

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
    EXPECT_EQ(std::string(error.what()).rfind("Boolean common failed in doEdgesOverlap: ", 0), 0u) << error.what();
  }
}
