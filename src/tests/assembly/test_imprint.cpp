// Imprint: touching parts share their interface faces in one compound, every solid keeps its part,
// overlaps are refused or assigned, and parts that touch nothing come out as they went in.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "assembly_fixtures.h"
#include "conformal_checks.h"
#include "test_checks.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

using nimbo::imprintAssembly;
using nimbo::Part;
using nimbo::test::box;

namespace {

Part part(const std::string &path, const TopoDS_Shape &shape) { return Part{path, path, shape, std::nullopt}; }

TopoDS_Shape cube(double x, double y, double z) { return box({x, y, z}, {x + 10, y + 10, z + 10}); }

int countOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  TopTools_IndexedMapOfShape shapes;
  TopExp::MapShapes(shape, type, shapes);
  return shapes.Extent();
}

}  // namespace

TEST(ImprintAssembly, TouchingCubesShareOneFaceAndKeepTheirParts) {
  const nimbo::Imprint imprint = imprintAssembly({part("a", cube(0, 0, 0)), part("b", cube(10, 0, 0))});
  nimbo::test::expectConformal(imprint);
  EXPECT_EQ(countOf(imprint.compound, TopAbs_SOLID), 2);
  EXPECT_EQ(countOf(imprint.compound, TopAbs_FACE), 11);
  ASSERT_EQ(imprint.interfaces.size(), 1u);
  EXPECT_EQ(imprint.interfaces[0].first, 0u);
  EXPECT_EQ(imprint.interfaces[0].second, 1u);
  ASSERT_EQ(imprint.interfaces[0].faces.size(), 1u);
  EXPECT_NEAR(imprint.interfaces[0].area, 100, 1e-9);
  EXPECT_EQ(imprint.glue, nimbo::Glue::full);
  for (const nimbo::ImprintedPart &p : imprint.parts) {
    EXPECT_EQ(p.solids.size(), 1u);
    EXPECT_EQ(p.boundary.size(), 5u);
    EXPECT_NEAR(p.volume, 1000, 1e-9);
  }
}

TEST(ImprintAssembly, GridOfTouchingCubesGivesEveryInnerFaceOnce) {
  std::vector<Part> parts;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) parts.push_back(part(std::to_string(parts.size()), cube(10 * i, 10 * j, 10 * k)));
    }
  }
  const nimbo::Imprint imprint = imprintAssembly(parts);
  nimbo::test::expectConformal(imprint);
  EXPECT_EQ(countOf(imprint.compound, TopAbs_SOLID), 27);
  EXPECT_EQ(imprint.interfaces.size(), 54u);
  std::size_t boundary = 0;
  for (const nimbo::ImprintedPart &p : imprint.parts) boundary += p.boundary.size();
  EXPECT_EQ(boundary, 54u);  // 6 sides of 9 faces
  EXPECT_EQ(countOf(imprint.compound, TopAbs_FACE), 108);
  EXPECT_EQ(imprint.glue, nimbo::Glue::full);  // blocks meet by whole faces, edges and corners only
}

// A block resting partly on a bigger one, overhanging it: their faces coincide in part.
TEST(ImprintAssembly, BlockOverhangingAnotherIsGluedByShift) {
  const nimbo::Imprint imprint =
      imprintAssembly({part("base", box({0, 0, 0}, {20, 20, 10})), part("top", cube(15, 5, 10))});
  nimbo::test::expectConformal(imprint);
  EXPECT_EQ(imprint.glue, nimbo::Glue::shift);
  ASSERT_EQ(imprint.interfaces.size(), 1u);
  EXPECT_NEAR(imprint.interfaces[0].area, 5 * 10, 1e-9);
  EXPECT_NEAR(imprint.parts[0].volume, 4000, 1e-9);
  EXPECT_NEAR(imprint.parts[1].volume, 1000, 1e-9);
}

TEST(ImprintAssembly, BoltThroughPlateWithNut) {
  const TopoDS_Shape bolt = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 20, -5), gp_Dir(0, 0, 1)), 4, 25).Shape();
  const TopoDS_Shape plate = BRepAlgoAPI_Cut(box({0, 0, 0}, {40, 40, 10}), bolt).Shape();
  const TopoDS_Shape ring = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 20, 10), gp_Dir(0, 0, 1)), 8, 5).Shape();
  const TopoDS_Shape nut = BRepAlgoAPI_Cut(ring, bolt).Shape();
  const nimbo::Imprint imprint = imprintAssembly({part("plate", plate), part("bolt", bolt), part("nut", nut)});
  nimbo::test::expectConformal(imprint);
  ASSERT_EQ(imprint.interfaces.size(), 3u);
  // plate | bolt: the bore; plate | nut: the annulus under the nut; bolt | nut: the nut's bore.
  EXPECT_NEAR(imprint.interfaces[0].area, 2 * M_PI * 4 * 10, 1e-6);
  EXPECT_NEAR(imprint.interfaces[1].area, M_PI * (64 - 16), 1e-6);
  EXPECT_NEAR(imprint.interfaces[2].area, 2 * M_PI * 4 * 5, 1e-6);
  EXPECT_NEAR(imprint.parts[1].volume, M_PI * 16 * 25, 1e-6);
  EXPECT_EQ(imprint.glue, nimbo::Glue::shift);  // the bolt runs on past the bore and the nut's
}

