// Reading assemblies: names, unique paths, placements, units, external references and bad files,
// on assemblies written with OCCT's XDE writer and on files from other CAD programs.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "assembly_fixtures.h"
#include "assembly_parts.h"
#include "test_checks.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepTools.hxx>
#include <IGESControl_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <gp_Ax1.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace fs = std::filesystem;
using nimbo::readAssembly;
using nimbo::test::box;
using nimbo::test::compoundOf;
using nimbo::test::expectRefusal;
using nimbo::test::pathsOf;
using nimbo::test::plate;
using nimbo::test::TempDir;
using nimbo::test::translation;
using nimbo::test::XdeAssembly;

namespace {

const TopoDS_Shape bracket = box({0, 0, 0}, {20, 40, 5});
const TopoDS_Shape bolt = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, -10), gp_Dir(0, 0, 1)), 2, 15).Shape();

// Half a turn about the vertical through the plate's centre, then up onto the plate.
gp_Trsf rightPlacement() {
  gp_Trsf turn;
  turn.SetRotation(gp_Ax1(gp_Pnt(50, 20, 0), gp_Dir(0, 0, 1)), M_PI);
  return translation(0, 0, 10) * turn;
}

// joint: the plate as "base", and one bracket assembly placed twice ("left", "right"), each holding
// a bracket and two bolts whose instances have no names of their own. The kernel's STEP writer
// gives a named instance placed where its product lies the name of another instance of that
// product, so every named instance here is moved.
XdeAssembly jointDocument() {
  XdeAssembly document;
  const TDF_Label root = document.assembly("joint");
  const TDF_Label side = document.assembly("bracket_assembly");
  const TDF_Label bolt_product = document.product("bolt", bolt, 0.8, 0.6, 0.1);
  document.place(side, document.product("bracket", bracket));
  document.place(side, bolt_product, translation(5, 10, 5));
  document.place(side, bolt_product, translation(15, 30, 5));
  document.place(root, document.product("plate", plate), translation(50, 20, 5), "base");
  document.place(root, side, translation(0, 0, 10), "left");
  document.place(root, side, rightPlacement(), "right");
  return document;
}

const std::vector<std::string> joint_paths = {"joint/base",        "joint/left/bracket",  "joint/left/bolt",
                                              "joint/left/bolt#2", "joint/right/bracket", "joint/right/bolt",
                                              "joint/right/bolt#2"};

const nimbo::Part &partAt(const nimbo::Assembly &assembly, const std::string &path) {
  for (const nimbo::Part &part : assembly.parts) {
    if (part.path == path) return part;
  }
  throw std::runtime_error("no part " + path);
}

void expectNear(const gp_Pnt &actual, const gp_Pnt &expected, double tolerance) {
  EXPECT_LT(actual.Distance(expected), tolerance) << actual.X() << " " << actual.Y() << " " << actual.Z();
}

// The volumes of the solids of the flattened shape and of the parts, each list sorted.
void expectSameSolidVolumes(const TopoDS_Shape &flattened, const nimbo::Assembly &assembly) {
  std::vector<double> expected, actual;
  for (TopExp_Explorer solids(flattened, TopAbs_SOLID); solids.More(); solids.Next()) {
    expected.push_back(getVolume(solids.Current()));
  }
  for (const nimbo::Part &part : assembly.parts) {
    for (TopExp_Explorer solids(part.shape, TopAbs_SOLID); solids.More(); solids.Next()) {
      actual.push_back(getVolume(solids.Current()));
    }
  }
  std::sort(expected.begin(), expected.end());
  std::sort(actual.begin(), actual.end());
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-9 * expected[i]);
}

}  // namespace

