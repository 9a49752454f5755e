// CAD import and export: IGES refusals, STEP reading, and files written and read back.
#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_checks.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <IGESControl_Writer.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Controller.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nimbo::test::box;
using nimbo::test::expectRefusal;
using nimbo::test::readText;
using nimbo::test::ScopedStatic;
using nimbo::test::TempDir;
using nimbo::test::TempDirAsTemp;
using nimbo::test::writeText;

namespace {

const std::string not_brep_message =
    " is not of B-Rep format. \n Please make sure your IGES file contains Manifold Solids! \n Usually in CAD editors "
    "there is an option to save IGES with Manifold Solids (B-Rep)";

std::set<std::string> entriesOf(const fs::path &folder) {
  std::set<std::string> names;
  for (const fs::directory_entry &entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

/// Writes the shape as IGES: B-Rep mode gives solids (type 186) and shells, face mode surfaces only.
void writeIges(const TopoDS_Shape &shape, const fs::path &path, bool brep_mode) {
  IGESControl_Writer writer("MM", brep_mode ? 1 : 0);
  writer.AddShape(shape);
  writer.ComputeModel();
  ASSERT_TRUE(writer.Write(path.c_str()));
}

struct IgesEntity {
  int type;
  int form;
  std::string parameters;  // fits one parameter record
};

/// The text of an IGES file holding the entities in order; enough for the kernel's reader.
std::string igesText(const std::vector<IgesEntity> &entities) {
  const auto record = [](const std::string &text, char section, int sequence) {
    char number[16];
    std::snprintf(number, sizeof number, "%c%07d\n", section, sequence);
    return text + std::string(72 - text.size(), ' ') + number;
  };
  const auto fields = [](std::initializer_list<int> values) {
    std::string text;
    char field[16];
    for (int value : values) text += (std::snprintf(field, sizeof field, "%8d", value), field);
    return text;
  };
  const std::string global =
      "1H,,1H;,,8Htest.igs,,,32,308,15,308,15,,1.,2,2HMM,1,1.,15H20240101.000000,1E-07,1.,,,11,0;";
  std::string text = record("", 'S', 1) + record(global.substr(0, 72), 'G', 1) + record(global.substr(72), 'G', 2);
  std::string parameter_records;
  int de = 0;
  int pd = 0;
  for (const IgesEntity &entity : entities) {
    parameter_records +=
        record(entity.parameters + std::string(64 - entity.parameters.size(), ' ') + fields({de + 1}), 'P', ++pd);
    text += record(fields({entity.type, pd, 0, 0, 0, 0, 0, 0}) + "00000000", 'D', ++de);
    text += record(fields({entity.type, 0, 0, 1, entity.form}) + std::string(24, ' ') + fields({0}), 'D', ++de);
  }
  char totals[40];
  std::snprintf(totals, sizeof totals, "S%07dG%07dD%07dP%07d", 1, 2, de, pd);
  return text + parameter_records + record(totals, 'T', 1);
}

const fs::path shared_cad_dir = NIMBO_SHARED_CAD_DIR;
const std::string no_shared_cad =
    "no folder of files from other CAD programs at " NIMBO_SHARED_CAD_DIR " (it lies beside the repository, not in it)";

}  // namespace

TEST(ShapeImport, IgesRefusalsNameTheBareFile) {
  TempDirAsTemp temp;
  const fs::path folder = temp.path() / "parts" / "v2";
  fs::create_directories(folder);
  writeIges(box({0, 0, 0}, {1, 2, 3}), folder / "surfaces.igs", false);
  writeText(folder / "empty.igs", "");
  writeText(folder / "notes.igs", "Not a CAD file.\n");
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {"surfaces.igs", "IGES file surfaces.igs" + not_brep_message},
      {"empty.igs", "IGES file empty.igs" + not_brep_message},
      {"notes.igs", "IGES file notes.igs" + not_brep_message},
      // No model at all: the read status speaks, not the format check.
      {"missing.igs", "Error in IGES file (missing.igs) input data"},
  };
  for (const auto &[file, message] : cases) {
    SCOPED_TRACE(file);
    expectRefusal([&, file = file] { readIges((folder / file).string()); }, message);
  }
}

TEST(ShapeImport, IgesWithBrepSolidGivesTheSolid) {
  TempDir dir;
  const TopoDS_Shape written = box({1, 2, 3}, {11, 22, 33});
  writeIges(written, dir.path() / "solid.igs", true);
  const TopoDS_Shape read = readIges((dir.path() / "solid.igs").string());
  EXPECT_EQ(getDominantShapeType(read), TopAbs_SOLID);
  EXPECT_TRUE(areShapesEqual(read, written));
}

TEST(ShapeImport, IgesWhoseOnlyBrepEntityIsTheLastShellIsAccepted) {
  // A line, then a shell. A well-formed shell lists faces, B-Rep entities that would end the scan
  // before the last entity, and the kernel's reader crashes on a shell without any; so it lists the line.
  TempDirAsTemp temp;
  const IgesEntity line{110, 0, "110,0.,0.,0.,1.,0.,0.;"};
  const IgesEntity shell{514, 1, "514,1,1,1;"};
  writeText(temp.path() / "line.igs", igesText({line}));
  writeText(temp.path() / "line_then_shell.igs", igesText({line, shell}));
  expectRefusal([&] { readIges((temp.path() / "line.igs").string()); }, "IGES file line.igs" + not_brep_message);
  EXPECT_FALSE(readIges((temp.path() / "line_then_shell.igs").string()).IsNull());
}

TEST(ShapeImport, SolidsFromOtherCadProgramsComeInMillimetres) {
  if (!fs::is_directory(shared_cad_dir)) GTEST_SKIP() << no_shared_cad;
  const struct {
    std::string file;
    double volume;  // mm^3
  } cases[] = {
      {"elmer_cylinder_in_channel.iges", 0.41615}, {"pointwise_aneurysm_case1.iges", 8651578.9},  // in inches
      {"euclid_screw.step", 3788.27059},           {"solidworks_base_interface_ap203_inch.step", 1257991.53},
      {"caxif_as1-tu-203_asm.stp", 764518.0295},  // an assembly of 18 solids
  };
  for (const auto &[file, volume] : cases) {
    SCOPED_TRACE(file);
    const std::string path = (shared_cad_dir / file).string();
    const TopoDS_Shape shape = file_extension(path) == ".iges" ? readIges(path) : readStep(path);
    EXPECT_EQ(getDominantShapeType(shape), TopAbs_SOLID);
    EXPECT_NEAR(getVolume(shape), volume, 1e-6 * volume);
  }
}

TEST(ShapeImport, StepWithoutTransferableContentGivesNullShape) {
  TempDir dir;
  writeStep(nimbo::test::compoundOf({}), (dir.path() / "no_shape.step").string());
  writeText(dir.path() / "empty.step", "");
  writeText(dir.path() / "notes.step", "Not a CAD file.\n");
  // The last three leave the reader without a model, which the kernel's transfer does not survive.
  for (const char *file : {"no_shape.step", "empty.step", "notes.step", "missing.step"}) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(readStep((dir.path() / file).string()).IsNull());
  }
}

