// nimbo-shape run as a process: its answers against the library's own, its exit codes, its error
// lines, and what it leaves on the streams and in the working directory.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_helpers.h"
#include "tool_run.h"

#include <gtest/gtest.h>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <IGESControl_Writer.hxx>
#include <Message_ProgressIndicator.hxx>
#include <Message_ProgressScope.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using nimbo::test::box;
using nimbo::test::readText;
using nimbo::test::runTool;
using nimbo::test::TempDir;
using nimbo::test::ToolRun;
using nlohmann::json;

namespace {

const std::string samples = NIMBO_SAMPLES_DIR;
const std::string step_part = samples + "/flanged_shaft.step";
const std::string iges_part = samples + "/flanged_shaft.igs";
const std::string ring = samples + "/bearing_ring.step";
const std::string face_1 = samples + "/shaft_small_face_1.brep";
const std::string face_2 = samples + "/shaft_small_face_2.brep";
const std::string joint = samples + "/bolted_joint.step";

TopoDS_Shape readBrepFile(const std::string &path) {
  TopoDS_Shape shape;
  BRep_Builder builder;
  BRepTools::Read(shape, path.c_str(), builder);
  return shape;
}

TopoDS_Shape readSample(const std::string &path) {
  const std::string extension = fs::path(path).extension().string();
  if (extension == ".step") return readStep(path);
  if (extension == ".igs") return readIges(path);
  return readBrepFile(path);
}

void writeBrepFile(const TopoDS_Shape &shape, const fs::path &path) {
  ASSERT_TRUE(BRepTools::Write(shape, path.c_str()));
}

void expectFigure(const json &value, double expected) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(value.is_null()) << value;
  } else {
    ASSERT_TRUE(value.is_number()) << value;
    EXPECT_DOUBLE_EQ(value.get<double>(), expected);
  }
}

}  // namespace