TEST(ReadAssembly, NestedAssemblyGivesNamedPlacedParts) {
  TempDir dir;
  const fs::path file = dir.path() / "joint.step";
  jointDocument().writeStep(file);
  const nimbo::Assembly assembly = readAssembly(file.string());

  EXPECT_EQ(assembly.lengthUnit, "millimetre");
  EXPECT_EQ(pathsOf(assembly), joint_paths);
  EXPECT_EQ(partAt(assembly, "joint/base").name, "plate");
  EXPECT_EQ(partAt(assembly, "joint/right/bolt#2").name, "bolt");
  expectSameSolidVolumes(readStep(file.string()), assembly);

  // One product, two placements: shared topology, centres where the placements put them.
  const nimbo::Part &left = partAt(assembly, "joint/left/bolt#2");
  const nimbo::Part &right = partAt(assembly, "joint/right/bolt#2");
  EXPECT_EQ(left.shape.TShape(), right.shape.TShape());
  const gp_Pnt bolt_center = getCenterOfMass(bolt).Translated(gp_Vec(15, 30, 5));
  expectNear(nimbo::measurePart(left).center, bolt_center.Translated(gp_Vec(0, 0, 10)), 1e-6);
  expectNear(nimbo::measurePart(right).center, bolt_center.Transformed(rightPlacement()), 1e-6);

  ASSERT_TRUE(left.color.has_value());
  EXPECT_NEAR(left.color->red, 0.8, 1e-3);
  EXPECT_NEAR(left.color->green, 0.6, 1e-3);
  EXPECT_NEAR(left.color->blue, 0.1, 1e-3);
  EXPECT_FALSE(partAt(assembly, "joint/base").color.has_value());
}

TEST(ReadAssembly, InchFileNamesItsUnitAndGivesMillimetres) {
  TempDir dir;
  const fs::path file = dir.path() / "joint_inch.step";
  jointDocument().writeStep(file, "INCH");
  const nimbo::Assembly assembly = readAssembly(file.string());
  EXPECT_EQ(assembly.lengthUnit, "INCH");
  EXPECT_EQ(pathsOf(assembly), joint_paths);
  const nimbo::PartFigures base = nimbo::measurePart(partAt(assembly, "joint/base"));
  EXPECT_NEAR(*base.volume, 40000.0, 1e-6 * 40000.0);
  expectNear(base.boxMax, gp_Pnt(100, 40, 10), 1e-6);
}

TEST(ReadAssembly, ExternalReferencesAreFollowedAndAMissingOneIsNamed) {
  nimbo::test::TempDirAsTemp dir;
  const fs::path main_file = dir.path() / "joint.step";
  jointDocument().writeStep(main_file, "MM", true);
  std::vector<fs::path> referenced;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir.path())) {
    if (entry.path() != main_file) referenced.push_back(entry.path());
  }
  ASSERT_FALSE(referenced.empty());

  // Read from elsewhere by a relative path: references are found beside the main file, not in the
  // working directory.
  const fs::path cwd = fs::current_path();
  fs::create_directory(dir.path() / "elsewhere");
  fs::current_path(dir.path() / "elsewhere");
  const nimbo::Assembly assembly = readAssembly("../joint.step");
  fs::current_path(cwd);
  EXPECT_EQ(pathsOf(assembly), joint_paths);
  EXPECT_NEAR(*nimbo::measurePart(partAt(assembly, "joint/base")).volume, 40000.0, 1e-6 * 40000.0);

  std::sort(referenced.begin(), referenced.end());
  const std::string name = referenced.front().filename().string();
  nimbo::test::writeText(referenced.front(), "ISO-10303-21;\nnot a STEP file\n");
  expectRefusal([&] { readAssembly(main_file.string()); },
                "STEP file joint.step refers to " + name + ", which could not be read");
  fs::remove(referenced.front());
  expectRefusal([&] { readAssembly(main_file.string()); },
                "STEP file joint.step refers to " + name + ", which is missing");
}

TEST(ReadAssembly, ProductsGiveOnePartPerSolidAndKeepWhatTheyHoldBesides) {
  TempDir dir;
  XdeAssembly document;
  const TDF_Label root = document.assembly("cell");
  const TopoDS_Shape sheet = nimbo::test::rectangleFace(0, 0, 5, 5, 20);
  document.place(root, document.product("pair", compoundOf({plate, box({0, 0, 10}, {1, 1, 11}), sheet})));
  document.place(root, document.product("skin", compoundOf({sheet})));
  // Two unnamed instances of "tab" and one the file names "tab#2": the suffix skips the taken name.
  const TDF_Label tab = document.product("tab", box({0, 0, 30}, {1, 1, 31}));
  document.place(root, tab);
  document.place(root, tab, translation(2, 0, 0), "tab#2");
  document.place(root, tab, translation(4, 0, 0));
  document.writeStep(dir.path() / "cell.step");
  const nimbo::Assembly assembly = readAssembly((dir.path() / "cell.step").string());

  EXPECT_EQ(pathsOf(assembly), (std::vector<std::string>{"cell/pair#1", "cell/pair#2", "cell/pair#3", "cell/skin",
                                                         "cell/tab", "cell/tab#2", "cell/tab#3"}));
  const nimbo::PartFigures loose = nimbo::measurePart(partAt(assembly, "cell/pair#3"));
  EXPECT_TRUE(loose.type == TopAbs_FACE || loose.type == TopAbs_SHELL)
      << loose.type;  // STEP writes a lone face as a shell
  EXPECT_FALSE(loose.volume.has_value());
  EXPECT_NEAR(*loose.area, 25.0, 1e-9);
  EXPECT_NEAR(*nimbo::measurePart(partAt(assembly, "cell/pair#1")).volume, 40000.0, 1e-6);
  EXPECT_NEAR(*nimbo::measurePart(partAt(assembly, "cell/skin")).area, 25.0, 1e-9);
}

