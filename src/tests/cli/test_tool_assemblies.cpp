// nimbo-shape on assemblies, run as a process: clash, imprint, mesh and diff, their answers against
// the library's own.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "conformal_checks.h"
#include "test_helpers.h"
#include "tool_run.h"
#include "tool_samples.h"

#include <gtest/gtest.h>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <nlohmann/json.hpp>

#include <unistd.h>

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

  // Surfaces alone leave nothing to check, which is no clean result; one solid alone is.
  writeBrepFile(nimbo::test::rectangleFace(0, 0, 1, 1), dir.path() / "skin.brep");
  const ToolRun skin = runTool({"clash", "skin.brep"}, dir.path());
  EXPECT_EQ(skin.status, 1) << skin.err;
  EXPECT_NE(skin.err.find("nimbo-shape: skin.brep: no pair could be checked: 1 parts hold no solid"), std::string::npos)
      << skin.err;
  EXPECT_EQ(runTool({"clash", "a.brep"}, dir.path()).status, 0);

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
  std::vector<NumberedPart> parts;
  for (const auto &part : report["parts"]) {
    parts.push_back({part["path"], part["solids"].get<std::vector<int>>(), part["volume"].get<double>()});
  }
  std::vector<NumberedInterface> interfaces;
  for (const auto &interface : report["interfaces"]) {
    interfaces.push_back({interface["first"], interface["second"], interface["faces"].get<std::vector<int>>(),
                          interface["area"].get<double>()});
  }
  ASSERT_EQ(interfaces.size(), 14u);
  expectConformal(readBrepFile((dir.path() / "joint.brep").string()), parts, interfaces);
  const ToolRun step = runTool({"imprint", joint, "-o", "joint.step"}, dir.path());
  EXPECT_EQ(step.status, 2);
  EXPECT_EQ(step.err.rfind("nimbo-shape: joint.step: imprint writes BREP", 0), 0u) << step.err;
}

// Under the sanitizers the kernel's adaptive integration, allocation-heavy, makes whole-assembly
// runs of the tool take minutes; the release build runs these, and the library's own tests run the
// same paths under the sanitizers.
#ifdef NIMBO_SANITIZED
constexpr const char *heavy_skip = "the release build runs this one";
#else
constexpr const char *heavy_skip = nullptr;
#endif

// Why a whole-assembly run of the tool is skipped here (with `getdp`, one that solves), or nullptr.
const char *skipped(bool getdp = false) {
#ifndef NIMBO_HAVE_MESH
  (void)getdp;
  return "built without Gmsh";
#else
  if (heavy_skip != nullptr) return heavy_skip;
  if (getdp && std::system("command -v getdp > /dev/null 2>&1") != 0) return "getdp is not installed";
  return nullptr;
#endif
}

