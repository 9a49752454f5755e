// Writing assemblies: the parts read back the same, compared by their paths, names, colours and
// measures; and those measures themselves, in closed form where the faces allow.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "assembly_fixtures.h"
#include "assembly_parts.h"
#include "test_checks.h"
#include "test_helpers.h"
#include "topology/ShapeMeasures.h"

#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <TopExp_Explorer.hxx>
#include <gp_Ax1.hxx>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nimbo::readAssembly;
using nimbo::test::box;
using nimbo::test::expectRefusal;
using nimbo::test::pathsOf;
using nimbo::test::plate;
using nimbo::test::translation;

namespace {

// What a written file must give back: the same parts in order, with their paths, names, colours
// and measures, in millimetres.
void expectSameParts(const nimbo::Assembly &written, const nimbo::Assembly &read) {
  EXPECT_EQ(read.lengthUnit, "millimetre");
  ASSERT_EQ(pathsOf(read), pathsOf(written));
  for (std::size_t i = 0; i < written.parts.size(); ++i) {
    const nimbo::Part &before = written.parts[i];
    const nimbo::Part &after = read.parts[i];
    SCOPED_TRACE(before.path);
    EXPECT_EQ(after.name, before.name);
    ASSERT_EQ(after.color.has_value(), before.color.has_value());
    if (before.color) {
      EXPECT_NEAR(after.color->red, before.color->red, 1e-6);
      EXPECT_NEAR(after.color->green, before.color->green, 1e-6);
      EXPECT_NEAR(after.color->blue, before.color->blue, 1e-6);
    }
    const nimbo::PartFigures a = nimbo::measurePart(before), b = nimbo::measurePart(after);
    const double measure = a.volume.value_or(a.area.value_or(a.length.value_or(0.0)));
    EXPECT_NEAR(b.volume.value_or(b.area.value_or(b.length.value_or(0.0))), measure, 1e-9 * measure);
    const double size = a.boxMin.Distance(a.boxMax);
    EXPECT_LT(b.boxMin.Distance(a.boxMin), 1e-9 * size);
    EXPECT_LT(b.boxMax.Distance(a.boxMax), 1e-9 * size);
  }
}

}  // namespace

// The parts read from a file, written and read again, are the same parts: paths with sibling and
// solid suffixes, names the file left to an ancestor, colours of instances and products, parts that
// are no solids, and inch files now in millimetres.
TEST(WriteAssembly, StepRoundTripKeepsTheParts) {
  nimbo::test::TempDirAsTemp dir;
  std::vector<std::string> files = {std::string(NIMBO_SAMPLES_DIR) + "/bolted_joint.step"};
  for (const char *name :
       {"caxif_as1-tu-203_asm.stp", "caxif_dm1-id-214_asm_inch.stp", "solidworks_box_sides_asm_inch.step"}) {
    const fs::path file = fs::path(NIMBO_SHARED_CAD_DIR) / name;
    if (fs::exists(file)) files.push_back(file.string());
  }
  for (const std::string &file : files) {
    SCOPED_TRACE(file);
    const nimbo::Assembly assembly = readAssembly(file);
    const std::string copy = (dir.path() / "copy.step").string();
    nimbo::writeAssembly(assembly, copy);
    expectSameParts(assembly, readAssembly(copy));
  }

  // Built here: siblings of one name sharing topology, a product's two solids in two colours, a
  // shell, a part named only by its assembly, a name beyond ASCII, and one product's pieces at the
  // top, a solid and a face, beside a placed part alone.
  const TopoDS_Shape nut = box({0, 0, 0}, {2, 2, 1});
  TopExp_Explorer shell(box({0, 0, 0}, {3, 3, 3}), TopAbs_SHELL);
  nimbo::Assembly built;
  built.parts = {
      {"rig/plate", "plate", plate.Moved(translation(50, 20, 5)), nimbo::Color{0.2, 0.4, 0.6}},
      {"rig/nut", "nut", nut.Moved(translation(1, 0, 0)), std::nullopt},
      {"rig/nut#2", "nut", nut.Moved(translation(5, 0, 0)), std::nullopt},
      {"rig/frame/pair#1", "pair", box({0, 0, 20}, {1, 1, 21}), nimbo::Color{1, 0, 0}},
      {"rig/frame/pair#2", "pair", box({0, 0, 30}, {1, 1, 31}), nimbo::Color{0, 0, 1}},
      {"rig/frame/skin", "skin", shell.Current().Moved(translation(0, 10, 0)), nimbo::Color{0.5, 0.5, 0.5}},
      {"rig/frame/SOLID", "frame", box({0, 0, 40}, {1, 1, 41}), std::nullopt},
      {"rig/frame/Ø 6 washer", "Ø 6 washer", box({0, 0, 50}, {1, 1, 51}), std::nullopt},
      {"lid#1", "lid", box({10, 10, 10}, {12, 12, 12}).Moved(translation(0, 0, 5)), nimbo::Color{0, 1, 0}},
      {"lid#2", "lid", nimbo::test::rectangleFace(0, 0, 4, 4, 60), std::nullopt},
      {"cap", "cap", box({0, 0, 0}, {1, 2, 3}).Moved(translation(0, 0, 70)), std::nullopt},
  };
  const std::string file = (dir.path() / "built.step").string();
  nimbo::writeAssembly(built, file);
  expectSameParts(built, readAssembly(file));

  // BREP keeps the shapes alone; IGES is not written.
  nimbo::writeAssembly(built, (dir.path() / "built.brep").string());
  EXPECT_EQ(readAssembly((dir.path() / "built.brep").string()).parts.size(), 10u);
  expectRefusal([&] { nimbo::writeAssembly(built, (dir.path() / "built.igs").string()); },
                "built.igs: cannot write \".igs\"; expected .step, .stp or .brep");
}