TEST(ReadAssembly, BrepCompoundGivesItsSolidsAndSkipsTheirListedFaces) {
  TempDir dir;
  const TopoDS_Shape cube = box({0, 0, 0}, {1, 1, 1});
  TopExp_Explorer cube_face(cube, TopAbs_FACE);
  // Some writers list a solid's faces beside it; those are no parts of their own.
  const TopoDS_Shape listed =
      compoundOf({cube, box({2, 0, 0}, {3, 1, 1}), cube_face.Current(), nimbo::test::rectangleFace(5, 5, 6, 6)});
  ASSERT_TRUE(BRepTools::Write(listed, (dir.path() / "cubes.brep").c_str()));
  const nimbo::Assembly assembly = readAssembly((dir.path() / "cubes.brep").string());
  EXPECT_EQ(assembly.lengthUnit, "");
  EXPECT_EQ(pathsOf(assembly), (std::vector<std::string>{"solid_1", "solid_2", "face_1"}));
  EXPECT_EQ(assembly.parts.front().name, "cubes");

  // Without solids too: a shell, one of its own faces listed again, and a face of its own.
  TopExp_Explorer shell(cube, TopAbs_SHELL);
  ASSERT_TRUE(
      BRepTools::Write(compoundOf({shell.Current(), cube_face.Current(), nimbo::test::rectangleFace(5, 5, 6, 6)}),
                       (dir.path() / "skins.brep").c_str()));
  const nimbo::Assembly skins = readAssembly((dir.path() / "skins.brep").string());
  ASSERT_EQ(skins.parts.size(), 1u);
  EXPECT_NEAR(*nimbo::measurePart(skins.parts.front()).area, 7.0, 1e-9);

  ASSERT_TRUE(BRepTools::Write(cube, (dir.path() / "cube.brep").c_str()));
  EXPECT_EQ(pathsOf(readAssembly((dir.path() / "cube.brep").string())), std::vector<std::string>{"solid_1"});
}

TEST(ReadAssemblies, SeveralFilesKeepTheirPathsApartByFileName) {
  TempDir dir;
  fs::create_directories(dir.path() / "old");
  for (const char *file : {"a.brep", "b.brep", "old/a.brep"}) {
    ASSERT_TRUE(BRepTools::Write(box({0, 0, 0}, {1, 1, 1}), (dir.path() / file).c_str()));
  }
  const auto read = [&](std::vector<std::string> files) {
    for (std::string &file : files) file = (dir.path() / file).string();
    return nimbo::readAssemblies(files);
  };
  EXPECT_EQ(pathsOf(read({"a.brep"})), std::vector<std::string>{"solid_1"});
  EXPECT_EQ(pathsOf(read({"a.brep", "b.brep"})), (std::vector<std::string>{"a.brep/solid_1", "b.brep/solid_1"}));
  // Two files of one name are told apart by the paths they were given as.
  const std::vector<std::string> same = pathsOf(read({"a.brep", "old/a.brep"}));
  EXPECT_EQ(same, (std::vector<std::string>{(dir.path() / "a.brep/solid_1").string(),
                                            (dir.path() / "old/a.brep/solid_1").string()}));
}

TEST(ReadAssembly, SurfaceOnlyIgesGivesFaceParts) {
  TempDir dir;
  XdeAssembly document;
  document.product("", box({0, 0, 0}, {2, 3, 4}));
  document.writeIgesSurfaces(dir.path() / "skin.igs");
  const nimbo::Assembly assembly = readAssembly((dir.path() / "skin.igs").string());
  EXPECT_EQ(assembly.lengthUnit, "MM");
  ASSERT_FALSE(assembly.parts.empty());
  double area = 0.0;
  for (const nimbo::Part &part : assembly.parts) {
    const nimbo::PartFigures figures = nimbo::measurePart(part);
    EXPECT_FALSE(figures.volume.has_value()) << part.path;
    area += figures.area.value_or(0.0);
  }
  EXPECT_NEAR(area, 2 * (6 + 8 + 12), 1e-6);
}

