// Check and heal on shapes with one known defect each: the check must find it, healing must repair
// it without moving the volume, and what healing cannot repair must be said.
#include <nimbo/heal/Heal.h>

#include "assembly_fixtures.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <TopExp_Explorer.hxx>

#include <algorithm>

namespace nimbo {
namespace {

Part partOf(const TopoDS_Shape &shape, const std::string &path = "part") { return {path, path, shape, std::nullopt}; }

std::vector<std::string> kindsOf(const std::vector<Finding> &findings) {
  std::vector<std::string> kinds;
  for (const Finding &finding : findings) kinds.push_back(finding.kind);
  kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
  return kinds;
}

double volumeOf(const Part &part) { return measurePart(part).volume.value_or(0.0); }

// The six faces of the cube [0, 10]^3, the top one raised by `lift`.
std::vector<Part> cubeFaces(double lift) {
  std::vector<Part> faces;
  for (TopExp_Explorer face(test::box(gp_Pnt(0, 0, 0), gp_Pnt(10, 10, 10)), TopAbs_FACE); face.More(); face.Next()) {
    TopoDS_Shape shape = face.Current();
    if (measurePart(partOf(shape)).center.Z() > 9.99) {
      gp_Trsf up;
      up.SetTranslation(gp_Vec(0, 0, lift));
      shape = BRepBuilderAPI_Transform(shape, up, true).Shape();
    }
    faces.push_back(partOf(shape, "face" + std::to_string(faces.size() + 1)));
  }
  return faces;
}

// A box checked and healed: the findings before, that it ends ok with its volume, and the steps taken.
void expectHealed(const TopoDS_Shape &shape, const std::vector<std::string> &found, const std::string &step) {
  const Part part = partOf(shape);
  const Checks checks = checkParts({part});
  EXPECT_EQ(kindsOf(checks.parts[0].findings), found);
  EXPECT_EQ(checks.parts[0].verdict, Verdict::healable);
  const Healing healing = healParts({part});
  const PartHealing &report = healing.report[0];
  EXPECT_EQ(report.verdict, Verdict::ok) << (report.remaining.empty() ? "" : report.remaining[0].kind);
  EXPECT_NE(std::find(report.steps.begin(), report.steps.end(), step), report.steps.end());
  EXPECT_LT(report.facesAfter, report.facesBefore);
  EXPECT_NEAR(volumeOf(healing.parts[0]), volumeOf(part), 1e-6 * volumeOf(part));
  EXPECT_EQ(healing.parts[0].path, "part");
}

TEST(Heal, SliversAndShortEdgesGoWithoutMovingTheVolume) {
  // Two boxes fused leave the top and bottom faces split into a 1e-4 wide sliver each, short-edged.
  const TopoDS_Shape split = BRepAlgoAPI_Fuse(test::box(gp_Pnt(0, 0, 0), gp_Pnt(10, 10 - 1e-4, 10)),
                                              test::box(gp_Pnt(0, 10 - 1e-4, 0), gp_Pnt(10, 10, 10)))
                                 .Shape();
  expectHealed(split, {"short edge", "sliver"}, "unify");
  // A corner cut off by a 1.4e-5 edge, drawn up into a prism: two short edges and a small face between.
  const TopoDS_Face base = test::polygonFace(
      {gp_Pnt(0, 0, 0), gp_Pnt(10, 0, 0), gp_Pnt(10, 10, 0), gp_Pnt(1e-5, 10, 0), gp_Pnt(0, 10 - 1e-5, 0)});
  expectHealed(BRepPrimAPI_MakePrism(base, gp_Vec(0, 0, 10)).Shape(), {"short edge", "small face"}, "small");
}

TEST(Heal, LooseFacesSewIntoOneSolidWhereTheGapIsSmallForTheSize) {
  // Six faces, six parts: one solid of the cube's volume, held by the first part.
  const Healing cube = healParts(cubeFaces(0.0));
  ASSERT_EQ(cube.parts.size(), 1u);
  EXPECT_EQ(cube.parts[0].path, "face1");
  EXPECT_NEAR(volumeOf(cube.parts[0]), 1000.0, 1e-9);
  EXPECT_EQ(cube.report[5].sewnInto, 0u);
  // A gap of 1e-3 closes for elements of 1, not for elements of 1e-5.
  const std::vector<Part> gap = cubeFaces(1e-3);
  HealOptions coarse;
  coarse.size = 1.0;
  EXPECT_EQ(kindsOf(checkParts(gap, coarse).parts[2].findings), std::vector<std::string>{"closes when sewn"});
  const Healing healed = healParts(gap, coarse);
  ASSERT_EQ(healed.parts.size(), 1u);
  EXPECT_NEAR(volumeOf(healed.parts[0]), 1000.0, 0.1);  // within the gap's own volume
  HealOptions fine;
  fine.size = 1e-5;
  const Checks open = checkParts(gap, fine);
  EXPECT_EQ(kindsOf(open.parts[2].findings), std::vector<std::string>{"open surface"});
  EXPECT_EQ(open.parts[2].verdict, Verdict::needsAttention);
  EXPECT_EQ(healParts(gap, fine).parts.size(), 6u);
}

TEST(Heal, DefeaturingRemovesOnlyHolesNarrowerThanTheSize) {
  TopoDS_Shape plate = test::box(gp_Pnt(0, 0, 0), gp_Pnt(100, 100, 5));
  for (const auto &[x, radius] : {std::pair{20.0, 1.0}, std::pair{60.0, 10.0}}) {
    plate =
        BRepAlgoAPI_Cut(plate, BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, x, -1), gp_Dir(0, 0, 1)), radius, 7).Shape())
            .Shape();
  }
  HealOptions options;
  options.size = 5.0;
  options.defeature = true;
  const Healing healing = healParts({partOf(plate)}, options);
  EXPECT_EQ(healing.report[0].steps, std::vector<std::string>{"defeature"});
  EXPECT_NEAR(volumeOf(healing.parts[0]), 100.0 * 100 * 5 - M_PI * 100 * 5, 1e-6);
  // Without the option the holes stay, and the volume with them.
  options.defeature = false;
  EXPECT_TRUE(healParts({partOf(plate)}, options).report[0].steps.empty());
}

