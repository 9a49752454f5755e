// Structural studies solved by CalculiX on problems whose answers are known in closed form.
#include <nimbo/solve/Solve.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "study_helpers.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <BRepAlgoAPI_Common.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using nimbo::test::box;
using nimbo::test::studyOn;
using nimbo::test::TempDir;

namespace {

bool haveCcx() { return nimbo::test::onPath("ccx"); }


// Every C3D10 of a deck has its mid-edge nodes halfway along edges 01, 12, 20, 03, 13, 23: on
// straight edges, what CalculiX's node order means.
void expectMidEdgeNodes(const std::string &deck) {
  std::ifstream in(deck);
  std::map<long, gp_Pnt> nodes;
  std::string line, section;
  std::size_t checked = 0;
  while (std::getline(in, line)) {
    if (line.rfind("**", 0) == 0) continue;
    if (line[0] == '*') {
      section = line.substr(0, line.find(','));
      if (line.find("C3D10") == std::string::npos && section == "*ELEMENT") section.clear();
      continue;
    }
    if (section != "*NODE" && section != "*ELEMENT") continue;
    std::vector<double> v;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ',');) v.push_back(std::stod(field));
    if (section == "*NODE") nodes[static_cast<long>(v[0])] = gp_Pnt(v[1], v[2], v[3]);
    if (section != "*ELEMENT" || v.size() != 11) continue;
    static constexpr int edges[6][2] = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
    for (int e = 0; e < 6; ++e) {
      const gp_Pnt a = nodes.at(static_cast<long>(v[1 + edges[e][0]])), b = nodes.at(static_cast<long>(v[1 + edges[e][1]]));
      ASSERT_LT(nodes.at(static_cast<long>(v[5 + e])).Distance(gp_Pnt((a.XYZ() + b.XYZ()) / 2)), 1e-6) << line;
    }
    ++checked;
  }
  EXPECT_GT(checked, 0u);
}

// A computed value for the test log (--gtest_output=xml), to its last digit.
std::string digits(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

}  // namespace

TEST(StudyUnits, NumbersWithUnitsOfTheirKind) {
  EXPECT_DOUBLE_EQ(*nimbo::quantityIn("210 GPa", "Pa"), 210e9);
  EXPECT_DOUBLE_EQ(*nimbo::quantityIn("7.85 g/cm^3", "kg/m^3"), 7850);
  EXPECT_DOUBLE_EQ(*nimbo::quantityIn("300 K", "degC"), 300 - 273.15);
  EXPECT_DOUBLE_EQ(*nimbo::quantityIn("0.2 m", "mm"), 200);
  EXPECT_FALSE(nimbo::quantityIn("12", "Pa"));
  TempDir dir;
  try {
    studyOn(dir, {box({0, 0, 0}, {1, 1, 1})}, R"(
physics: elasticity
materials: [{name: steel, parts: "*", youngs_modulus: 7850 kg/m^3, poissons_ratio: 0.3}]
boundaries: [{faces: {rest: true}, fixed: true}]
)");
    ADD_FAILURE() << "read";
  } catch (const nimbo_exception &error) {
    EXPECT_STREQ(error.what(),
                 "study.yaml: material \"steel\": youngs_modulus: \"7850 kg/m^3\" is a density, not a pressure (Pa)");
  }
  EXPECT_THROW(nimbo::quantityIn("3 furlongs", "mm"), nimbo_exception);
}

// A bar 100 x 10 x 10 mm pulled by 1 kN, held on its three symmetry planes only.
TEST(StructuralStudy, BarInTension) {
  if (!haveCcx()) GTEST_SKIP() << "no ccx";
  TempDir dir;
  const nimbo::Study study = studyOn(dir, {box({0, 0, 0}, {100, 10, 10})}, R"(
physics: elasticity
mesh: {size: 5}
materials: [{parts: "*", youngs_modulus: 200 GPa, poissons_ratio: 0.3}]
boundaries:
  - {name: x0, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, displacement: {x: 0}}
  - {name: y0, faces: {plane: {point: [0, 0, 0], normal: [0, 1, 0]}}, displacement: {y: 0}}
  - {name: z0, faces: {plane: {point: [0, 0, 0], normal: [0, 0, 1]}}, displacement: {z: 0}}
  - {name: pull, faces: {plane: {point: [100, 0, 0], normal: [1, 0, 0]}}, force: [1000, 0, 0]}
probes:
  - {name: middle, point: [50, 5, 5]}
)");
  const nimbo::SolveResult result = nimbo::solveStudy(study, (dir.path() / "results").string());
  ASSERT_TRUE(result.structural);
  const nimbo::StructuralResult &s = *result.structural;
  const double stress = 1000.0 / 100.0, elongation = 1000.0 * 100 / (200000.0 * 100);
  const nimbo::ProbeResult &probe = s.probes.at(0);
  ::testing::Test::RecordProperty("stress", digits(probe.stress[0]));
  ::testing::Test::RecordProperty("half_elongation", digits(probe.displacement[0]));
  ::testing::Test::RecordProperty("balance", digits(s.balance));
  EXPECT_NEAR(probe.stress[0], stress, 1e-5 * stress);
  EXPECT_NEAR(probe.displacement[0], elongation / 2, 1e-5 * elongation);
  EXPECT_NEAR(s.parts.at(0).vonMisesMax, stress, 1e-5 * stress);
  EXPECT_NEAR(s.boundaries.at(0).force[0], -1000, 1e-2);
  EXPECT_LT(s.balance, 1e-5);
  expectMidEdgeNodes(result.problemFile);
}