TEST(ReadAssembly, UnreadableFilesAreRefusedByName) {
  nimbo::test::TempDirAsTemp dir;
  const fs::path d = dir.path();
  nimbo::test::writeText(d / "garbage.step", "not a STEP file\n");
  nimbo::test::writeText(d / "garbage.igs", "not an IGES file\n");
  nimbo::test::writeText(d / "garbage.brep", "not a BREP file\n");
  ASSERT_TRUE(BRepTools::Write(compoundOf({}), (d / "empty.brep").c_str()));
  // Damage that the kernel would read without a word: a number that is not one, and a solid whose
  // shell refers to a face the file does not hold.
  XdeAssembly document;
  document.product("cube", box({0, 0, 0}, {1, 1, 1}));
  document.writeStep(d / "cube.step");
  const std::string step = nimbo::test::readText(d / "cube.step");
  const std::size_t point = step.find("CARTESIAN_POINT('',(") + 20;
  nimbo::test::writeText(d / "nan.step", step.substr(0, point) + "NAN" + step.substr(step.find(',', point)));
  nimbo::test::writeText(d / "huge.step", step.substr(0, point) + "1.E400" + step.substr(step.find(',', point)));
  const std::size_t shell = step.find("CLOSED_SHELL('',(#") + 18;
  nimbo::test::writeText(d / "dangling.step", step.substr(0, shell) + "99999" + step.substr(step.find(',', shell)));
  ASSERT_TRUE(BRepTools::Write(box({0, 0, 0}, {1, 1, 1}), (d / "box.brep").c_str()));
  const std::string brep = nimbo::test::readText(d / "box.brep");
  const std::size_t vertex = brep.find("\n", brep.find("Ve\n")) + 1;
  nimbo::test::writeText(d / "nan.brep", brep.substr(0, vertex) + "nan" + brep.substr(brep.find(' ', vertex)));
  fs::create_directory(d / "folder.step");
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {"missing.step", "missing.step: No such file or directory"},
      {"folder.step", "folder.step: is a directory"},
      {"notes.txt", "notes.txt: unknown extension \".txt\"; expected .step, .stp, .iges, .igs or .brep"},
      {"garbage.step", "STEP file garbage.step could not be read"},
      {"garbage.igs", "IGES file garbage.igs holds no IGES entity"},
      {"garbage.brep", "BREP file garbage.brep could not be read"},
      {"empty.brep", "BREP file empty.brep holds no shape"},
      {"nan.brep", "nan.brep: holds a number that is not finite (nan on line " +
                       std::to_string(std::count(brep.begin(), brep.begin() + vertex, '\n') + 1) + ")"},
      {"dangling.step", "STEP file dangling.step is damaged: Unresolved Reference, Ent.Id.#-3 Param.n0 1 (Id.#99999)"},
  };
  for (const auto &failure : cases) {
    SCOPED_TRACE(failure.file);
    expectRefusal([&] { readAssembly((d / failure.file).string()); }, failure.message);
  }
  const std::size_t hash = step.rfind('#', point);
  const std::string entity = step.substr(hash, step.find_first_not_of("0123456789", hash + 1) - hash);
  expectRefusal([&] { readAssembly((d / "nan.step").string()); },
                "nan.step: holds a number that is not finite (NAN in entity " + entity + ")");
  expectRefusal([&] { readAssembly((d / "huge.step").string()); },
                "huge.step: holds a number that is not finite (a number too large to hold in entity " + entity + ")");
  // An IGES solid whose shell pointer leads nowhere: the kernel would drop the solid and go on.
  {
    IGESControl_Writer writer("MM", 1);
    writer.AddShape(box({0, 0, 0}, {1, 1, 1}));
    writer.ComputeModel();
    ASSERT_TRUE(writer.Write((d / "solid.igs").c_str()));
  }
  std::string iges = nimbo::test::readText(d / "solid.igs");
  const std::size_t solid = iges.find("\n186,") + 1;
  ASSERT_NE(solid, 0u);
  iges.replace(solid, iges.find(',', solid + 4) - solid, "186,999");
  nimbo::test::writeText(d / "broken.igs", iges);
  try {
    readAssembly((d / "broken.igs").string());
    ADD_FAILURE() << "a solid that gave no shape was dropped without a word";
  } catch (const nimbo_exception &error) {
    EXPECT_EQ(std::string(error.what()).rfind("IGES file broken.igs is damaged: its root entity of type 186", 0), 0u)
        << error.what();
  }
  // The shape library's own reader refuses the same damage.
  expectRefusal([&] { readStep((d / "dangling.step").string()); },
                "STEP file dangling.step is damaged: Unresolved Reference, Ent.Id.#-3 Param.n0 1 (Id.#99999)");
}

