// Studies solved by GetDP on problems whose answers are known in closed form, and the studies that
// must be refused before any meshing, each with its message.
#include <nimbo/solve/Solve.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "solve/Vtu.h"
#include "study_helpers.h"
#include "test_helpers.h"

#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using nimbo::test::box;
using nimbo::test::studyOn;
using nimbo::test::TempDir;

namespace {

bool haveGetdp() { return nimbo::test::onPath("getdp"); }


nimbo::SolveResult solved(const TempDir &dir, const nimbo::Study &study, const nimbo::SolveOptions &options = {}) {
  return nimbo::solveStudy(study, (dir.path() / "results").string(), options);
}

const nimbo::BoundaryResult &boundaryNamed(const nimbo::SolveResult &result, const std::string &name) {
  for (const nimbo::BoundaryResult &boundary : result.boundaries) {
    if (boundary.name == name) return boundary;
  }
  throw std::runtime_error("no boundary " + name);
}

// Two 10 mm blocks in series along x, conductivities 1 and 3 W/(m K).
const char *const seriesStudy = R"(
physics: heat
mesh: {size: 4}
materials:
  - {name: slow, parts: "a.brep/*", conductivity: 1}
  - {name: fast, parts: "*", conductivity: 3}
boundaries:
  - {name: hot, faces: {plane: {point: [0, 0, 0], normal: [1, 0, 0]}}, temperature: 100}
  - {name: cold, faces: {normal: [1, 0, 0], part: "b.brep/*"}, temperature: 0}
)";

// An array of a .vtu as writeVtu writes it (base64 of a UInt64 byte count, then the values), as doubles.
std::vector<double> vtuArray(const std::string &path, const std::string &name) {
  std::ifstream in(path);
  const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t at = xml.find("Name=\"" + name + "\""), typeAt = xml.rfind("type=\"", at) + 6;
  const std::string type = xml.substr(typeAt, xml.find('"', typeAt) - typeAt);
  static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<unsigned char> bytes;
  unsigned bits = 0, held = 0;
  for (std::size_t k = xml.find('>', at) + 1; xml.at(k) != '<'; ++k) {
    if (digits.find(xml[k]) == std::string::npos) continue;
    bits = bits << 6 | static_cast<unsigned>(digits.find(xml[k]));
    if ((held += 6) >= 8) bytes.push_back(static_cast<unsigned char>(bits >> (held -= 8)));
  }
  const auto read = [&](auto value, std::size_t k) { return std::memcpy(&value, &bytes.at(k), sizeof value), value; };
  EXPECT_EQ(read(std::uint64_t{}, 0), bytes.size() - 8) << name;
  std::vector<double> values;
  for (std::size_t k = 8; k < bytes.size(); k += type == "UInt8" ? 1 : type == "Int32" ? 4 : 8) {
    values.push_back(type == "Float64" ? read(0.0, k)
                     : type == "Int64" ? static_cast<double>(read(std::int64_t{}, k))
                     : type == "Int32" ? read(std::int32_t{}, k)
                                       : bytes[k]);
  }
  return values;
}

std::vector<TopoDS_Shape> seriesBlocks() { return {box({0, 0, 0}, {10, 10, 10}), box({10, 0, 0}, {20, 10, 10})}; }

}  // namespace