TEST(NimboShapeStats, EveryFigureIsTheLibrarysAndUnwrittenFieldsAreNull) {
  const struct {
    std::string file;
    std::string dominant_type;
  } cases[] = {{step_part, "solid"}, {iges_part, "solid"}, {face_1, "face"}};
  TempDir dir;
  for (const auto &sample : cases) {
    SCOPED_TRACE(sample.file);
    const ToolRun run = runTool({"stats", "--json", sample.file}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const json report = json::parse(run.out);

    const TopoDS_Shape shape = readSample(sample.file);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ShapeStatistics s{nan, nan, nan, nan, nan, nan, nan, nan, nan, nan, nan, nan, nan};
    getShapeStatistics(shape, s);
    const json &r = report["statistics"];
    const std::pair<const char *, double> fields[] = {{"xmax", s.xmax},
                                                      {"ymax", s.ymax},
                                                      {"zmax", s.zmax},
                                                      {"xmin", s.xmin},
                                                      {"ymin", s.ymin},
                                                      {"zmin", s.zmin},
                                                      {"center_x", s.centerX},
                                                      {"center_y", s.centerY},
                                                      {"center_z", s.centerZ},
                                                      {"length", s.length},
                                                      {"area", s.area},
                                                      {"volume", s.volume},
                                                      {"axial_volume", s.axialVolume}};
    ASSERT_EQ(r.size(), 13u);
    for (const auto &[key, expected] : fields) {
      SCOPED_TRACE(key);
      expectFigure(r.at(key), expected);
    }
    EXPECT_EQ(report["file"], sample.file);
    EXPECT_EQ(report["dominant_type"], sample.dominant_type);
    expectFigure(report["bounding_box_diagonal"], getBoundingBoxDiagonal(shape));
    expectFigure(report["min_edge_length"], getMinEdgeLength(shape));
    EXPECT_EQ(report["negligible"], isNegligibleShape(shape));
    EXPECT_EQ(report["internal_faces"], hasInternalFaces(shape));
  }
}

TEST(NimboShapeStats, SamplePartIsTheFlangedShaftInMillimetres) {
  TempDir dir;
  const ToolRun run = runTool({"stats", "--json", step_part}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);
  // Flange r 30 x 10 and shaft r 10 x 90, less four bolt holes r 3 x 10.
  EXPECT_NEAR(report["statistics"]["volume"].get<double>(), 17640 * M_PI, 1e-6 * 17640 * M_PI);
  EXPECT_NEAR(report["statistics"]["ymax"].get<double>(), 100.0, 1e-6);
  EXPECT_EQ(report["counts"], json({{"solids", 1}, {"faces", 9}, {"edges", 18}, {"vertices", 12}}));
}

TEST(NimboShapeStats, TextIsAlignedAndShowsUnwrittenFieldsAsAbsent) {
  TempDir dir;
  const ToolRun run = runTool({"stats", step_part}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::string line;
  std::size_t value_column = std::string::npos;
  int rows = 0;
  while (std::getline(lines, line)) {
    ++rows;
    const std::size_t column = line.find_first_not_of(' ', line.find(' '));
    if (value_column == std::string::npos) value_column = column;
    EXPECT_EQ(column, value_column) << line;
    if (line.rfind("length ", 0) == 0 || line.rfind("area ", 0) == 0) {
      EXPECT_EQ(line.substr(column), "n/a");
    }
  }
  EXPECT_EQ(rows, 24);
  EXPECT_EQ(run.out.find("nan\n"), std::string::npos);
}

TEST(NimboShapeParts, JsonIsTheLibrarysPartsAndFigures) {
  TempDir dir;
  const ToolRun run = runTool({"parts", "--json", joint}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const nlohmann::ordered_json report = nlohmann::ordered_json::parse(run.out);
  std::vector<std::string> keys;
  for (const auto &item : report.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"file", "length_unit", "parts"}));
  EXPECT_EQ(report["file"], joint);
  EXPECT_EQ(report["length_unit"], "millimetre");

  const nimbo::Assembly assembly = nimbo::readAssembly(joint);
  ASSERT_EQ(report["parts"].size(), assembly.parts.size());
  ASSERT_EQ(assembly.parts.size(), 11u);  // the plate, and twice a bracket with two bolts and two nuts
  for (std::size_t i = 0; i < assembly.parts.size(); ++i) {
    const nimbo::Part &part = assembly.parts[i];
    SCOPED_TRACE(part.path);
    const nimbo::PartFigures figures = nimbo::measurePart(part);
    const nlohmann::ordered_json &row = report["parts"][i];
    keys.clear();
    for (const auto &item : row.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"path", "name", "type", "volume", "area", "center", "box"}));
    EXPECT_EQ(row["path"], part.path);
    EXPECT_EQ(row["name"], part.name);
    EXPECT_EQ(row["type"], "solid");
    expectFigure(row["volume"], *figures.volume);
    EXPECT_TRUE(row["area"].is_null());
    for (int k = 0; k < 3; ++k) {
      expectFigure(row["center"][k], figures.center.Coord(k + 1));
      expectFigure(row["box"]["min"][k], figures.boxMin.Coord(k + 1));
      expectFigure(row["box"]["max"][k], figures.boxMax.Coord(k + 1));
    }
  }
  EXPECT_EQ(report["parts"][10]["path"], "bolted_joint/right/nut#2");

  const ToolRun text = runTool({"parts", joint}, dir.path());
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.rfind("file         " + joint + "\nlength_unit  millimetre\nparts        11\n", 0), 0u)
      << text.out;
  EXPECT_NE(text.out.find("\nbolted_joint/right/nut#2    nut      solid  576.5569  n/a   (140, 15, -3)"),
            std::string::npos)
      << text.out;
}

TEST(NimboShapeCompare, ShaftFacesAreEqualBothWays) {
  TempDir dir;
  const ToolRun run = runTool({"compare", "--json", face_1, face_2}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["equal"], true);
  for (const char *direction : {"first_to_second", "second_to_first"}) {
    SCOPED_TRACE(direction);
    EXPECT_EQ(report[direction]["equal"], true);
    const json &checks = report[direction]["checks"];
    EXPECT_LE(checks["measure_difference"].get<double>(), checks["measure_tolerance"].get<double>());
  }
  EXPECT_DOUBLE_EQ(report["first"]["measure"].get<double>(), getArea(readBrepFile(face_1)));

  const ToolRun text = runTool({"compare", face_1, face_2}, dir.path());
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("\nverdict            equal\n"), std::string::npos) << text.out;
}

