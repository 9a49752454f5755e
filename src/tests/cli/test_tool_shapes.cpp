// nimbo-shape on single shapes, run as a process: stats, parts, compare, overlap, distance and
// convert, their answers against the library's own.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "assembly_fixtures.h"
#include "test_helpers.h"
#include "tool_run.h"
#include "tool_samples.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace nimbo::test;
using nlohmann::json;

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

// A STEP assembly whose parts are files beside it has no shape of its own: stats measures the whole.
// Read from another folder by a relative path: the files are found beside the main one.
TEST(NimboShapeStats, AssemblyOfExternalFilesIsMeasuredWhole) {
  TempDir dir;
  XdeAssembly document;
  const TDF_Label root = document.assembly("pair");
  const TDF_Label cube = document.product("cube", box({0, 0, 0}, {10, 10, 10}));
  document.place(root, cube);
  document.place(root, cube, translation(20, 0, 0));
  std::filesystem::create_directories(dir.path() / "model");
  std::filesystem::create_directories(dir.path() / "work");
  document.writeStep(dir.path() / "model" / "pair.step", "MM", true);
  const ToolRun run = runTool({"stats", "--json", "../model/pair.step"}, dir.path() / "work");
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["counts"]["solids"], 2);
  EXPECT_NEAR(report["statistics"]["volume"].get<double>(), 2000, 1e-6);
  EXPECT_NEAR(report["statistics"]["xmax"].get<double>(), 30, 1e-6);
}

// What a read left out is said once on standard error, and in the JSON under "warnings".
TEST(NimboShapeParts, AnnotationsTheParserRejectsAreAWarning) {
  TempDir dir;
  writeText(dir.path() / "annotated.step", withRejectedAnnotations(readText(step_part)));
  const std::string warning =
      "STEP file annotated.step: the parser rejected parameters of 2 entities that no shape needs "
      "(ADVANCED_BREP_SHAPE_REPRESENTATION, COMPOSITE_TEXT); read without them";
  for (const char *command : {"parts", "stats"}) {
    SCOPED_TRACE(command);
    const ToolRun run = runTool({command, "--json", "annotated.step"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "nimbo-shape: " + warning + "\n");
    EXPECT_EQ(json::parse(run.out)["warnings"], json::array({warning}));
  }
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