// Planar faces bounded by lines and arcs are measured in closed form, the others by the kernel's
// adaptive rule about one point: both must add up, wherever the part is placed and however turned.
TEST(Measures, VolumeAndAreaOfAPlacedPlateWithAHoleAndAPin) {
  const double a = 40, b = 30, c = 10, r = 6;
  const TopoDS_Shape plate = BRepAlgoAPI_Cut(box(gp_Pnt(0, 0, 0), gp_Pnt(a, b, c)),
                                             BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 15, -1), gp::DZ()), r, c + 2))
                                 .Shape();
  gp_Trsf turn;
  turn.SetRotation(gp_Ax1(gp_Pnt(1e3, -2e3, 5e2), gp_Dir(1, 2, 3)), 0.7);
  const TopoDS_Shape pin = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 0), gp::DX()), r, c).Shape();
  for (const TopoDS_Shape &shape : {plate, plate.Moved(TopLoc_Location(turn)), plate.Reversed()}) {
    EXPECT_NEAR(nimbo::detail::volumeOf(shape), a * b * c - M_PI * r * r * c, 1e-9);
    EXPECT_NEAR(nimbo::detail::areaOf(shape), 2 * (a * b - M_PI * r * r) + 2 * (a + b) * c + 2 * M_PI * r * c, 1e-9);
  }
  EXPECT_NEAR(nimbo::detail::volumeOf(pin.Moved(TopLoc_Location(turn))), M_PI * r * r * c, 1e-9);
}

// A block with a square hole through its middle: its mass properties in closed form, placed and turned.
TEST(Measures, InertiaOfAPlacedBlockWithASquareHole) {
  const double a = 40, b = 30, c = 10, s = 8;
  const TopoDS_Shape block =
      BRepAlgoAPI_Cut(box(gp_Pnt(0, 0, 0), gp_Pnt(a, b, c)),
                      box(gp_Pnt(a / 2 - s / 2, b / 2 - s / 2, -1), gp_Pnt(a / 2 + s / 2, b / 2 + s / 2, c + 1)))
          .Shape();
  gp_Trsf turn;
  turn.SetRotation(gp_Ax1(gp_Pnt(1e3, -2e3, 5e2), gp_Dir(1, 2, 3)), 0.7);
  const std::optional<GProp_GProps> measure = nimbo::getDominantMeasure(block.Moved(TopLoc_Location(turn)));
  ASSERT_TRUE(measure);
  const double whole = a * b * c, hole = s * s * c;
  EXPECT_NEAR(measure->Mass(), whole - hole, 1e-9);
  const gp_Pnt centre = gp_Pnt(a / 2, b / 2, c / 2).Transformed(turn);
  EXPECT_LT(measure->CentreOfMass().Distance(centre), 1e-9);
  const double moments[] = {(whole * (b * b + c * c) - hole * (s * s + c * c)) / 12,
                            (whole * (a * a + c * c) - hole * (s * s + c * c)) / 12,
                            (whole * (a * a + b * b) - hole * 2 * s * s) / 12};
  const gp_Dir axes[] = {gp::DX(), gp::DY(), gp::DZ()};
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(measure->MomentOfInertia(gp_Ax1(centre, axes[k].Transformed(turn))), moments[k], 1e-6 * moments[k]);
  }
}