// What real files hold besides their shapes (text, fonts) may draw the parser's complaints: the
// file reads, and says what it read without. The same complaint about an entity the shapes need
// is damage.
TEST(ReadAssembly, AnnotationsTheParserRejectsAreLeftOutWithAWarning) {
  nimbo::test::TempDirAsTemp dir;
  XdeAssembly document;
  document.product("cube", box({0, 0, 0}, {1, 1, 1}));
  document.writeStep(dir.path() / "cube.step");
  const std::string step = nimbo::test::readText(dir.path() / "cube.step");
  const fs::path annotated = dir.path() / "annotated.step";
  nimbo::test::writeText(annotated, nimbo::test::withRejectedAnnotations(step));
  const std::string warning =
      "STEP file annotated.step: the parser rejected parameters of 2 entities that no shape needs "
      "(ADVANCED_BREP_SHAPE_REPRESENTATION, COMPOSITE_TEXT); read without them";
  const nimbo::Assembly assembly = readAssembly(annotated.string());
  ASSERT_EQ(assembly.parts.size(), 1u);
  EXPECT_NEAR(*nimbo::measurePart(assembly.parts[0]).volume, 1.0, 1e-9);
  EXPECT_EQ(assembly.warnings, std::vector<std::string>{warning});
  std::optional<std::string> left_out;
  EXPECT_FALSE(readStep(annotated.string(), Message_ProgressRange(), left_out).IsNull());
  EXPECT_EQ(left_out, warning);

  // The product where an item was: what the list lost may have been a solid.
  const auto labelOf = [&](const std::string &record) {  // "#7" of "#7 = PRODUCT('..."
    const std::size_t at = step.find(record);
    return step.substr(step.rfind('#', at), step.rfind(' ', at) - step.rfind('#', at));
  };
  const std::string label = labelOf("= PRODUCT('");
  const std::string damaged = "STEP file misplaced.step is damaged: Parameter n0.1 (representation_item) : Entity has "
                              "illegal type (entity " +
                              labelOf("= ADVANCED_BREP_SHAPE_REPRESENTATION") + ", ADVANCED_BREP_SHAPE_REPRESENTATION)";
  nimbo::test::writeText(dir.path() / "misplaced.step", nimbo::test::withRejectedAnnotations(step, label));
  expectRefusal([&] { readAssembly((dir.path() / "misplaced.step").string()); }, damaged);
  expectRefusal([&] { readStep((dir.path() / "misplaced.step").string()); }, damaged);
}

// Files written by other CAD programs: every solid of the flattened read is a part, once.
TEST(ReadAssembly, SharedCadAssemblies) {
  const fs::path cad = NIMBO_SHARED_CAD_DIR;
  if (!fs::is_directory(cad)) GTEST_SKIP() << "no folder " << cad << " beside the repository";
  const struct {
    std::string file;
    std::string unit;
    std::map<std::string, int> names;
  } cases[] = {
      {"caxif_as1-tu-203_asm.stp", "millimetre", {{"nut", 8}, {"bolt", 6}, {"l-bracket", 2}, {"rod", 1}, {"plate", 1}}},
      {"caxif_dm1-id-214_asm_inch.stp", "INCH", {{"bolt", 3}, {"nut", 3}, {"l-bracket", 1}}},
      {"solidworks_box_sides_asm_inch.step",
       "INCH",
       {{"gusset", 4}, {"side_long", 2}, {"box_base", 1}, {"side_short", 1}, {"side_short_B", 1}, {"box_top", 1}}},
  };
  for (const auto &sample : cases) {
    SCOPED_TRACE(sample.file);
    const std::string file = (cad / sample.file).string();
    const nimbo::Assembly assembly = readAssembly(file);
    EXPECT_EQ(assembly.lengthUnit, sample.unit);
    std::map<std::string, int> names;
    for (const nimbo::Part &part : assembly.parts) ++names[part.name];
    EXPECT_EQ(names, sample.names);
    expectSameSolidVolumes(readStep(file), assembly);
  }
}