// Tolerances come from the first shape, so a slightly smaller and shifted box can pass one way and
// fail the other: the report has to say which way failed.
TEST(NimboShapeCompare, ReportNamesTheDirectionThatFailed) {
  TempDir dir;
  // Volume 999.5 against 1000 passes both ways; the centres lie 0.0099992 apart, inside 0.1 % of
  // the first box's edge (0.01) but outside 0.1 % of the second's (0.0099983).
  const double height = 9.995;
  const double shift = std::sqrt(std::pow(0.0099992, 2) - std::pow((10 - height) / 2, 2));
  const TopoDS_Shape larger = box(gp_Pnt(0, 0, 0), gp_Pnt(10, 10, 10));
  const TopoDS_Shape smaller = box(gp_Pnt(shift, 0, 0), gp_Pnt(10 + shift, 10, height));
  ASSERT_TRUE(areShapesEqual(larger, smaller));
  ASSERT_FALSE(areShapesEqual(smaller, larger));
  writeBrepFile(larger, dir.path() / "larger.brep");
  writeBrepFile(smaller, dir.path() / "smaller.brep");

  const ToolRun run = runTool({"compare", "larger.brep", "smaller.brep"}, dir.path());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("first -> second      equal\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("second -> first      not equal\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  center distance    0.0099992"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("exceeded"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("verdict              not equal (second -> first failed)\n"), std::string::npos) << run.out;

  const json report = json::parse(runTool({"compare", "--json", "larger.brep", "smaller.brep"}, dir.path()).out);
  EXPECT_EQ(report["equal"], false);
  EXPECT_EQ(report["first_to_second"]["equal"], true);
  EXPECT_EQ(report["second_to_first"]["equal"], false);
  const json &checks = report["second_to_first"]["checks"];
  EXPECT_GT(checks["center_distance"].get<double>(), checks["center_tolerance"].get<double>());
}

TEST(NimboShapeCompare, CompoundIsSaidToBeComparedThroughItsOwnParts) {
  TempDir dir;
  writeBrepFile(nimbo::test::compoundOf({box(gp_Pnt(0, 0, 0), gp_Pnt(1, 1, 1))}), dir.path() / "boxes.brep");
  const ToolRun run = runTool({"compare", face_1, "boxes.brep"}, dir.path());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("(a compound is compared through its solids)\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("faces)"), std::string::npos) << run.out;
}

TEST(NimboShapeOverlapAndDistance, ExitStatusFollowsTheAnswer) {
  const struct {
    std::string first;
    std::string second;
    bool overlap;
  } cases[] = {{face_1, face_2, true}, {step_part, ring, false}};
  TempDir dir;
  for (const auto &pair : cases) {
    SCOPED_TRACE(pair.first + " / " + pair.second);
    const ToolRun run = runTool({"overlap", "--json", pair.first, pair.second}, dir.path());
    EXPECT_EQ(run.status, pair.overlap ? 0 : 1) << run.err;
    EXPECT_EQ(json::parse(run.out)["overlap"], pair.overlap);
  }
}

TEST(NimboShapeOverlapAndDistance, DistanceAndVectorAreTheLibrarys) {
  TempDir dir;
  const ToolRun run = runTool({"distance", "--json", step_part, ring}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);
  gp_Vec vector;
  const double distance = getMinDistance(readStep(step_part), readStep(ring), vector);
  EXPECT_DOUBLE_EQ(report["distance"].get<double>(), distance);
  EXPECT_NEAR(distance, 2.0, 1e-6);  // the ring's radial clearance
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(report["vector"][i].get<double>(), vector.Coord(i + 1));
}

TEST(NimboShapeConvert, WritesTheScaledShapeInTheOutputsFormat) {
  TempDir dir;
  const double volume = getVolume(readStep(step_part));
  for (const char *output : {"part.brep", "part.stp"}) {
    SCOPED_TRACE(output);
    const ToolRun run = runTool({"convert", "--json", step_part, output, "--scale", "0.5"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(json::parse(run.out),
              json({{"input", step_part}, {"output", output}, {"scale", 0.5}, {"dominant_type", "solid"}}));
    const fs::path written = dir.path() / output;
    const TopoDS_Shape shape = written.extension() == ".brep" ? readBrepFile(written) : readStep(written);
    EXPECT_NEAR(getVolume(shape), volume / 8, 1e-6 * volume);
  }
}

// Each failure: exit status 2, nothing on standard output even with --json, and one line on
// standard error that names the file and the problem.
TEST(NimboShapeErrors, EachFailureIsOneLineNamingTheFile) {
  TempDir dir;
  const fs::path d = dir.path();
  {
    IGESControl_Writer writer("MM", 0);  // face mode: trimmed surfaces, no B-Rep entity
    writer.AddShape(box(gp_Pnt(0, 0, 0), gp_Pnt(1, 1, 1)));
    writer.ComputeModel();
    ASSERT_TRUE(writer.Write((d / "surfaces.igs").c_str()));
  }
  std::ofstream(d / "garbage.step") << "not a STEP file\n";
  std::ofstream(d / "garbage.brep") << "not a BREP file\n";
  fs::create_directory(d / "taken.step");
  const std::string not_brep =
      "IGES file surfaces.igs is not of B-Rep format. Please make sure your IGES file contains Manifold Solids! "
      "Usually in CAD editors there is an option to save IGES with Manifold Solids (B-Rep)";
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"stats", "missing.step"}, "missing.step: No such file or directory"},
      {{"stats", "notes.txt"}, "notes.txt: unknown extension \".txt\"; expected .step, .stp, .iges, .igs or .brep"},
      {{"stats", "surfaces.igs"}, "surfaces.igs: " + not_brep},
      {{"stats", "garbage.step"}, "garbage.step: no shape could be read from the file"},
      {{"stats", "garbage.brep"}, "garbage.brep: not a readable BREP file"},
      {{"parts", "missing.step"}, "missing.step: No such file or directory"},
      {{"parts", "garbage.step"}, "garbage.step: STEP file garbage.step could not be read"},
      {{"compare", step_part, "missing.brep"}, "missing.brep: No such file or directory"},
      {{"convert", step_part, "part.igs"}, "part.igs: IGES cannot be written; write .step, .stp or .brep"},
      {{"convert", step_part, "no/part.step"}, "no/part.step: the folder no does not exist"},
      {{"convert", step_part, "taken.step"}, "taken.step: Could not write STEP file taken.step"},
  };
  for (const auto &failure : cases) {
    std::vector<std::string> args = failure.args;
    args.push_back("--json");
    SCOPED_TRACE(args[0] + " " + args[1]);
    const ToolRun run = runTool(args, d);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "nimbo-shape: " + failure.line + "\n");
  }
  // A failed conversion leaves no partial file behind.
  EXPECT_FALSE(fs::exists(d / "part.igs"));
  for (const fs::directory_entry &entry : fs::directory_iterator(d)) {
    EXPECT_EQ(entry.path().extension() == ".tmp", false) << entry.path();
  }
}