// Linear elements hold the one-dimensional solution exactly: 7500 W/m^2 through 1 cm^2, 25 degC
// between the blocks.
TEST(SolveStudy, TwoBlocksInSeriesMatchTheOneDimensionalSolution) {
  if (!haveGetdp()) GTEST_SKIP() << "getdp is not installed";
  TempDir dir;
  nimbo::SolveOptions withView;
  withView.pos = true;
  const nimbo::SolveResult result = solved(dir, studyOn(dir, seriesBlocks(), seriesStudy), withView);
  EXPECT_EQ(result.solver, "direct (MUMPS LU)");
  ASSERT_EQ(result.parts.size(), 2u);
  EXPECT_EQ(result.parts[0].material, "slow");
  EXPECT_NEAR(result.parts[0].mean, 62.5, 1e-6);
  EXPECT_NEAR(result.parts[1].mean, 12.5, 1e-6);
  EXPECT_NEAR(result.parts[0].min, 25.0, 1e-6);
  EXPECT_NEAR(result.parts[1].max, 25.0, 1e-6);
  EXPECT_NEAR(boundaryNamed(result, "hot").flow, 0.75, 1e-6);
  EXPECT_NEAR(boundaryNamed(result, "cold").flow, -0.75, 1e-6);
  EXPECT_EQ(boundaryNamed(result, "hot").faces, 1u);
  EXPECT_NEAR(boundaryNamed(result, "hot").area, 100.0, 1e-9);
  EXPECT_LT(std::abs(result.balance), 1e-9);

  // The result folder holds what a user reruns by hand, and the drawing reads it back.
  for (const std::string &file : {result.meshFile, result.problemFile, result.fieldFile, result.vtuFile}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(file)) << file;
  }
  const auto exact = [](double x) { return x < 10 ? 100 - 7.5 * x : 25 - 2.5 * (x - 10); };
  const nimbo::FieldSurface surface = nimbo::solvedSurface(result);
  EXPECT_FALSE(surface.triangles.empty());
  for (std::size_t k = 0; k < surface.nodes.size(); ++k) {
    EXPECT_NEAR(surface.values[k], exact(surface.nodes[k].X()), 1e-6);
  }

  // So does the grid, in mm; each part's extremes over its cells' points are the report's.
  const auto array = [&](const char *name) { return vtuArray(result.vtuFile, name); };
  const std::vector<double> points = array("Points"), t = array("temperature"), cells = array("connectivity"),
                            part = array("part");
  ASSERT_EQ(points.size(), 3 * t.size());
  ASSERT_EQ(cells.size(), 4 * part.size());
  for (std::size_t k = 0; k < t.size(); ++k) EXPECT_NEAR(t[k], exact(points[3 * k]), 1e-6);
  std::vector<double> least(2, 1e300), most(2, -1e300);
  for (std::size_t c = 0; c < cells.size(); ++c) {
    const std::size_t p = static_cast<std::size_t>(part[c / 4]) - 1, node = static_cast<std::size_t>(cells[c]);
    least.at(p) = std::min(least.at(p), t.at(node));
    most.at(p) = std::max(most.at(p), t.at(node));
  }
  for (std::size_t p = 0; p < 2; ++p) {
    EXPECT_EQ(std::make_pair(least[p], most[p]), std::make_pair(result.parts[p].min, result.parts[p].max));
  }
}

// The same closed form by GMRES with algebraic multigrid, on two MPI processes.
TEST(SolveStudy, IterativeSolverOnTwoProcessesHoldsTheOneDimensionalSolution) {
  if (!haveGetdp() || !nimbo::test::onPath("mpirun")) GTEST_SKIP() << "getdp or mpirun is not installed";
  TempDir dir;
  nimbo::SolveOptions options;
  options.processes = 2;
  const nimbo::SolveResult result =
      solved(dir, studyOn(dir, seriesBlocks(), std::string(seriesStudy) + "solver: iterative\n"), options);
  EXPECT_EQ(result.solver, "iterative (GMRES, BoomerAMG)");
  EXPECT_GT(result.iterations, 0);
  EXPECT_EQ(result.processes, 2);
  EXPECT_NEAR(result.parts[0].mean, 62.5, 1e-6);
  EXPECT_NEAR(result.parts[1].max, 25.0, 1e-6);
  EXPECT_NEAR(boundaryNamed(result, "hot").flow, 0.75, 1e-6);
  EXPECT_TRUE(result.fieldFile.empty());  // the view only on request
  // At every node, within 1e-8 of the field's range of what LU gives.
  TempDir direct;
  const std::vector<double> iterated = vtuArray(result.vtuFile, "temperature"),
                            factored = vtuArray(solved(direct, studyOn(direct, seriesBlocks(), seriesStudy)).vtuFile,
                                                "temperature");
  ASSERT_EQ(iterated.size(), factored.size());
  for (std::size_t k = 0; k < factored.size(); ++k) EXPECT_NEAR(iterated[k], factored[k], 1e-8 * 100);  // from 0 to 100 degC
}

// The sample study split over two processes answers as one process does.
TEST(SolveStudy, JointOnTwoProcessesEqualsOneProcess) {
#ifdef NIMBO_SANITIZED
  GTEST_SKIP() << "two solves of the joint take minutes under the sanitizers";
#endif
  if (!haveGetdp() || !nimbo::test::onPath("mpirun")) GTEST_SKIP() << "getdp or mpirun is not installed";
  TempDir dir;
  const nimbo::Study study = nimbo::readStudy(NIMBO_SAMPLES_DIR "/joint_heat.yaml");
  nimbo::SolveOptions two;
  two.processes = 2;
  const nimbo::SolveResult one = nimbo::solveStudy(study, (dir.path() / "one").string());
  const nimbo::SolveResult split = nimbo::solveStudy(study, (dir.path() / "two").string(), two);
  const auto same = [](double a, double b) { EXPECT_NEAR(a, b, 1e-8 * std::max(std::abs(a), 1.0)); };
  ASSERT_EQ(one.parts.size(), split.parts.size());
  for (std::size_t k = 0; k < one.parts.size(); ++k) {
    same(one.parts[k].min, split.parts[k].min);
    same(one.parts[k].max, split.parts[k].max);
    same(one.parts[k].mean, split.parts[k].mean);
  }
  for (std::size_t b = 0; b < one.boundaries.size(); ++b) same(one.boundaries[b].flow, split.boundaries[b].flow);
}

