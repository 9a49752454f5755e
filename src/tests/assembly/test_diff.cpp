// Revision diff: moved, rotated, symmetric, edited, deleted, added, renamed and swapped parts, a unit
// change through real STEP files, and a shared CAD assembly against an edited copy of itself.
#include <nimbo/assembly/Assembly.h>

#include "assembly_fixtures.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <TopLoc_Location.hxx>
#include <gp_Ax1.hxx>

#include <cmath>
#include <filesystem>
#include <set>
#include <vector>

using nimbo::diffAssemblies;
using nimbo::Part;
using nimbo::test::box;

namespace {

Part part(const std::string &path, const TopoDS_Shape &shape, const std::string &name = "") {
  return Part{path, name.empty() ? path : name, shape, std::nullopt};
}

TopoDS_Shape moved(const TopoDS_Shape &shape, const gp_Trsf &trsf) { return shape.Moved(TopLoc_Location(trsf)); }

gp_Trsf turn(const gp_Pnt &through, const gp_Dir &axis, double degrees) {
  gp_Trsf trsf;
  trsf.SetRotation(gp_Ax1(through, axis), degrees * M_PI / 180);
  return trsf;
}

const TopoDS_Shape pin = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), 2, 10).Shape();

}  // namespace

TEST(DiffAssemblies, EachKindOfChangeIsNamedWithItsFigures) {
  const TopoDS_Shape plate = box({0, 0, 0}, {100, 50, 10});
  const TopoDS_Shape bar = box({0, 60, 0}, {40, 70, 5});
  const TopoDS_Shape drilled_block = box({120, 0, 0}, {140, 20, 20});
  const TopoDS_Shape hole = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(130, 10, -1), gp_Dir(0, 0, 1)), 3, 22).Shape();
  const std::vector<Part> before = {
      part("plate", plate),
      part("bar", bar),
      part("block", drilled_block),
      part("shaft", BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, -20, 0), gp_Dir(1, 0, 0)), 5, 80).Shape()),
      part("pin", moved(pin, nimbo::test::translation(10, 10, 10)), "pin"),
      part("pin#2", moved(pin, nimbo::test::translation(30, 10, 10)), "pin"),
      part("old_name", box({0, 0, 50}, {5, 5, 55})),
      part("gone", box({200, 0, 0}, {210, 10, 10})),
  };
  const std::vector<Part> after = {
      part("plate", plate),
      part("bar", moved(bar, nimbo::test::translation(0, 5, 0))),
      part("block", BRepAlgoAPI_Cut(drilled_block, hole).Shape()),
      // A shaft is its own image under any turn about its axis.
      part("shaft", moved(before[3].shape, turn({0, -20, 0}, {1, 0, 0}, 90))),
      part("pin", moved(pin, nimbo::test::translation(30, 10, 10)), "pin"),
      part("pin#2", moved(pin, nimbo::test::translation(10, 10, 10)), "pin"),
      part("new_name", box({0, 0, 50}, {5, 5, 55})),
      part("new", box({0, 0, 200}, {10, 10, 212})),  // not the cube that went, which would be a move
      part("turned", moved(box({300, 0, 0}, {320, 10, 6}), turn({310, 5, 3}, {0, 0, 1}, 30))),
  };
  std::vector<Part> before_with_turned = before;
  // Three distinct principal moments, so that the turn is found exactly.
  before_with_turned.push_back(part("turned", box({300, 0, 0}, {320, 10, 6})));
  const nimbo::AssemblyDiff diff = diffAssemblies(before_with_turned, after);

  std::set<std::pair<std::size_t, std::size_t>> unchanged;
  for (const auto &m : diff.unchanged) unchanged.insert({m.before, m.after});
  EXPECT_EQ(unchanged, (std::set<std::pair<std::size_t, std::size_t>>{{0, 0}, {3, 3}, {4, 5}, {5, 4}, {6, 6}}));
  std::set<std::pair<std::size_t, std::size_t>> renamed;
  for (const auto &m : diff.renamed) renamed.insert({m.before, m.after});
  EXPECT_EQ(renamed, (std::set<std::pair<std::size_t, std::size_t>>{{4, 5}, {5, 4}, {6, 6}}));

  ASSERT_EQ(diff.moved.size(), 2u);
  EXPECT_EQ(diff.moved[0].after, 1u);  // the bar, shifted
  EXPECT_NEAR(diff.moved[0].translation.Y(), 5, 1e-6);
  EXPECT_NEAR(diff.moved[0].angle, 0, 1e-6);
  EXPECT_EQ(diff.moved[1].after, 8u);  // turned about z through its centre
  EXPECT_NEAR(diff.moved[1].angle, 30, 1e-6);
  EXPECT_NEAR(std::abs(diff.moved[1].axis.Z()), 1, 1e-9);
  const gp_Pnt centre = gp_Pnt(310, 5, 3);
  gp_Trsf carried;
  carried.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), diff.moved[1].axis), diff.moved[1].angle * M_PI / 180);
  carried.SetTranslationPart(diff.moved[1].translation);
  EXPECT_LT(centre.Transformed(carried).Distance(centre), 1e-6);  // the centre stays where it was

  ASSERT_EQ(diff.modified.size(), 1u);
  EXPECT_EQ(diff.modified[0].before, 2u);
  EXPECT_NEAR(diff.modified[0].removed, M_PI * 9 * 20, 1e-6);
  EXPECT_NEAR(diff.modified[0].added, 0, 1e-9);
  EXPECT_NEAR(diff.modified[0].volumeBefore - diff.modified[0].volumeAfter, M_PI * 9 * 20, 1e-6);
  EXPECT_EQ(diff.added, std::vector<std::size_t>{7});
  EXPECT_EQ(diff.removed, std::vector<std::size_t>{7});
}