TEST(NimboShapeErrors, ReportThatCannotBeWrittenIsAFailure) {
  TempDir dir;
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    std::vector<std::string> args = {"stats", face_1};
    if (json) args.push_back("--json");
    const ToolRun run = runTool(args, dir.path(), "/dev/full");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "nimbo-shape: standard output: the report could not be written\n");
  }
}

// Several files and a folder: one JSON line per file in input order, a refused file as its error,
// the summary on standard error, and exit 2 because one failed.
TEST(NimboShapeBatch, JsonLinesInInputOrderWithErrorsAndSummary) {
  TempDir dir;
  fs::create_directories(dir.path() / "folder" / "deeper");
  fs::copy_file(face_1, dir.path() / "folder" / "deeper" / "b.BREP");
  fs::copy_file(face_2, dir.path() / "folder" / "a.brep");
  nimbo::test::writeText(dir.path() / "folder" / "notes.txt", "not a CAD file");
  nimbo::test::writeText(dir.path() / "broken.step", "not a STEP file\n");
  const ToolRun run = runTool({"stats", "--json", "--jobs", "2", step_part, "broken.step", "folder"}, dir.path());
  EXPECT_EQ(run.status, 2) << run.err;
  std::vector<json> rows;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) rows.push_back(json::parse(line));
  ASSERT_EQ(rows.size(), 4u) << run.out;
  EXPECT_EQ(rows[0]["file"], step_part);
  EXPECT_EQ(rows[0]["counts"]["solids"], 1);
  EXPECT_EQ(rows[1], json({{"file", "broken.step"}, {"error", "no shape could be read from the file"}}));
  EXPECT_EQ(rows[2]["file"], "folder/a.brep");
  EXPECT_EQ(rows[3]["file"], "folder/deeper/b.BREP");
  EXPECT_EQ(rows[3]["dominant_type"], "face");
  EXPECT_NE(run.err.find("nimbo-shape: broken.step: no shape could be read from the file\n"), std::string::npos);
  EXPECT_NE(run.err.find("nimbo-shape: 4 files, 3 succeeded, 1 failed, "), std::string::npos) << run.err;

  const ToolRun good = runTool({"parts", "folder"}, dir.path());
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_NE(good.out.find("\n\nfile         folder/deeper/b.BREP\n"), std::string::npos) << good.out;
  fs::create_directory(dir.path() / "empty");
  const ToolRun empty = runTool({"stats", "empty"}, dir.path());
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.err, "nimbo-shape: empty: holds no .step, .stp, .iges, .igs or .brep file\n");
}