TEST(ShapeImport, ReadStepSwitchesOnNonManifoldReading) {
  STEPControl_Controller::Init();  // defines the STEP parameters
  ScopedStatic nonmanifold("read.step.nonmanifold", "0");
  TempDir dir;
  writeStep(box({0, 0, 0}, {1, 1, 1}), (dir.path() / "box.step").string());
  readStep((dir.path() / "box.step").string());
  EXPECT_EQ(Interface_Static::IVal("read.step.nonmanifold"), 1);
}

TEST(ShapeExport, BrepReadsBackEqualWithItsTriangulation) {
  TempDir dir;
  const TopoDS_Shape written = box({0, 0, 0}, {3, 4, 5});
  BRepMesh_IncrementalMesh(written, 0.1);
  const fs::path path = dir.path() / "box.brep";
  writeBrep(written, path.string());
  EXPECT_EQ(entriesOf(dir.path()), std::set<std::string>{"box.brep"});

  TopoDS_Shape read;
  ASSERT_TRUE(BRepTools::Read(read, path.c_str(), BRep_Builder()));
  TopLoc_Location location;
  EXPECT_FALSE(BRep_Tool::Triangulation(TopoDS::Face(TopExp_Explorer(read, TopAbs_FACE).Current()), location).IsNull());
  EXPECT_TRUE(areShapesEqual(read, written));
  EXPECT_TRUE(areShapesEqual(written, read));
}

TEST(ShapeExport, StepReadsBackWithTheSameVolumeInAnyFileUnit) {
  STEPControl_Controller::Init();  // defines the STEP parameters
  const TopoDS_Shape written = box({0, 0, 0}, {25.4, 50.8, 10});
  const struct {
    std::string unit;
    std::string declaration;  // how the file names its unit
  } cases[] = {{"MM", "SI_UNIT(.MILLI.,.METRE.)"}, {"INCH", "CONVERSION_BASED_UNIT('INCH'"}};
  for (const auto &[unit, declaration] : cases) {
    SCOPED_TRACE(unit);
    TempDir dir;
    const fs::path path = dir.path() / "box.step";
    {
      ScopedStatic file_unit("write.step.unit", unit);
      writeStep(written, path.string());
    }
    EXPECT_EQ(entriesOf(dir.path()), std::set<std::string>{"box.step"});
    EXPECT_NE(readText(path).find(declaration), std::string::npos);
    const TopoDS_Shape read = readStep(path.string());
    EXPECT_EQ(getDominantShapeType(read), TopAbs_SOLID);
    EXPECT_NEAR(getVolume(read), getVolume(written), 1e-6 * getVolume(written));
  }
}

TEST(ShapeExport, FailedWritesThrowAndLeaveEverythingAsItWas) {
  TempDirAsTemp temp;  // the exceptions' dumps go here
  TempDir dir;
  const TopoDS_Shape shape = box({0, 0, 0}, {1, 1, 1});
  const std::string in_missing_folder = (dir.path() / "missing" / "part").string();
  expectRefusal([&] { writeStep(shape, in_missing_folder + ".step"); },
                "Could not write STEP file " + in_missing_folder + ".step");
  expectRefusal([&] { writeBrep(shape, in_missing_folder + ".brep"); },
                "Could not write BREP file " + in_missing_folder + ".brep");
  // A path naming a folder is written in full beside it, then cannot take its place.
  fs::create_directory(dir.path() / "folder.brep");
  expectRefusal([&] { writeBrep(shape, (dir.path() / "folder.brep").string()); },
                "Could not write BREP file " + (dir.path() / "folder.brep").string());
  // A shape the translator cannot take keeps the earlier file.
  writeText(dir.path() / "earlier.step", "earlier content");
  expectRefusal([&] { writeStep(TopoDS_Shape(), (dir.path() / "earlier.step").string()); },
                "Could not write STEP file " + (dir.path() / "earlier.step").string());
  EXPECT_EQ(readText(dir.path() / "earlier.step"), "earlier content");
  EXPECT_EQ(entriesOf(dir.path()), (std::set<std::string>{"earlier.step", "folder.brep"}));
  EXPECT_TRUE(fs::is_empty(dir.path() / "folder.brep"));
}
