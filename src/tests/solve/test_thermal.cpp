// Heat over time (GetDP) and the stress that temperature causes (CalculiX), against closed forms.
#include <nimbo/nimbo_exception.h>
#include <nimbo/solve/Solve.h>

#include "study_helpers.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <BRepPrimAPI_MakeSphere.hxx>

#include <cmath>
#include <cstdio>
#include <fstream>

using nimbo::test::box;
using nimbo::test::studyOn;
using nimbo::test::TempDir;

namespace {

bool haveSolvers() { return nimbo::test::onPath("getdp") && nimbo::test::onPath("ccx"); }

// A computed value for the test log (--gtest_output=xml), to its last digit.
void record(const std::string &key, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  ::testing::Test::RecordProperty(key, text);
}

// Every study over time keeps the heat it is given: what the parts store is what the sources gave
// and the boundaries let in, at every output time.
const nimbo::TransientResult &heatKept(const nimbo::SolveResult &result) {
  EXPECT_TRUE(result.transient);
  const nimbo::TransientResult &transient = *result.transient;
  EXPECT_LT(transient.balance, 1e-6);
  record("energy_balance", transient.balance);
  for (const nimbo::TransientStep &step : transient.outputs) {
    const double scale = std::max({std::abs(step.stored), std::abs(step.sources), std::abs(step.boundaries)});
    EXPECT_NEAR(step.stored, step.sources + step.boundaries, 1e-6 * scale) << "at " << step.time << " s";
  }
  EXPECT_EQ(result.balance, transient.balance);
  return transient;
}

// The mean of erfc over [a, b], from its integral exp(-u^2)/sqrt(pi) - u erfc(u).
double meanErfc(double a, double b) {
  const auto integral = [](double u) { return std::exp(-u * u) / std::sqrt(M_PI) - u * std::erfc(u); };
  return (integral(a) - integral(b)) / (b - a);
}

// A steel bar 100 x 10 x 10 mm under a uniform temperature, held on its symmetry planes at x = 0
// (and with `pushed` also at x = 100), 100 K above its stress-free temperature.
nimbo::SolveResult heatedBar(const TempDir &dir, bool pushed) {
  std::string yaml = R"(
physics: elasticity
mesh: {size: 5}
temperature: {uniform: 120 degC}
reference_temperature: 20 degC
materials: [{parts: "*", youngs_modulus: 210 GPa, poissons_ratio: 0.3, expansion: 1.2e-5 1/K}]
probes: [{name: end, point: [100, 0, 0]}, {name: middle, point: [50, 5, 5]}]
boundaries:
  - {name: x0, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, displacement: {x: 0}}
  - {name: y0, faces: {plane: {point: [0, 0, 0], normal: [0, 1, 0]}}, displacement: {y: 0}}
  - {name: z0, faces: {plane: {point: [0, 0, 0], normal: [0, 0, 1]}}, displacement: {z: 0}}
)";
  if (pushed)
    yaml += "  - {name: x100, faces: {plane: {point: [100, 0, 0], normal: [1, 0, 0]}}, displacement: {x: 0}}\n";
  const std::string folder = (dir.path() / (pushed ? "held" : "free")).string();
  return nimbo::solveStudy(studyOn(dir, {box({0, 0, 0}, {100, 10, 10})}, yaml), folder);
}

}  // namespace