TEST(NimboShapeMesh, WritesTheMeshAndReportsEveryPartAndInterface) {
  if (const char *why = skipped()) GTEST_SKIP() << why;
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

// Heal keeps every part's path, name and colour through STEP; loose faces that close become a solid
// that check calls healable and mesh --heal meshes.
TEST(NimboShapeHeal, KeepsThePartsAndMakesLooseFacesMesh) {
  if (heavy_skip != nullptr) GTEST_SKIP() << heavy_skip;
  TempDir dir;
  const ToolRun heal = runTool({"heal", joint, "-o", "joint.step"}, dir.path());
  ASSERT_EQ(heal.status, 0) << heal.err;
  const json before = json::parse(runTool({"parts", joint, "--json"}, dir.path()).out);
  const json after = json::parse(runTool({"parts", "joint.step", "--json"}, dir.path()).out);
  ASSERT_EQ(after["parts"].size(), before["parts"].size());
  for (std::size_t k = 0; k < before["parts"].size(); ++k) {
    const json &was = before["parts"][k];
    const json &is = after["parts"][k];
    EXPECT_EQ(is["path"], was["path"]);
    EXPECT_EQ(is["name"], was["name"]);
    EXPECT_EQ(is.value("color", json()), was.value("color", json()));
    EXPECT_NEAR(is["volume"].get<double>(), was["volume"].get<double>(), 1e-9 * was["volume"].get<double>());
  }

  TopoDS_Compound faces;
  BRep_Builder builder;
  builder.MakeCompound(faces);
  for (TopExp_Explorer face(box(gp_Pnt(0, 0, 0), gp_Pnt(10, 10, 10)), TopAbs_FACE); face.More(); face.Next())
    builder.Add(faces, face.Current());
  writeBrep(faces, (dir.path() / "faces.brep").string());
  const ToolRun check = runTool({"check", "faces.brep", "--json"}, dir.path());
  EXPECT_EQ(check.status, 1) << check.err;
  const json found = json::parse(check.out)["parts"][0];
  EXPECT_EQ(found["verdict"], "healable");
  EXPECT_EQ(found["findings"][0]["kind"], "closes when sewn");
#ifdef NIMBO_HAVE_MESH
  const ToolRun mesh = runTool({"mesh", "faces.brep", "--heal", "-o", "cube.msh", "--size", "5", "--json"}, dir.path());
  ASSERT_EQ(mesh.status, 0) << mesh.err;
  const json meshed = json::parse(mesh.out);
  EXPECT_EQ(meshed["healing"]["parts"][0]["steps"], json::array({"sew"}));
  EXPECT_GT(meshed["parts"][0]["elements"].get<int>(), 0);
#endif
}

// The sample study end to end: heat balances, GetDP read the 2.2 mesh, the drawing is written; a
// refusal is the one error line, naming the study once.
TEST(NimboShapeSolve, JointStudyBalancesItsHeatAndARefusalNamesTheStudy) {
  if (const char *why = skipped(true)) GTEST_SKIP() << why;
  TempDir dir;
  const ToolRun run =
      runTool({"solve", samples + "/joint_heat.yaml", "-o", "out", "--svg", "joint.svg", "--json"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);
  ASSERT_EQ(report["parts"].size(), 11u);
  EXPECT_EQ(report["parts"][3]["material"], "steel");
  EXPECT_EQ(report["unit"], "degC");
  EXPECT_NEAR(report["sources"].get<double>(), 8.0, 1e-9);
  EXPECT_LT(std::abs(report["balance"].get<double>()), 1e-6);
  EXPECT_EQ(readText(dir.path() / "out" / "joint_heat.msh").rfind("$MeshFormat\n2.2 ", 0), 0u);
  EXPECT_NE(readText(dir.path() / "joint.svg").find("temperature (degC)"), std::string::npos);

  writeText(dir.path() / "bad.yaml", "geometry: " + joint + "\nphysics: heat\nmaterials: [{parts: \"*/bolt*\", conductivity: 1}]\n");
  const ToolRun bad = runTool({"solve", "bad.yaml"}, dir.path());
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err.rfind("nimbo-shape: bad.yaml: part \"bolted_joint/plate\" has no material: no glob under "
                          "materials matches it",
                          0),
            0u)
      << bad.err;
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1);
}