// Gmsh's mid-edge nodes go in VTK's order, each the middle of its edge's corners there; a grid with
// an array of the wrong size is not written.
TEST(WriteVtu, QuadraticTetrahedraTakeVtkEdgeOrder) {
  TempDir dir;
  nimbo::MeshData mesh{{}, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 2, 3}}, {{"b", {0}}}, {}, {{}}, {}};
  const int gmshEdges[6][2] = {{0, 1}, {1, 2}, {2, 0}, {3, 0}, {3, 2}, {3, 1}};
  for (int e = 0; e < 6; ++e) {
    mesh.tetrahedronEdges[0][e] = mesh.nodes.size();
    const auto &a = mesh.nodes[gmshEdges[e][0]], &b = mesh.nodes[gmshEdges[e][1]];
    mesh.nodes.push_back({(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2});
  }
  const std::string path = (dir.path() / "r.vtu").string();
  nimbo::detail::writeVtu(path, mesh, 10.0, {"a", "b"}, {});
  const std::vector<double> points = vtuArray(path, "Points"), cells = vtuArray(path, "connectivity");
  ASSERT_EQ(cells.size(), 10u);
  EXPECT_EQ(vtuArray(path, "types"), std::vector<double>{24});
  EXPECT_EQ(vtuArray(path, "part"), std::vector<double>{2});
  EXPECT_EQ(points[3], 10.0);
  const int vtkEdges[6][2] = {{0, 1}, {1, 2}, {0, 2}, {0, 3}, {1, 3}, {2, 3}};
  for (int e = 0; e < 6; ++e) {
    for (int c = 0; c < 3; ++c) {
      const auto at = [&](int k) { return points[3 * static_cast<std::size_t>(cells[k]) + c]; };
      EXPECT_DOUBLE_EQ(at(4 + e), (at(vtkEdges[e][0]) + at(vtkEdges[e][1])) / 2) << "edge " << e;
    }
  }
  const std::string bad = (dir.path() / "bad.vtu").string();
  EXPECT_THROW(nimbo::detail::writeVtu(bad, mesh, 1.0, {}, {{"u", 1, {1.0}}}), nimbo_exception);
  EXPECT_FALSE(std::filesystem::exists(bad));
}

// The second block as six loose faces: healed into a solid when the study asks, it solves as before.
TEST(SolveStudy, HealingMakesASolidOfLooseFaces) {
  if (!haveGetdp()) GTEST_SKIP() << "getdp is not installed";
  TempDir dir;
  TopoDS_Compound faces;
  BRep_Builder builder;
  builder.MakeCompound(faces);
  for (TopExp_Explorer face(seriesBlocks()[1], TopAbs_FACE); face.More(); face.Next()) builder.Add(faces, face.Current());
  std::string study = seriesStudy;
  study.replace(study.find("{size: 4}"), 9, "{size: 4, heal: true}");
  const nimbo::SolveResult result = solved(dir, studyOn(dir, {seriesBlocks()[0], faces}, study));
  ASSERT_EQ(result.parts.size(), 2u);
  EXPECT_NEAR(result.parts[1].mean, 12.5, 1e-6);
  EXPECT_NEAR(boundaryNamed(result, "cold").flow, -0.75, 1e-6);
}