// A copper ball of radius 10 mm in air: Biot number h r / 3k = 8e-4, so it cools as one lump with
// the time constant rho c r / 3h = 115 s.
TEST(HeatOverTime, SmallSphereCoolsAsOneLump) {
  if (!haveSolvers()) GTEST_SKIP() << "no getdp or ccx";
  TempDir dir;
  const nimbo::Study study = studyOn(dir, {BRepPrimAPI_MakeSphere(10.0).Shape()}, R"(
physics: heat
mesh: {size: 4, order: 2}
time: {end: 200 s, step: 2 s, initial: 100 degC, theta: 0.5}
outputs: {every: 50 s}
materials: [{parts: "*", conductivity: 400, density: 8960 kg/m^3, specific_heat: 385 J/(kg K)}]
boundaries: [{name: air, faces: {rest: true}, convection: {h: 100, ambient: 20 degC}}]
)");
  const nimbo::SolveResult result = nimbo::solveStudy(study, (dir.path() / "results").string());
  const nimbo::TransientResult &transient = heatKept(result);
  ASSERT_EQ(transient.outputs.size(), 4u);
  const double tau = 8960.0 * 385 * 0.010 / (3 * 100);
  for (const nimbo::TransientStep &step : transient.outputs) {
    const double expected = 20 + 80 * std::exp(-step.time / tau);
    record("mean_at_" + std::to_string(static_cast<int>(step.time)), step.parts.at(0).mean);
    record("lumped_at_" + std::to_string(static_cast<int>(step.time)), expected);
    EXPECT_NEAR(step.parts.at(0).mean, expected, 0.01 * (expected - 20)) << "at " << step.time << " s";
  }
  // The energy given up is the whole heat capacity's fall.
  const double capacity = 8960.0 * 385 * 4.0 / 3 * M_PI * 1e-6;
  EXPECT_NEAR(transient.outputs.back().stored, capacity * (result.parts.at(0).mean - 100), 1e-3 * 80 * capacity);
  EXPECT_EQ(transient.peaks.at(0).time, 50);
  std::ifstream series(transient.seriesFile);
  const std::string text((std::istreambuf_iterator<char>(series)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("timestep=\"200\" part=\"0\" file=\"steps/results_100.vtu\""), std::string::npos) << text;
  EXPECT_TRUE(std::filesystem::exists(transient.outputs.front().vtuFile));
}

// A steel bar whose end steps from 20 to 120 degC: for the first 2 s (a penetration 2 sqrt(alpha t)
// of 10.5 mm in a bar of 30) it is semi-infinite, and each slice's mean is the mean of
// T0 + (Ts - T0) erfc(x / 2 sqrt(alpha t)) over it.
TEST(HeatOverTime, BarEndSteppedFollowsTheSemiInfiniteSolution) {
  if (!haveSolvers()) GTEST_SKIP() << "no getdp or ccx";
  TempDir dir;
  const nimbo::Study study = studyOn(dir,
                                     {box({0, 0, 0}, {2, 2, 2}), box({2, 0, 0}, {3, 2, 2}), box({3, 0, 0}, {6, 2, 2}),
                                      box({6, 0, 0}, {7, 2, 2}), box({7, 0, 0}, {30, 2, 2})},
                                     R"(
physics: heat
mesh: {size: 0.5}
time: {end: 2 s, step: 0.01 s, initial: 20 degC}
outputs: {every: 1 s}
materials: [{parts: "*", conductivity: 50, density: 7850, specific_heat: 460}]
boundaries: [{name: end, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, temperature: 120 degC}]
)");
  const nimbo::SolveResult result = nimbo::solveStudy(study, (dir.path() / "results").string());
  const nimbo::TransientResult &transient = heatKept(result);
  const double alpha = 50.0 / (7850 * 460) * 1e6;  // mm^2/s
  for (const nimbo::TransientStep &step : transient.outputs) {
    const double depth = 2 * std::sqrt(alpha * step.time);
    for (const auto &[part, from, to] : {std::tuple{1, 2.0, 3.0}, std::tuple{3, 6.0, 7.0}}) {
      const double rise = 100 * meanErfc(from / depth, to / depth);
      const std::string at =
          std::to_string(static_cast<int>(from)) + "mm_" + std::to_string(static_cast<int>(step.time)) + "s";
      record("rise_" + at, step.parts.at(part).mean - 20);
      record("erfc_" + at, rise);
      EXPECT_NEAR(step.parts.at(part).mean - 20, rise, 0.02 * rise) << "slice " << from << " at " << step.time << " s";
    }
  }
}

// Free, the bar grows by alpha dT L unstressed; held at both ends, it pushes on them with
// -E alpha dT, free to grow sideways.
TEST(ThermalStress, HeatedBarGrowsFreeAndPushesHeld) {
  if (!haveSolvers()) GTEST_SKIP() << "no getdp or ccx";
  TempDir dir;
  const double strain = 1.2e-5 * 100, stress = 210000 * strain;
  const nimbo::SolveResult free = heatedBar(dir, false);
  ASSERT_TRUE(free.structural && free.structural->temperature);
  EXPECT_EQ(free.structural->temperature->source, "uniform");
  EXPECT_NEAR(free.structural->probes.at(0).displacement[0], strain * 100, 1e-6 * strain * 100);
  EXPECT_LT(free.structural->parts.at(0).vonMisesMax, 1e-6 * stress);
  record("free_elongation", free.structural->probes.at(0).displacement[0]);
  record("free_von_mises_max", free.structural->parts.at(0).vonMisesMax);

  const nimbo::SolveResult held = heatedBar(dir, true);
  const nimbo::ProbeResult &middle = held.structural->probes.at(1);
  EXPECT_NEAR(middle.stress[0], -stress, 1e-4 * stress);
  record("held_stress", middle.stress[0]);
  EXPECT_NEAR(middle.stress[1], 0, 1e-4 * stress);
  EXPECT_NEAR(held.structural->boundaries.at(0).force[0], stress * 100, 1e-4 * stress * 100);
}

// Steel and aluminium bars 100 x 10 x 10 mm end to end, heated 100 K by a heat study solved on the
// same mesh (every face held at 120 degC) and held axially at their far ends: the ends take
// A dT (a1 L1 + a2 L2) / (L1 / E1 + L2 / E2).
TEST(ThermalStress, BondedBarsTakeTheirTemperaturesFromAHeatStudy) {
  if (!haveSolvers()) GTEST_SKIP() << "no getdp or ccx";
  TempDir dir;
  std::ofstream(dir.path() / "heat.yaml") << R"(
geometry: [a.brep, b.brep]
physics: heat
materials: [{parts: "*", conductivity: 50}]
boundaries: [{name: all, faces: {rest: true}, temperature: 120 degC}]
)";
  const nimbo::Study study = studyOn(dir, {box({0, 0, 0}, {100, 10, 10}), box({100, 0, 0}, {200, 10, 10})}, R"(
physics: elasticity
mesh: {size: 5}
temperature: {study: heat.yaml}
reference_temperature: 20 degC
materials:
  - {parts: "a.brep/*", youngs_modulus: 210 GPa, poissons_ratio: 0.3, expansion: 1.2e-5 1/K}
  - {parts: "*", youngs_modulus: 70 GPa, poissons_ratio: 0.33, expansion: 2.3e-5 1/K}
boundaries:
  - {name: near end, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, displacement: {x: 0}}
  - {name: far end, faces: {plane: {point: [200, 0, 0], normal: [1, 0, 0]}}, displacement: {x: 0}}
  - {name: y0, faces: {plane: {point: [0, 0, 0], normal: [0, 1, 0]}}, displacement: {y: 0}}
  - {name: z0, faces: {plane: {point: [0, 0, 0], normal: [0, 0, 1]}}, displacement: {z: 0}}
)");
  const nimbo::SolveResult result = nimbo::solveStudy(study, (dir.path() / "results").string());
  const nimbo::TemperatureResult &temperature = *result.structural->temperature;
  EXPECT_EQ(temperature.source, (dir.path() / "heat.yaml").string());
  EXPECT_NEAR(temperature.min, 120, 1e-9);
  EXPECT_NEAR(temperature.max, 120, 1e-9);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(temperature.folder) / "results.vtu"));
  const double reaction = 100 * 100 * (1.2e-5 * 100 + 2.3e-5 * 100) / (100 / 210000.0 + 100 / 70000.0);
  EXPECT_NEAR(result.structural->boundaries.at(0).force[0], reaction, 0.02 * reaction);
  record("bonded_reaction", result.structural->boundaries.at(0).force[0]);
  record("bonded_expected", reaction);
  EXPECT_NEAR(result.structural->boundaries.at(1).force[0], -reaction, 0.02 * reaction);
}