// A file over its time or memory limit is reported for that file, and the others go on.
TEST(NimboShapeBatch, LimitsEndOneFileNotTheRun) {
  TempDir dir;
  const ToolRun slow = runTool({"parts", "--json", "--timeout", "0.001", joint, face_1}, dir.path());
  EXPECT_EQ(slow.status, 2);
  EXPECT_NE(slow.out.find("{\"file\":\"" + joint + "\",\"error\":\"gave up after 0.001 s\"}"), std::string::npos)
      << slow.out;
#ifndef NIMBO_SANITIZED  // the sanitizer's own memory needs the whole address space
  const ToolRun big = runTool({"stats", "--max-memory", "64M", joint}, dir.path());
  EXPECT_EQ(big.status, 2);
  EXPECT_EQ(big.err.rfind("nimbo-shape: " + joint + ": ", 0), 0u) << big.err;
  EXPECT_EQ(std::count(big.err.begin(), big.err.end(), '\n'), 1) << big.err;
#endif
}

TEST(NimboShapeUsage, VersionHelpAndUsageErrors) {
  TempDir dir;
  const ToolRun version = runTool({"--version"}, dir.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("nimbo-shape ", 0), 0u) << version.out;
  const ToolRun help = runTool({"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  for (const char *command : {"stats", "parts", "compare", "overlap", "distance", "convert"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
  const ToolRun command_help = runTool({"convert", "--help"}, dir.path());
  EXPECT_EQ(command_help.status, 0);
  EXPECT_NE(command_help.out.find("--scale"), std::string::npos);
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{},
                                             {"stats"},
                                             {"frobnicate", "a.step"},
                                             {"convert", "a.step", "b.brep", "--scale", "0"},
                                             {"convert", "a.step", "b.brep", "--scale", "-2"},
                                             {"convert", "a.step", "b.brep", "--scale", "nan"},
                                             {"stats", "a.step", "--timeout", "0"},
                                             {"stats", "a.step", "--max-memory", "lots"},
                                             {"stats", "a.step", "--jobs", "0"}}) {
    const ToolRun run = runTool(args, dir.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err, "");
  }
}