// Heat over time in text: each part at the output times, the peaks and the energy, then the line;
// the page carries every output time on its slider.
TEST(NimboShapeSolve, StudyOverTimeReportsItsStepsAndPeaks) {
  if (const char *why = skipped(true)) GTEST_SKIP() << why;
  TempDir dir;
  writeText(dir.path() / "pulse.yaml", "geometry: " + joint + R"(
physics: heat
mesh: {size: 10}
time: {end: 2 s, step: 0.5 s, initial: 20 degC}
outputs: {every: 1 s}
materials: [{parts: "*", conductivity: 50, density: 7850, specific_heat: 460}]
sources: [{parts: "*/nut*", power: 2 W, until: 1 s}]
boundaries: [{name: air, faces: {rest: true}, convection: {h: 10, ambient: 20}}]
)");
  const ToolRun run = runTool({"solve", "pulse.yaml", "-o", "out", "--html", "pulse.html"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char *head :
       {"time (s)  part", "part                        peak (degC)  at (s)", "stored (J)  sources (J)"}) {
    EXPECT_NE(run.out.find(head), std::string::npos) << head << "\n" << run.out;
  }
  const std::string last = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
  EXPECT_EQ(last.rfind("solved pulse.yaml: 4 steps to 2 s, ", 0), 0u) << last;
  EXPECT_NE(last.find(" at 1 s; stored "), std::string::npos) << last;
  EXPECT_NE(last.find(" J of sources 8 J and boundaries "), std::string::npos) << last;
  const std::string page = readText(dir.path() / "pulse.html");
  EXPECT_NE(page.find("t = 1 s"), std::string::npos);
  EXPECT_NE(page.find("t = 2 s"), std::string::npos);
}

// A study given up on takes its solver with it: the worker is killed, and what it started must not
// run on (GetDP's MPI ranks did).
TEST(NimboShapeSolve, AStudyGivenUpOnLeavesNoSolverRunning) {
  if (const char *why = skipped()) GTEST_SKIP() << why;
  TempDir dir;
  const std::filesystem::path fake = dir.path() / "getdp", pid = dir.path() / "getdp.pid";
  writeText(fake, "#!/bin/sh\necho $$ > " + pid.string() + "\nexec sleep 60\n");
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  const ToolRun run =
      runTool({"solve", samples + "/joint_heat.yaml", "-o", "out", "--getdp", fake.string(), "--timeout", "10"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("gave up after 10 s"), std::string::npos) << run.err;
  const pid_t solver = std::stoi(readText(pid));
  // Ended, or a zombie waiting for whoever inherited it.
  const auto endedNow = [&] {
    std::ifstream stat("/proc/" + std::to_string(solver) + "/stat");
    std::string line;
    return !std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z";
  };
  bool ended = false;
  for (int tries = 0; tries < 50 && !ended; ++tries) {
    ended = endedNow();
    if (!ended) usleep(100000);
  }
  EXPECT_TRUE(ended) << "the solver " << solver << " still runs";
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

// A B-spline cylinder standing on a block: its volume is 16 pi h, and every command that measures
// it says so, to the precision the library states.
TEST(NimboShapeMeasures, BSplineSolidMeasuresItsClosedFormInEveryCommand) {
  if (heavy_skip != nullptr) GTEST_SKIP() << heavy_skip;
  TempDir dir;
  const auto write = [&](double height, const std::string &file) {
    const TopoDS_Shape cylinder =
        BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(5, 5, 10), gp_Dir(0, 0, 1)), 4, height).Shape();
    writeBrepFile(compoundOf({BRepBuilderAPI_NurbsConvert(cylinder).Shape(), box({0, 0, 0}, {10, 10, 10})}),
                  dir.path() / file);
  };
  write(10, "spline.brep");
  write(12, "taller.brep");
  const auto expectVolume = [](const json &value, double height) {
    EXPECT_NEAR(value.get<double>(), 16 * M_PI * height, 1e-8 * 16 * M_PI * height);
  };
  const auto run = [&](const std::vector<std::string> &args) {
    const ToolRun result = runTool(args, dir.path());
    EXPECT_LE(result.status, 1) << result.err;
    return json::parse(result.out);
  };
  expectVolume(run({"parts", "--json", "spline.brep"})["parts"][0]["volume"], 10);
  expectVolume(run({"imprint", "--json", "spline.brep", "-o", "imprinted.brep"})["parts"][0]["volume"], 10);
  expectVolume(run({"parts", "--json", "imprinted.brep"})["parts"][0]["volume"], 10);
  const json changed = run({"diff", "--json", "spline.brep", "taller.brep"})["modified"];
  ASSERT_EQ(changed.size(), 1u) << changed;
  expectVolume(changed[0]["volume_before"], 10);
  expectVolume(changed[0]["volume_after"], 12);
  EXPECT_NEAR(changed[0]["added"].get<double>(), 32 * M_PI, 1e-6);
}