// A steel cantilever 100 x 10 x 10 mm held at one end: 100 N at the tip bends it by 0.1920 mm
// (Timoshenko; 0.1905 by Euler-Bernoulli), and its first bending mode rings at 835.5 Hz.
const char *const cantilever = R"(
mesh: {size: 5}
materials: [{parts: "*", youngs_modulus: 210 GPa, poissons_ratio: 0.3, density: 7850 kg/m^3}]
boundaries:
  - {name: wall, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, fixed: true}
)";

TEST(StructuralStudy, CantileverBendsAndRings) {
  if (!haveCcx()) GTEST_SKIP() << "no ccx";
  TempDir dir;
  const TopoDS_Shape bar = box({0, 0, 0}, {100, 10, 10});
  const nimbo::SolveResult bent = nimbo::solveStudy(
      studyOn(dir, {bar}, std::string("physics: elasticity\n") + cantilever + R"(
  - {name: tip, faces: {plane: {point: [100, 0, 0], normal: [1, 0, 0]}}, force: [0, 0, -100]}
probes: [{name: tip, point: [100, 5, 5]}]
gravity: [0, 0, -9.81]
)"),
      (dir.path() / "static").string());
  ::testing::Test::RecordProperty("deflection", digits(-bent.structural->probes.at(0).displacement[2]));
  ::testing::Test::RecordProperty("balance", digits(bent.structural->balance));
  EXPECT_NEAR(-bent.structural->probes.at(0).displacement[2], 0.1920, 0.02 * 0.1920);
  EXPECT_LT(bent.structural->balance, 1e-5);
  // The wall also carries the bar's weight, 7850 kg/m^3 * 1e-5 m^3 * 9.81 m/s^2, which adds 0.3 %
  // (w L^4 / (8 E I)) to the tip's deflection.
  EXPECT_NEAR(bent.structural->boundaries.at(0).force[2], 100 + 0.770085, 1e-5);

  const nimbo::SolveResult rung = nimbo::solveStudy(
      studyOn(dir, {bar}, std::string("physics: modal\nmodes: 4\n") + cantilever), (dir.path() / "modal").string());
  ASSERT_EQ(rung.structural->modes.size(), 4u);
  ::testing::Test::RecordProperty("first_frequency", digits(rung.structural->modes[0].frequency));
  EXPECT_NEAR(rung.structural->modes[0].frequency, 835.5, 0.02 * 835.5);
}

// The same bend by CalculiX's iterative solver, whose tolerance is its own: its reactions balance the
// loads only to about 0.4 %.
TEST(StructuralStudy, CantileverBendsByTheIterativeSolver) {
  if (!haveCcx()) GTEST_SKIP() << "no ccx";
  TempDir dir;
  const nimbo::SolveResult bent =
      nimbo::solveStudy(studyOn(dir, {box({0, 0, 0}, {100, 10, 10})}, std::string("physics: elasticity\nsolver: iterative\n") +
                                                                       cantilever + R"(
  - {name: tip, faces: {plane: {point: [100, 0, 0], normal: [1, 0, 0]}}, force: [0, 0, -100]}
probes: [{name: tip, point: [100, 5, 5]}]
)"),
                        (dir.path() / "static").string());
  EXPECT_EQ(bent.solver, "iterative (Cholesky-preconditioned CG)");
  ::testing::Test::RecordProperty("deflection", digits(-bent.structural->probes.at(0).displacement[2]));
  EXPECT_NEAR(-bent.structural->probes.at(0).displacement[2], 0.1920, 0.02 * 0.1920);
  EXPECT_LT(bent.structural->balance, 1e-2);
}