TEST(ThermalStress, StudiesOverTimeAndUnderTemperatureRefuseWhatTheyCannotSolve) {
  TempDir dir;
  const auto refusal = [&](const std::string &yaml) {
    try {
      studyOn(dir, {box({0, 0, 0}, {10, 10, 10})}, yaml);
    } catch (const nimbo_exception &error) {
      return std::string(error.what());
    }
    return std::string("read");
  };
  const std::string heat = "physics: heat\nboundaries: [{faces: {rest: true}, temperature: 0}]\n";
  EXPECT_EQ(refusal(heat + "materials: [{parts: \"*\", conductivity: 1}]\ntime: {end: 1 s, step: 0.3 s, initial: 0}"),
            "study.yaml: time: end: must be a whole number of steps of 0.3 s");
  EXPECT_EQ(refusal(heat + "materials: [{parts: \"*\", conductivity: 1}]\ntime: {end: 1 s, step: 0.5 s, initial: 0}"),
            "study.yaml: material 1: needs \"density\" and \"specific_heat\" for a study over time");
  EXPECT_EQ(
      refusal(heat + "materials: [{parts: \"*\", conductivity: 1}]\nsources: [{parts: \"*\", power: 1, until: 2 s}]"),
      "study.yaml: source 1: until: only a study over time (\"time\") has sources that stop");
  const std::string elastic = "physics: elasticity\nboundaries: [{faces: {rest: true}, fixed: true}]\n";
  EXPECT_EQ(refusal(elastic +
                    "temperature: {uniform: 50}\nmaterials: [{parts: \"*\", youngs_modulus: 1, poissons_ratio: 0}]"),
            "study.yaml: reference_temperature: missing: the temperature at which the parts are free of stress");
  EXPECT_EQ(refusal(elastic + "temperature: {uniform: 50}\nreference_temperature: 20\n"
                              "materials: [{parts: \"*\", youngs_modulus: 1, poissons_ratio: 0}]"),
            "study.yaml: material 1: needs \"expansion\" for a study under a temperature");
  if (!haveSolvers()) return;
  // The heat study's time must be one of its steps.
  std::ofstream(dir.path() / "heat.yaml")
      << "geometry: a.brep\n"
      << heat
      << "materials: [{parts: \"*\", conductivity: 1, density: 1, specific_heat: 1}]\n"
         "time: {end: 10 s, step: 1 s, initial: 0}\n";
  try {
    nimbo::solveStudy(
        studyOn(dir, {box({0, 0, 0}, {10, 10, 10})},
                elastic + "temperature: {study: heat.yaml, at: 12 s}\nreference_temperature: 20\n"
                          "materials: [{parts: \"*\", youngs_modulus: 1, poissons_ratio: 0, expansion: 1}]"),
        (dir.path() / "results").string());
    ADD_FAILURE() << "solved";
  } catch (const nimbo_exception &error) {
    EXPECT_EQ(std::string(error.what()), "study.yaml: temperature: at: 12.000000 s is not one of the steps of " +
                                             (dir.path() / "heat.yaml").string() +
                                             " (every 1.000000 s up to 10.000000 s)");
  }
}
