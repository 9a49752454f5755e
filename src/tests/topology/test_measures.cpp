// Shape measures: classification, negligible shapes, boxes, edges, vertices and internal faces.
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_checks.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <Geom_Line.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_CompSolid.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <gp_Pln.hxx>

using nimbo::test::box;
using nimbo::test::compoundOf;
using nimbo::test::rectangleFace;
using nimbo::test::vertexAt;

namespace {

// Built by hand: the edge makers refuse edges shorter than the modelling tolerance.
TopoDS_Shape segment(double length) {
  BRep_Builder builder;
  TopoDS_Edge edge;
  builder.MakeEdge(edge, new Geom_Line(gp_Pnt(0, 0, 0), gp_Dir(1, 0, 0)), 1e-12);
  builder.Range(edge, 0.0, length);
  return edge;
}

TopoDS_Shape first(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) { return TopExp_Explorer(shape, type).Current(); }

// A unit box whose shell also holds an internal face across its middle.
TopoDS_Shape boxWithInternalFace() {
  BRep_Builder builder;
  TopoDS_Shell shell;
  builder.MakeShell(shell);
  for (TopExp_Explorer faces(box({0, 0, 0}, {1, 1, 1}), TopAbs_FACE); faces.More(); faces.Next()) {
    builder.Add(shell, faces.Current());
  }
  builder.Add(shell, rectangleFace(0, 0, 1, 1, 0.5).Oriented(TopAbs_INTERNAL));
  TopoDS_Solid solid;
  builder.MakeSolid(solid);
  builder.Add(solid, shell);
  return solid;
}

}  // namespace

TEST(ShapeMeasures, DominantTypeIsTheHighestDimensionHeld) {
  const TopoDS_Shape cube = box({0, 0, 0}, {1, 1, 1});
  const TopoDS_Shape face = rectangleFace(0, 0, 1, 1);
  const TopoDS_Shape edge = segment(1);
  TopoDS_CompSolid compsolid;
  BRep_Builder().MakeCompSolid(compsolid);
  const struct {
    const char *name;
    TopoDS_Shape shape;
    TopAbs_ShapeEnum expected;
  } cases[] = {
      {"solid", cube, TopAbs_SOLID},
      {"face", face, TopAbs_FACE},
      {"edge", edge, TopAbs_EDGE},
      {"vertex", vertexAt(0, 0, 0), TopAbs_VERTEX},
      {"wire", first(cube, TopAbs_WIRE), TopAbs_VERTEX},
      {"shell", first(cube, TopAbs_SHELL), TopAbs_VERTEX},
      {"compsolid", compsolid, TopAbs_VERTEX},
      {"null", TopoDS_Shape(), TopAbs_VERTEX},
      {"solid and faces", compoundOf({face, cube, rectangleFace(2, 2, 3, 3)}), TopAbs_SOLID},
      {"faces and edges", compoundOf({edge, face}), TopAbs_FACE},
      {"edges", compoundOf({edge}), TopAbs_EDGE},
      {"vertices", compoundOf({vertexAt(0, 0, 0)}), TopAbs_VERTEX},
      {"empty compound", compoundOf({}), TopAbs_VERTEX},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(getDominantShapeType(c.shape), c.expected);
  }
  EXPECT_TRUE(haveSameShapeType(first(cube, TopAbs_SHELL), first(cube, TopAbs_WIRE)));
  EXPECT_TRUE(haveSameShapeType(compoundOf({cube}), box({5, 5, 5}, {7, 7, 7})));
  EXPECT_FALSE(haveSameShapeType(cube, face));
}

TEST(ShapeMeasures, NegligibleBelowOneHundredMillionth) {
  EXPECT_TRUE(isNegligibleShape(segment(1e-9)));
  EXPECT_FALSE(isNegligibleShape(segment(1e-7)));
  EXPECT_TRUE(isNegligibleShape(BRepBuilderAPI_MakeFace(gp_Pln(), 0, 1e-3, 0, 1e-6).Face()));
  EXPECT_FALSE(isNegligibleShape(rectangleFace(0, 0, 1e-3, 1e-3)));
  EXPECT_FALSE(isNegligibleShape(vertexAt(0, 0, 0)));
  EXPECT_FALSE(isNegligibleShape(compoundOf({})));
  EXPECT_FALSE(isNegligibleShape(box({0, 0, 0}, {1, 1, 1}).Reversed()));  // volume -1
}