// Files written by other programs: a cube of six IGES faces, six parts, sews into one solid; a
// one-face sphere closes on its own; the six 10 mm holes through a 20 mm plate, stored as B-spline
// surfaces, go under defeaturing at H = 30.
TEST(Heal, FilesFromOtherProgramsBecomeSolidsAndLoseTheirHoles) {
  if (const auto skip = test::sharedAssemblySkip()) GTEST_SKIP() << *skip;
  const Assembly cube = readAssembly(test::sharedCadFile("ideas_cube1000.igs"));
  const Checks checks = checkParts(cube.parts);
  for (const PartCheck &check : checks.parts) EXPECT_EQ(check.verdict, Verdict::healable);
  const Healing healed = healParts(cube.parts);
  ASSERT_EQ(healed.parts.size(), 1u);
  EXPECT_NEAR(volumeOf(healed.parts[0]), 500.0 * 500 * 500, 1e-6 * 500 * 500 * 500);  // the file's own precision
  const Healing sphere = healParts(readAssembly(test::sharedCadFile("rhino_sphere.igs")).parts);
  EXPECT_EQ(sphere.report[0].solidsAfter, 1u);
  const Assembly as1 = readAssembly(test::sharedCadFile("caxif_as1-tu-203_asm.stp"));
  const auto plate = std::find_if(as1.parts.begin(), as1.parts.end(), [](const Part &p) { return p.path == "as1/plate"; });
  ASSERT_NE(plate, as1.parts.end());
  HealOptions options;
  options.size = 30;
  options.defeature = true;
  const Healing solid = healParts({*plate}, options);
  EXPECT_NEAR(*solid.report[0].volumeAfter - *solid.report[0].volumeBefore, 6 * M_PI * 25 * 20, 1e-3);
}

}  // namespace
}  // namespace nimbo