// Parts turned about their centres that the shape comparison holds equal where they were, or whose
// principal axes are arbitrary: each is moved by the turn given, which is the least that carries it,
// or unchanged where the turn is one of its own symmetries.
TEST(DiffAssemblies, TurnedPartsAreMovedByTheLeastTurn) {
  const TopoDS_Shape cube = box({20, 0, 0}, {30, 10, 10});
  const TopoDS_Shape bar = box({0, 0, 0}, {10, 10, 40});
  std::vector<gp_Pnt> corners;
  for (int k = 0; k < 6; ++k) corners.push_back({8 * std::cos(k * M_PI / 3), 8 * std::sin(k * M_PI / 3), 0});
  const TopoDS_Shape hexPrism =
      BRepPrimAPI_MakePrism(
          nimbo::test::polygonFace({corners[0], corners[1], corners[2], corners[3], corners[4], corners[5]}),
          gp_Vec(0, 0, 12))
          .Shape();
  // Two cross holes square to each other: outline and inertia are round about the axis, only the
  // holes show a turn about it.
  const auto crossHole = [](const gp_Dir &along) {
    return BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 4).Translated(-3 * gp_Vec(along)), along), 0.5, 6).Shape();
  };
  const TopoDS_Shape crossDrilled =
      BRepAlgoAPI_Cut(BRepAlgoAPI_Cut(pin, crossHole({1, 0, 0})).Shape(), crossHole({0, 1, 0})).Shape();
  // No plane or axis among its faces: only its inertia shows a small turn.
  const TopoDS_Shape splineBlock = BRepBuilderAPI_NurbsConvert(box({0, 0, 0}, {10, 12, 14})).Shape();
  const struct {
    const char *name;
    TopoDS_Shape shape;
    gp_Pnt centre;
    gp_Dir axis;
    double degrees;
    bool symmetry;  // of the part, so it is unchanged
  } cases[] = {
      {"cube about z", cube, {25, 5, 5}, {0, 0, 1}, 30, false},
      {"cube about a skew axis", cube, {25, 5, 5}, {1, 2, 2}, 25, false},
      {"square bar about its length", bar, {5, 5, 20}, {0, 0, 1}, 10, false},
      {"hexagonal prism by a sixth", hexPrism, {0, 0, 6}, {0, 0, 1}, 60, true},
      {"cross-drilled pin about its axis", crossDrilled, {0, 0, 5}, {0, 0, -1}, 40, false},
      {"B-spline block a little", splineBlock, {5, 6, 7}, {0, 1, 0}, 3, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const gp_Trsf turned = turn(c.centre, c.axis, c.degrees);
    const nimbo::AssemblyDiff diff = diffAssemblies({part("p", c.shape)}, {part("p", moved(c.shape, turned))});
    if (c.symmetry) {
      EXPECT_EQ(diff.unchanged.size(), 1u);
      EXPECT_FALSE(diff.changed());
      continue;
    }
    EXPECT_TRUE(diff.unchanged.empty() && diff.modified.empty());
    EXPECT_EQ(diff.moved.size(), 1u);
    if (diff.moved.size() != 1) continue;
    EXPECT_NEAR(diff.moved[0].angle, c.degrees, 1e-6);  // each under 45 degrees, so the least
    EXPECT_NEAR(diff.moved[0].axis.Dot(c.axis), 1, 1e-6);
    EXPECT_LT((diff.moved[0].translation - turned.TranslationPart()).Magnitude(), 1e-6);
  }
}

TEST(DiffAssemblies, SameGeometryInInchesIsUnchanged) {
  nimbo::test::XdeAssembly document;
  const TDF_Label root = document.assembly("rig");
  document.place(root, document.product("base", box({0, 0, 0}, {100, 40, 10})), nimbo::test::translation(0, 0, 1),
                 "base");
  document.place(root, document.product("pin", pin), nimbo::test::translation(20, 20, 10), "pin");
  nimbo::test::TempDir dir;
  document.writeStep(dir.path() / "mm.step", "MM");
  document.writeStep(dir.path() / "inch.step", "INCH");
  const nimbo::Assembly mm = nimbo::readAssembly((dir.path() / "mm.step").string());
  const nimbo::Assembly inch = nimbo::readAssembly((dir.path() / "inch.step").string());
  const nimbo::AssemblyDiff diff = diffAssemblies(mm.parts, inch.parts);
  EXPECT_EQ(diff.unchanged.size(), 2u);
  EXPECT_TRUE(diff.renamed.empty() && diff.moved.empty() && diff.modified.empty() && diff.added.empty() &&
              diff.removed.empty());
}

TEST(DiffAssemblies, SharedCadAssemblyAgainstAnEditedCopy) {
  if (const auto why = nimbo::test::sharedAssemblySkip()) GTEST_SKIP() << *why;
  const std::vector<Part> before = nimbo::readAssembly(nimbo::test::sharedCadFile("caxif_as1-tu-203_asm.stp")).parts;
  std::vector<Part> after = before;
  after[0].shape = moved(after[0].shape, nimbo::test::translation(0, 0, 25));
  after.erase(after.begin() + 5);
  const nimbo::AssemblyDiff diff = diffAssemblies(before, after);
  ASSERT_EQ(diff.moved.size(), 1u);
  EXPECT_EQ(diff.moved[0].before, 0u);
  EXPECT_NEAR(diff.moved[0].translation.Z(), 25, 1e-6);
  EXPECT_EQ(diff.unchanged.size(), before.size() - 2);
  EXPECT_TRUE(diff.renamed.empty());
  EXPECT_EQ(diff.removed, std::vector<std::size_t>{5});
  EXPECT_TRUE(diff.added.empty() && diff.modified.empty());
}