// A thick cylinder, a = 50 and b = 100 mm, under 10 MPa inside; a quarter of it on symmetry planes,
// free at its ends: sigma_theta(a) = p (a^2 + b^2) / (b^2 - a^2), u(a) = 983.33 / E mm.
TEST(StructuralStudy, ThickCylinderUnderPressure) {
  if (!haveCcx()) GTEST_SKIP() << "no ccx";
  TempDir dir;
  const TopoDS_Shape ring = BRepAlgoAPI_Cut(BRepPrimAPI_MakeCylinder(100, 10).Shape(), BRepPrimAPI_MakeCylinder(50, 10).Shape()).Shape();
  const TopoDS_Shape quarter = BRepAlgoAPI_Common(ring, box({0, 0, 0}, {100, 100, 10})).Shape();
  const nimbo::SolveResult result = nimbo::solveStudy(studyOn(dir, {quarter}, R"(
physics: elasticity
mesh: {size: 6}
materials: [{parts: "*", youngs_modulus: 210 GPa, poissons_ratio: 0.3}]
boundaries:
  - {name: x0, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, displacement: {x: 0}}
  - {name: y0, faces: {plane: {point: [0, 0, 0], normal: [0, 1, 0]}}, displacement: {y: 0}}
  - {name: z0, faces: {plane: {point: [0, 0, 0], normal: [0, 0, 1]}}, displacement: {z: 0}}
  - {name: inside, faces: {box: {min: [-1, -1, -1], max: [51, 51, 11]}}, pressure: 10 MPa}
probes: [{name: a, point: [50, 0, 5]}]
)"), (dir.path() / "results").string());
  const nimbo::ProbeResult &a = result.structural->probes.at(0);
  ::testing::Test::RecordProperty("hoop_stress", digits(a.stress[1]));
  ::testing::Test::RecordProperty("radial_displacement", digits(a.displacement[0]));
  ::testing::Test::RecordProperty("balance", digits(result.structural->balance));
  EXPECT_NEAR(a.stress[1], 16.667, 0.03 * 16.667);
  EXPECT_NEAR(a.displacement[0], 983.33 / 210000, 0.01 * 983.33 / 210000);
  EXPECT_LT(result.structural->balance, 1e-5);
}

// Two blocks bonded through the imprint, every side held in its normal direction, pulled along
// their length: each stretches by F/A L / M with M = E (1 - nu) / ((1 + nu) (1 - 2 nu)).
TEST(StructuralStudy, BondedBlocksStretchByTheirConstrainedModuli) {
  if (!haveCcx()) GTEST_SKIP() << "no ccx";
  TempDir dir;
  const nimbo::SolveResult result = nimbo::solveStudy(studyOn(dir, {box({0, 0, 0}, {20, 10, 10}), box({20, 0, 0}, {40, 10, 10})}, R"(
physics: elasticity
mesh: {size: 5}
materials:
  - {parts: "a.brep/*", youngs_modulus: 200 GPa, poissons_ratio: 0.3}
  - {parts: "*", youngs_modulus: 70 GPa, poissons_ratio: 0.33}
boundaries:
  - {name: x0, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, displacement: {x: 0}}
  - {name: y0, faces: {normal: [0, -1, 0]}, displacement: {y: 0}}
  - {name: y1, faces: {normal: [0, 1, 0]}, displacement: {y: 0}}
  - {name: z0, faces: {normal: [0, 0, -1]}, displacement: {z: 0}}
  - {name: z1, faces: {normal: [0, 0, 1]}, displacement: {z: 0}}
  - {name: pull, faces: {plane: {point: [40, 0, 0], normal: [1, 0, 0]}}, force: [1000, 0, 0]}
probes: [{name: end, point: [40, 5, 5]}]
)"), (dir.path() / "results").string());
  const auto modulus = [](double e, double nu) { return e * (1 - nu) / ((1 + nu) * (1 - 2 * nu)); };
  const double expected = 1000.0 / 100 * (20 / modulus(200000, 0.3) + 20 / modulus(70000, 0.33));
  ::testing::Test::RecordProperty("elongation", digits(result.structural->probes.at(0).displacement[0]));
  ::testing::Test::RecordProperty("expected", digits(expected));
  EXPECT_NEAR(result.structural->probes.at(0).displacement[0], expected, 1e-5 * expected);
  EXPECT_LT(result.structural->balance, 1e-5);
}

// A thin curved wall, coarsely meshed: curved mid-edge nodes would turn elements inside out, which
// CalculiX refuses ("nonpositive jacobian"), so they are put back on straight edges.
TEST(StructuralStudy, ThinCurvedWallSolvesWithStraightenedElements) {
  if (!haveCcx()) GTEST_SKIP() << "no ccx";
  TempDir dir;
  const TopoDS_Shape tube =
      BRepAlgoAPI_Cut(BRepPrimAPI_MakeCylinder(50.5, 20).Shape(), BRepPrimAPI_MakeCylinder(50, 20).Shape()).Shape();
  const nimbo::SolveResult result = nimbo::solveStudy(studyOn(dir, {tube}, R"(
physics: elasticity
mesh: {size: 10}
materials: [{parts: "*", youngs_modulus: 210 GPa, poissons_ratio: 0.3}]
boundaries:
  - {name: base, faces: {plane: {point: [0, 0, 0], normal: [0, 0, 1]}}, fixed: true}
  - {name: top, faces: {plane: {point: [0, 0, 20], normal: [0, 0, 1]}}, force: [0, 0, 1000]}
)"), (dir.path() / "results").string());
  ASSERT_FALSE(result.retries.empty());
  EXPECT_NE(result.retries.back().find("put back on straight edges"), std::string::npos) << result.retries.back();
  EXPECT_NEAR(result.structural->boundaries.at(0).force[2], -1000, 1e-2);
}

// ccx runs with the threads asked for, and its error line is the failure's message.
TEST(StructuralStudy, CalculixGetsItsThreadsAndItsErrorLineIsReported) {
  TempDir dir;
  const std::filesystem::path fake = dir.path() / "ccx";
  std::ofstream(fake) << "#!/bin/sh\necho ' *ERROR in fake: threads' \"$OMP_NUM_THREADS\" \"$CCX_NPROC_EQUATION_SOLVER\"\nexit 201\n";
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  nimbo::SolveOptions options;
  options.ccx = fake.string();
  options.threads = 3;
  try {
    nimbo::solveStudy(studyOn(dir, {box({0, 0, 0}, {10, 10, 10})}, R"(
physics: elasticity
materials: [{parts: "*", youngs_modulus: 210 GPa, poissons_ratio: 0.3}]
boundaries: [{faces: {rest: true}, fixed: true}]
)"),
                      (dir.path() / "results").string(), options);
    ADD_FAILURE() << "solved";
  } catch (const nimbo_exception &error) {
    EXPECT_EQ(std::string(error.what()).rfind("CalculiX failed: ERROR in fake: threads 3 3 (the deck is kept in ", 0), 0u)
        << error.what();
  }
}

TEST(StructuralStudy, RefusalsNameTheEntry) {
  if (!haveCcx()) GTEST_SKIP() << "no ccx";
  TempDir dir;
  const TopoDS_Shape bar = box({0, 0, 0}, {100, 10, 10});
  const std::string materials = "physics: elasticity\nmaterials: [{parts: \"*\", youngs_modulus: 210 GPa, poissons_ratio: 0.3}]\n";
  const auto refusal = [&](const std::string &yaml) {
    try {
      nimbo::solveStudy(studyOn(dir, {bar}, yaml), (dir.path() / "results").string());
    } catch (const nimbo_exception &error) {
      return std::string(error.what());
    }
    return std::string("solved");
  };
  EXPECT_EQ(refusal(materials + R"(
boundaries: [{name: wall, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, fixed: true}]
probes: [{name: off, point: [50, 50, 5]}]
)"), "study.yaml: probe \"off\" at (50.000000, 50.000000, 5.000000) lies outside every solid part");
  nimbo::SolveOptions missing;
  missing.ccx = (dir.path() / "no-ccx").string();
  try {
    nimbo::solveStudy(studyOn(dir, {bar}, materials + "boundaries: [{faces: {rest: true}, fixed: true}]"),
                      (dir.path() / "results").string(), missing);
    ADD_FAILURE() << "solved";
  } catch (const nimbo_exception &error) {
    EXPECT_NE(std::string(error.what()).find("install Debian's calculix-ccx"), std::string::npos) << error.what();
  }
  // Held only in x on one end, the bar can still slide sideways and spin about its axis.
  const std::string free = refusal(materials + R"(
boundaries:
  - {name: slide, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, displacement: {x: 0}}
  - {name: pull, faces: {plane: {point: [100, 0, 0], normal: [1, 0, 0]}}, force: [1000, 0, 0]}
)");
  EXPECT_NE(free.find("the structure can still move: "), std::string::npos) << free;
  EXPECT_NE(free.find(" can move along y, move along z, turn about x (held only by \"slide\")"), std::string::npos) << free;

  // Two blocks that share an edge only: the second turns about it, whatever holds the first.
  try {
    nimbo::solveStudy(studyOn(dir, {box({0, 0, 0}, {10, 10, 10}), box({10, 10, 0}, {20, 20, 10})}, materials + R"(
boundaries:
  - {name: wall, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, fixed: true}
  - {name: pull, faces: {plane: {point: [20, 0, 0], normal: [1, 0, 0]}}, force: [1000, 0, 0]}
)"),
                      (dir.path() / "hinged").string());
    ADD_FAILURE() << "solved";
  } catch (const nimbo_exception &error) {
    EXPECT_NE(std::string(error.what()).find("b.brep"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("it meets the other parts only at points or along lines"), std::string::npos)
        << error.what();
  }
}