TEST(ShapeMeasures, MinEdgeLength) {
  EXPECT_NEAR(getMinEdgeLength(box({0, 0, 0}, {1, 2, 3})), 1.0, 1e-9);
  EXPECT_EQ(getMinEdgeLength(vertexAt(0, 0, 0)), 1e20);
  EXPECT_EQ(getMinEdgeLength(TopoDS_Shape()), 1e20);
}

TEST(ShapeMeasures, BoundingBoxDiagonal) {
  // Only the vertex tolerances (1e-7) enlarge the box.
  EXPECT_NEAR(getBoundingBoxDiagonal(box({0, 0, 0}, {1, 2, 2})), 3.0, 1e-6);
}

TEST(ShapeMeasures, WholeShapeMeasures) {
  const TopoDS_Shape cuboid = box({0, 0, 0}, {1, 2, 3});
  EXPECT_NEAR(getVolume(cuboid), 6.0, 1e-9);
  EXPECT_NEAR(getArea(cuboid), 22.0, 1e-9);
  // Every edge is counted once per face that holds it.
  EXPECT_NEAR(getLength(cuboid), 2 * 4 * 6.0, 1e-9);
  EXPECT_NEAR(getVolume(segment(2)), 0.0, 1e-12);
  EXPECT_NEAR(getLength(segment(2)), 2.0, 1e-12);
}

TEST(ShapeMeasures, CoincidentVertices) {
  const TopoDS_Shape cube = box({0, 0, 0}, {1, 1, 1});
  EXPECT_TRUE(haveCoincidentVertex(cube, box({1, 1, 1}, {2, 2, 2})));
  EXPECT_FALSE(haveCoincidentVertex(cube, box({1 + 1e-5, 1, 1}, {2, 2, 2})));
  EXPECT_TRUE(haveCoincidentVertex(cube, box({1 + 5e-7, 1, 1}, {2, 2, 2})));
  EXPECT_FALSE(haveCoincidentVertex(cube, compoundOf({})));
}

TEST(ShapeMeasures, CenterOfMassByDominantType) {
  const gp_Pnt solidCentre = getCenterOfMass(box({0, 0, 0}, {2, 4, 6}));
  EXPECT_TRUE(solidCentre.IsEqual(gp_Pnt(1, 2, 3), 1e-9));
  EXPECT_TRUE(getCenterOfMass(rectangleFace(0, 0, 2, 2, 5)).IsEqual(gp_Pnt(1, 1, 5), 1e-9));
  EXPECT_TRUE(getCenterOfMass(segment(4)).IsEqual(gp_Pnt(2, 0, 0), 1e-9));
  // No measure of its own: the first vertex stands for the shape.
  EXPECT_TRUE(getCenterOfMass(vertexAt(7, 8, 9)).IsEqual(gp_Pnt(7, 8, 9), 0.0));
  EXPECT_TRUE(getCenterOfMass(compoundOf({vertexAt(1, 2, 3), vertexAt(4, 5, 6)})).IsEqual(gp_Pnt(1, 2, 3), 0.0));
}

TEST(ShapeMeasures, CenterOfMassOfAShapeWithoutVerticesIsRefused) {
  const nimbo::test::TempDirAsTemp temp;  // the exception writes a dump
  struct Case {
    TopoDS_Shape shape;
    const char *message;
  };
  for (const Case &c : {Case{TopoDS_Shape(), "Cannot compute the centre of mass of a null shape"},
                        Case{compoundOf({}), "Cannot compute the centre of mass of a shape without vertices"}}) {
    SCOPED_TRACE(c.message);
    nimbo::test::expectRefusal([&] { getCenterOfMass(c.shape); }, c.message);
  }
}

TEST(ShapeMeasures, InternalFacesAreFoundOnlyInShells) {
  EXPECT_TRUE(hasInternalFaces(boxWithInternalFace()));
  EXPECT_FALSE(hasInternalFaces(box({0, 0, 0}, {1, 1, 1})));
  EXPECT_FALSE(hasInternalFaces(compoundOf({rectangleFace(0, 0, 1, 1).Oriented(TopAbs_INTERNAL)})));
}