// A cylindrical shell, 100 degC inside and 0 outside, its ends insulated: 2 pi k L dT / ln(r2/r1).
TEST(SolveStudy, CoaxialCylinderConductsTheLogarithmicFlow) {
  if (!haveGetdp()) GTEST_SKIP() << "getdp is not installed";
  TempDir dir;
  const TopoDS_Shape shell = BRepAlgoAPI_Cut(BRepPrimAPI_MakeCylinder(20, 10).Shape(),
                                             BRepPrimAPI_MakeCylinder(5, 10).Shape())
                                 .Shape();
  const nimbo::SolveResult result = solved(dir, studyOn(dir, {shell}, R"(
physics: heat
mesh: {size: 1}
materials: [{parts: "*", conductivity: 1}]
boundaries:
  - {name: inside, faces: {box: {min: [-5, -5, 0], max: [5, 5, 10]}}, temperature: 100}
  - {name: bottom, faces: {plane: {point: [0, 0, 0], normal: [0, 0, -1]}}, flux: 0}
  - {name: top, faces: {plane: {point: [0, 0, 10], normal: [0, 0, 1]}}, flux: 0}
  - {name: outside, faces: {rest: true}, temperature: 0}
)"));
  const double expected = 2 * M_PI * 1 * 0.01 * 100 / std::log(4.0);
  EXPECT_NEAR(boundaryNamed(result, "inside").flow, expected, 0.005 * expected);
  EXPECT_NEAR(boundaryNamed(result, "outside").flow, -expected, 0.005 * expected);
  EXPECT_EQ(result.parts[0].material, "*");
}

// A parallel-plate capacitor: the charge on the electrode at 1 V is eps0 eps_r A / d, held exactly
// by quadratic elements as by linear ones.
TEST(SolveStudy, CapacitorHoldsTheParallelPlateCharge) {
  if (!haveGetdp()) GTEST_SKIP() << "getdp is not installed";
  TempDir dir;
  const nimbo::SolveResult result = solved(dir, studyOn(dir, {box({0, 0, 0}, {10, 10, 1})}, R"(
physics: electrostatic
mesh: {size: 2, order: 2}
materials: [{name: dielectric, parts: "*", permittivity: 4}]
boundaries:
  - {name: plus, faces: {normal: [0, 0, 1]}, potential: 1}
  - {name: minus, faces: {normal: [0, 0, -1]}, potential: 0}
)"));
  const double expected = 8.8541878128e-12 * 4 * 1e-4 / 1e-3;
  EXPECT_NEAR(boundaryNamed(result, "plus").flow, expected, 1e-6 * expected);
  EXPECT_NEAR(boundaryNamed(result, "minus").flow, -expected, 1e-6 * expected);
  EXPECT_EQ(result.physics, nimbo::Physics::electrostatic);
}

// Every refusal names the study and the entry, and comes before meshing: no result folder appears.
TEST(SolveStudy, StudiesThatCannotBeSolvedAreRefusedWithTheirEntry) {
  TempDir dir;
  const auto refusal = [&](const std::string &yaml) -> std::string {
    try {
      solved(dir, studyOn(dir, seriesBlocks(), yaml));
    } catch (const nimbo_exception &error) {
      return error.what();
    }
    return "accepted";
  };
  const std::string materials = "materials: [{parts: \"*\", conductivity: 1}]\n";
  EXPECT_EQ(refusal("physics: heat\nmaterials: [{parts: \"a.brep/*\", conductivity: 1}]\n"
                    "boundaries: [{name: hot, faces: {normal: [1, 0, 0]}, temperature: 1}]\n"),
            "study.yaml: part \"b.brep/solid_1\" has no material: no glob under materials matches it");
  EXPECT_EQ(refusal("physics: heat\n" + materials + "boundaries: [{name: far, faces: {box: {min: [50, 50, 50], max: [60, 60, 60]}}, temperature: 1}]\n"),
            "study.yaml: boundary \"far\" selects no face of the outer boundary");
  EXPECT_EQ(refusal("physics: heat\n" + materials +
                    "boundaries:\n  - {name: ends, faces: {normal: [1, 0, 0]}, temperature: 1}\n"
                    "  - {name: right, faces: {part: \"b.brep/*\", normal: [1, 0, 0]}, flux: 5}\n"),
            "study.yaml: boundaries \"ends\" and \"right\" both select face 7 of b.brep/solid_1; each face takes "
            "one condition");
  EXPECT_EQ(refusal("physics: heat\n" + materials +
                    "boundaries:\n  - {name: hot, faces: {normal: [-1, 0, 0]}, temperature: 1}\n"
                    "  - {name: side, faces: {normal: [0, -1, 0], part: \"a.brep/*\"}, temperature: 2}\n"),
            "study.yaml: boundaries \"hot\" and \"side\" both fix the temperature and touch, so their flows cannot be "
            "told apart; make them one boundary");
  EXPECT_EQ(refusal("physics: current\nmaterials: [{parts: \"*\", conductivity: 1}]\n"
                    "boundaries: [{name: in, faces: {normal: [1, 0, 0]}, flux: 5}]\n"),
            "study.yaml: no boundary fixes the potential, so the solution is not unique; add one");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "results"));

  // What the file itself gets wrong, found as it is read.
  const auto misread = [&](const std::string &yaml) -> std::string {
    try {
      nimbo::studyFrom(YAML::Load("geometry: a.brep\n" + yaml), "study.yaml", "");
    } catch (const nimbo_exception &error) {
      return error.what();
    }
    return "accepted";
  };
  EXPECT_EQ(misread("physics: magnetic\n"), "study.yaml: physics: \"magnetic\" is not supported (heat, electrostatic, current, elasticity or modal)");
  EXPECT_EQ(misread("physics: heat\nmaterial: []\n"),
            "study.yaml: unknown key \"material\" (known here: boundaries, geometry, gravity, materials, mesh, modes, "
            "outputs, physics, probes, reference_temperature, solver, sources, temperature, time)");
  EXPECT_EQ(misread("physics: heat\nmaterials: [{name: steel, parts: \"*\", conductivity: 50 W/mK}]\n"),
            "study.yaml: material \"steel\": conductivity: unknown unit \"W/mK\" (known: Pa, kPa, MPa, GPa, N, kN, kg/m^3, "
            "g/cm^3, mm, m, W, W/(m K), W/(m^2 K), W/m^2, degC, K, V, S/m, A/m^2, C/m^2, Hz, m/s^2, s, ms, min, h, "
            "J/(kg K), kJ/(kg K), 1/K)");
  EXPECT_EQ(misread("physics: electrostatic\nmaterials: [{parts: \"*\", permittivity: 2}]\n"
                    "boundaries: [{name: t, faces: {rest: true}, temperature: 3}]\n"),
            "study.yaml: boundary \"t\": \"temperature\" is not a condition of electrostatic problems");
  EXPECT_EQ(misread("physics: heat\nmaterials: [{parts: \"*\", conductivity: 2}]\n"
                    "boundaries: [{name: t, faces: {box: {min: [0, 0], max: [1, 1, 1]}}, temperature: 3}]\n"),
            "study.yaml: boundary \"t\": faces: box: min: expected three numbers [x, y, z] in mm");
  EXPECT_EQ(misread("physics: heat\nmaterials: [{parts: \"*\", conductivity: 2}]\n"
                    "boundaries: [{name: t, faces: {rest: true}, flux: 3}, {name: t, faces: {part: x}, flux: 1}]\n"),
            "study.yaml: boundary 2: the name \"t\" is taken by boundary 1");
}