// Crossing blocks, and a block inside another, whose faces never meet: a glue looks safe there, and
// the glued fuse's common region sends the imprint back to the general fuse. Both are refused, or
// their common region given to the earlier part, by the general fuse.
TEST(ImprintAssembly, OverlapsAreRefusedByNameOrGivenToTheEarlierPart) {
  struct Case {
    std::vector<Part> parts;
    double common, first, second, interface;
  };
  const std::vector<Case> cases = {
      {{part("left", cube(0, 0, 0)), part("right", cube(5, 0, 0))}, 500, 1000, 500, 100},
      {{part("inner", cube(10, 10, 10)), part("outer", box({0, 0, 0}, {30, 30, 30}))}, 1000, 1000, 26000, 600},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.parts[0].path);
    nimbo::test::expectRefusal(
        [&] { imprintAssembly(c.parts); },
        "Parts overlap, and one conformal compound cannot hold both sides of an overlap: " + c.parts[0].path + " and " +
            c.parts[1].path + " share " + std::to_string(static_cast<int>(c.common)) +
            " mm^3. Correct the model, or assign each common region to the earlier part");
    nimbo::ImprintOptions assign;
    assign.assignOverlaps = true;
    const nimbo::Imprint imprint = imprintAssembly(c.parts, assign);
    nimbo::test::expectConformal(imprint);
    EXPECT_EQ(imprint.glue, nimbo::Glue::off);
    ASSERT_EQ(imprint.assigned.size(), 1u);
    EXPECT_EQ(imprint.assigned[0].kept, 0u);
    EXPECT_EQ(imprint.assigned[0].lost, 1u);
    EXPECT_NEAR(imprint.assigned[0].volume, c.common, 1e-9);
    EXPECT_NEAR(imprint.parts[0].volume, c.first, 1e-9);
    EXPECT_NEAR(imprint.parts[1].volume, c.second, 1e-9);
    ASSERT_EQ(imprint.interfaces.size(), 1u);
    EXPECT_NEAR(imprint.interfaces[0].area, c.interface, 1e-9);
  }
}

TEST(ImprintAssembly, PartThatTouchesNothingComesOutUnchanged) {
  const TopoDS_Shape apart = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(50, 0, 0), gp_Dir(0, 0, 1)), 3, 10).Shape();
  const nimbo::Imprint imprint =
      imprintAssembly({part("a", cube(0, 0, 0)), part("b", cube(0, 0, 10)), part("apart", apart)});
  nimbo::test::expectConformal(imprint);
  ASSERT_EQ(imprint.parts[2].solids.size(), 1u);
  EXPECT_TRUE(imprint.parts[2].solids[0].IsSame(apart));
  EXPECT_TRUE(areShapesEqual(imprint.parts[2].solids[0], apart));
  EXPECT_EQ(imprint.parts[2].boundary.size(), 3u);
}

TEST(ImprintAssembly, SharedCadAssemblyInterfacesAreItsFaceContacts) {
  if (const auto why = nimbo::test::sharedAssemblySkip()) GTEST_SKIP() << *why;
  const nimbo::Assembly assembly = nimbo::readAssembly(nimbo::test::sharedCadFile("caxif_as1-tu-203_asm.stp"));
  const nimbo::Imprint imprint = imprintAssembly(assembly.parts);
  nimbo::test::expectConformal(imprint);
  std::set<std::pair<std::size_t, std::size_t>> interfaces;
  for (const nimbo::Interface &i : imprint.interfaces) interfaces.insert({i.first, i.second});
  std::set<std::pair<std::size_t, std::size_t>> contacts;
  for (const nimbo::Contact &c : nimbo::findInterferences(assembly.parts).contacts) {
    if (c.kind == nimbo::ContactKind::face) contacts.insert({c.first, c.second});
  }
  EXPECT_EQ(interfaces, contacts);
  EXPECT_EQ(countOf(imprint.compound, TopAbs_SOLID), 18);
  // Its figures are what `parts` gives of the written compound, though integrated a face at a time
  // on several threads.
  for (const nimbo::ImprintedPart &p : imprint.parts) {
    const double measured = nimbo::measurePart(part(p.path, nimbo::test::compoundOf(p.solids))).volume.value();
    EXPECT_NEAR(p.volume, measured, 1e-9 * measured) << p.path;
  }
  for (const nimbo::Interface &i : imprint.interfaces) {
    const double measured = nimbo::measurePart(part("interface", nimbo::test::compoundOf(i.faces))).area.value();
    EXPECT_NEAR(i.area, measured, 1e-9 * measured);
  }
}

// The kernel's parallel fuse must not make the answer depend on luck: every run on several threads
// gives a valid compound with the same solids, interfaces and areas.
TEST(ImprintAssembly, SharedCadAssemblyGivesOneAnswerEveryTime) {
  if (const auto why = nimbo::test::sharedAssemblySkip()) GTEST_SKIP() << *why;
  // One bracket with its three bolts and nuts: instances that share their product's topology.
  std::vector<Part> bracket;
  for (const Part &p : nimbo::readAssembly(nimbo::test::sharedCadFile("caxif_as1-tu-203_asm.stp")).parts) {
    if (p.path.rfind("as1/l-bracket-assembly/", 0) == 0) bracket.push_back(p);
  }
  ASSERT_EQ(bracket.size(), 7u);
  const nimbo::Imprint first = imprintAssembly(bracket);
  nimbo::test::expectConformal(first);
  for (int run = 1; run < 20; ++run) {
    SCOPED_TRACE(run);
    const nimbo::Imprint again = imprintAssembly(bracket);
    ASSERT_EQ(again.interfaces.size(), first.interfaces.size());
    EXPECT_EQ(countOf(again.compound, TopAbs_SOLID), countOf(first.compound, TopAbs_SOLID));
    EXPECT_EQ(countOf(again.compound, TopAbs_FACE), countOf(first.compound, TopAbs_FACE));
    for (std::size_t k = 0; k < first.interfaces.size(); ++k) {
      EXPECT_EQ(again.interfaces[k].faceNumbers, first.interfaces[k].faceNumbers);
      EXPECT_DOUBLE_EQ(again.interfaces[k].area, first.interfaces[k].area);
    }
  }
}