// Progress and colour belong to terminals; piped, the streams carry text only. The kernel's own
// messages reach standard error with --verbose and nowhere without it, never standard output.
TEST(NimboShapeOutput, PipedStreamsCarryNoProgressAndKernelMessagesOnlyWhenVerbose) {
  TempDir dir;
  for (const bool verbose : {false, true}) {
    SCOPED_TRACE(verbose ? "verbose" : "quiet");
    std::vector<std::string> args = {"convert", "--json", iges_part, "part.step"};
    if (verbose) args.push_back("--verbose");
    const ToolRun run = runTool(args, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NO_THROW(json::parse(run.out)) << run.out;
    EXPECT_EQ(verbose, !run.err.empty()) << run.err;
    for (const std::string *stream : {&run.out, &run.err}) {
      EXPECT_EQ(stream->find('\r'), std::string::npos);
      EXPECT_EQ(stream->find('\x1b'), std::string::npos);
    }
  }
}

TEST(NimboShapeOutput, LeavesNoLogFileInTheWorkingDirectoryButKeepsTheUsersOwn) {
  TempDir dir;
  EXPECT_EQ(runTool({"stats", step_part}, dir.path()).status, 0);
  EXPECT_EQ(runTool({"--version"}, dir.path()).status, 0);
  EXPECT_FALSE(fs::exists(dir.path() / "myeasylog.log"));
  std::ofstream(dir.path() / "myeasylog.log").close();
  EXPECT_EQ(runTool({"stats", step_part}, dir.path()).status, 0);
  EXPECT_TRUE(fs::exists(dir.path() / "myeasylog.log"));
}

namespace {

// Records the furthest position the kernel reported.
class RecordingProgress : public Message_ProgressIndicator {
 public:
  double furthest = 0.0;

 protected:
  void Show(const Message_ProgressScope &, const Standard_Boolean) override {
    furthest = std::max(furthest, GetPosition());
  }
};

}  // namespace

TEST(ReaderProgress, ReadersReportTheirTransferToTheEnd) {
  for (const std::string &file : {step_part, iges_part}) {
    SCOPED_TRACE(file);
    const Handle(RecordingProgress) progress = new RecordingProgress;
    const bool step = file == step_part;
    const TopoDS_Shape shape = step ? readStep(file, progress->Start()) : readIges(file, progress->Start());
    EXPECT_NEAR(progress->furthest, 1.0, 1e-9);
    EXPECT_DOUBLE_EQ(getVolume(shape), getVolume(step ? readStep(file) : readIges(file)));
  }
}

TEST(NimboShapeClash, SampleJointTouchesWithoutOverlapAsTheLibraryFinds) {
  TempDir dir;
  const ToolRun run = runTool({"clash", "--json", joint}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::ordered_json report = nlohmann::ordered_json::parse(run.out);
  std::vector<std::string> keys;
  for (const auto &item : report.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"files", "parts", "pairs", "candidates", "overlaps", "contacts",
                                            "clearances", "failures", "skipped"}));
  EXPECT_EQ(report["parts"], 11);
  EXPECT_EQ(report["pairs"], 55);
  EXPECT_TRUE(report["overlaps"].empty());

  const nimbo::Assembly assembly = nimbo::readAssembly(joint);
  const nimbo::Interferences found = nimbo::findInterferences(assembly.parts);
  ASSERT_EQ(report["contacts"].size(), found.contacts.size());
  ASSERT_FALSE(found.contacts.empty());
  for (std::size_t k = 0; k < found.contacts.size(); ++k) {
    const auto &row = report["contacts"][k];
    EXPECT_EQ(row["first"], assembly.parts[found.contacts[k].first].path);
    EXPECT_EQ(row["second"], assembly.parts[found.contacts[k].second].path);
    EXPECT_EQ(row["kind"], "face");
    EXPECT_NEAR(row["area"].get<double>(), found.contacts[k].area, 1e-9 * found.contacts[k].area);
  }
}

TEST(NimboShapeClash, SeveralFilesAreCheckedTogetherAndAnOverlapExitsOne) {
  TempDir dir;
  writeBrepFile(box({0, 0, 0}, {10, 10, 10}), dir.path() / "a.brep");
  writeBrepFile(box({5, 0, 0}, {15, 10, 10}), dir.path() / "b.brep");
  writeBrepFile(box({0, 0, 10.5}, {10, 10, 20}), dir.path() / "c.brep");
  const ToolRun run = runTool({"clash", "a.brep", "b.brep", "c.brep", "--clearance", "1", "--json"}, dir.path());
  ASSERT_EQ(run.status, 1) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["files"], json({"a.brep", "b.brep", "c.brep"}));
  ASSERT_EQ(report["overlaps"].size(), 1u) << report;
  EXPECT_EQ(report["overlaps"][0]["first"].get<std::string>().rfind("a.brep/", 0), 0u);
  EXPECT_EQ(report["overlaps"][0]["second"].get<std::string>().rfind("b.brep/", 0), 0u);
  EXPECT_NEAR(report["overlaps"][0]["volume"].get<double>(), 500, 1e-6);
  ASSERT_EQ(report["clearances"].size(), 2u) << report;
  EXPECT_NEAR(report["clearances"][0]["distance"].get<double>(), 0.5, 1e-9);
  EXPECT_NEAR(report["clearances"][0]["points"][1][2].get<double>(), 10.5, 1e-9);

  const ToolRun text = runTool({"clash", "a.brep", "c.brep"}, dir.path());
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.substr(0, text.out.find(", 0.")),
            "2 parts, 1 pairs, 0 reached exact geometry: 0 overlaps, 0 contacts, 0 clearances, 0 failures")
      << text.out;

  const ToolRun missing = runTool({"clash", "a.brep", "gone.step"}, dir.path());
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err.rfind("nimbo-shape: gone.step: ", 0), 0u) << missing.err;
  EXPECT_EQ(missing.out, "");
}