// GetDP's own words reach the user, and a missing GetDP says how to install it.
TEST(SolveStudy, GetdpFailuresAreReportedNotSolved) {
  TempDir dir;
  const nimbo::Study study = studyOn(dir, seriesBlocks(), seriesStudy);
  nimbo::SolveOptions options;
  options.getdp = (dir.path() / "no-such-getdp").string();
  EXPECT_THROW(
      try { nimbo::solveStudy(study, (dir.path() / "results").string(), options); } catch (const nimbo_exception &error) {
        EXPECT_NE(std::string(error.what()).find("is not installed or not on PATH: install Debian's getdp (\"sudo apt-get install getdp\")"),
                  std::string::npos)
            << error.what();
        throw;
      },
      nimbo_exception);

  const std::filesystem::path fake = dir.path() / "failing-getdp";
  nimbo::test::writeText(fake, "#!/bin/sh\necho 'Info    : Loading'\necho 'Error   : Singular matrix' >&2\nexit 1\n");
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  options.getdp = fake.string();
  try {
    nimbo::solveStudy(study, (dir.path() / "results").string(), options);
    ADD_FAILURE() << "a failing GetDP gave a result";
  } catch (const nimbo_exception &error) {
    EXPECT_EQ(std::string(error.what()).rfind("GetDP failed: Singular matrix (the problem is kept in ", 0), 0u)
        << error.what();
  }
}

// A small part's source density passes 2^31 W/m^3; all of it goes in, and out through the air.
TEST(SolveStudy, DenseSourcesOnSmallPartsApplyTheirPower) {
  if (!haveGetdp()) GTEST_SKIP() << "getdp is not installed";
  TempDir dir;
  const nimbo::SolveResult result = solved(dir, studyOn(dir, {box({0, 0, 0}, {0.1, 0.1, 0.1})}, R"(
physics: heat
materials: [{parts: "*", conductivity: 50}]
sources: [{parts: "*", power: 1}]
boundaries: [{name: air, faces: {rest: true}, convection: {h: 10, ambient: 20}}]
)"));
  EXPECT_NEAR(result.sources, 1.0, 1e-9);
  EXPECT_NEAR(boundaryNamed(result, "air").flow, -1.0, 1e-9);
}