TEST(NimboShapeImprint, NumbersInTheReportPointAtTheWrittenCompound) {
  TempDir dir;
  const ToolRun run = runTool({"imprint", joint, "-o", "joint.brep", "--json"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["solids"], 11);
  EXPECT_EQ(report["shared_faces"], 14);
  const TopoDS_Shape compound = readBrepFile((dir.path() / "joint.brep").string());
  TopTools_IndexedMapOfShape solids;
  TopTools_IndexedDataMapOfShapeListOfShape solidsOfFace;
  TopExp::MapShapes(compound, TopAbs_SOLID, solids);
  TopExp::MapShapesAndAncestors(compound, TopAbs_FACE, TopAbs_SOLID, solidsOfFace);
  ASSERT_EQ(solids.Extent(), 11);
  std::map<std::string, std::vector<int>> solidsOfPart;
  for (const auto &part : report["parts"]) {
    solidsOfPart[part["path"]] = part["solids"].get<std::vector<int>>();
    EXPECT_NEAR(getVolume(solids(part["solids"][0].get<int>())), part["volume"].get<double>(), 1e-6);
  }
  ASSERT_EQ(report["interfaces"].size(), 14u);
  for (const auto &interface : report["interfaces"]) {
    double area = 0;
    for (const int f : interface["faces"].get<std::vector<int>>()) {
      area += getArea(solidsOfFace.FindKey(f));
      // The face bounds one solid of each part.
      std::vector<int> of;
      for (const TopoDS_Shape &solid : solidsOfFace(f)) of.push_back(solids.FindIndex(solid));
      std::sort(of.begin(), of.end());
      EXPECT_EQ(of, (std::vector<int>{solidsOfPart[interface["first"]][0], solidsOfPart[interface["second"]][0]}));
    }
    EXPECT_NEAR(area, interface["area"].get<double>(), 1e-6);
  }
  const ToolRun step = runTool({"imprint", joint, "-o", "joint.step"}, dir.path());
  EXPECT_EQ(step.status, 2);
  EXPECT_EQ(step.err.rfind("nimbo-shape: joint.step: imprint writes BREP", 0), 0u) << step.err;
}

TEST(NimboShapeMesh, WritesTheMeshAndReportsEveryPartAndInterface) {
#ifndef NIMBO_HAVE_MESH
  GTEST_SKIP() << "built without Gmsh";
#endif
  TempDir dir;
  const ToolRun run = runTool({"mesh", joint, "-o", "joint.msh", "--size", "8", "--json"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const json report = json::parse(run.out);
  ASSERT_EQ(report["parts"].size(), 11u);
  for (const auto &part : report["parts"]) EXPECT_GT(part["elements"].get<int>(), 0) << part;
  ASSERT_EQ(report["interfaces"].size(), 14u);
  EXPECT_EQ(report["interfaces"][0]["name"], "bolted_joint/plate | bolted_joint/left/bracket");
  for (const auto &interface : report["interfaces"]) EXPECT_GT(interface["nodes"].get<int>(), 2) << interface;
  std::vector<std::string> left;
  for (const auto &entry : fs::directory_iterator(dir.path())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".stderr", ".stdout", "joint.msh"}));
  EXPECT_EQ(readText(dir.path() / "joint.msh").rfind("$MeshFormat\n4.1 ", 0), 0u);
}

TEST(NimboShapeDiff, ExitStatusAndJsonFollowWhatChanged) {
  TempDir dir;
  const ToolRun same = runTool({"diff", joint, joint}, dir.path());
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(same.out.rfind("11 unchanged (0 renamed), 0 moved, 0 modified, 0 added, 0 removed, ", 0), 0u) << same.out;

  writeBrepFile(box({0, 0, 0}, {10, 10, 10}), dir.path() / "before.brep");
  writeBrepFile(box({0, 0, 5}, {10, 10, 15}), dir.path() / "after.brep");
  const ToolRun run = runTool({"diff", "--json", "before.brep", "after.brep"}, dir.path());
  EXPECT_EQ(run.status, 1) << run.err;
  const nlohmann::ordered_json report = nlohmann::ordered_json::parse(run.out);
  std::vector<std::string> keys;
  for (const auto &item : report.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"before", "after", "unchanged", "renamed", "moved", "modified", "added",
                                            "removed"}));
  ASSERT_EQ(report["moved"].size(), 1u) << report;
  EXPECT_NEAR(report["moved"][0]["translation"][2].get<double>(), 5, 1e-9);
  EXPECT_EQ(report["moved"][0]["angle"], 0.0);
}
