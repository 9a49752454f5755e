// Meshing: the written .msh read back and held to the promises of a conformal mesh, the summary
// against it, and element orders.
#include <nimbo/mesh/Mesh.h>
#include <nimbo/nimbo_exception.h>

#include "assembly_fixtures.h"
#include "conformal_checks.h"
#include "mesh_checks.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <algorithm>
#include <cmath>
#include <filesystem>

using nimbo::Part;
using nimbo::test::box;
using nimbo::test::TempDir;

namespace {

Part part(const std::string &path, const TopoDS_Shape &shape) { return Part{path, path, shape, std::nullopt}; }

}  // namespace

TEST(MeshAssembly, BoltThroughPlateGivesNamedRegionsThatShareTheirInterfaceNodes) {
  const TopoDS_Shape bolt = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 20, -5), gp_Dir(0, 0, 1)), 4, 20).Shape();
  const TopoDS_Shape plate = BRepAlgoAPI_Cut(box({0, 0, 0}, {40, 40, 10}), bolt).Shape();
  const nimbo::Imprint imprint = nimbo::imprintAssembly(
      {part("joint/plate", plate), part("joint/bolt", bolt), part("block", box({0, 0, 10}, {10, 10, 20}))});
  TempDir dir;
  const std::string file = (dir.path() / "joint.msh").string();
  nimbo::MeshOptions options;
  options.size = 4;
  const nimbo::MeshSummary summary = nimbo::meshAssembly(imprint, file, options);
  ASSERT_EQ(summary.parts.size(), 3u);
  for (const nimbo::MeshedPart &p : summary.parts) EXPECT_GT(p.elements, 0u) << p.path;
  ASSERT_EQ(summary.interfaces.size(), 2u);
  EXPECT_EQ(summary.interfaces[0].name, "joint/plate | joint/bolt");

  nimbo::test::expectConformal(imprint);
  EXPECT_EQ(nimbo::test::expectConformalMesh(file, imprint).nodes, summary.nodes);
}

// A crankshaft's drill-point cones end in edges of 1e-10 mm, where curvature sizing once shrank the
// elements to nothing and Gmsh's fallback surface mesher crashed.
TEST(MeshAssembly, ConesWithVanishingApexEdgesMesh) {
  if (const auto skip = nimbo::test::sharedAssemblySkip()) GTEST_SKIP() << *skip;
  const nimbo::Imprint imprint =
      nimbo::imprintAssembly(nimbo::readAssembly(nimbo::test::sharedCadFile("catia_kurbelwelle.stp")).parts);
  TempDir dir;
  const std::string file = (dir.path() / "crank.msh").string();
  const nimbo::MeshSummary summary = nimbo::meshAssembly(imprint, file);
  EXPECT_EQ(nimbo::test::expectConformalMesh(file, imprint).nodes, summary.nodes);
}

// The S1 model's head is a wall of 1 mm around a sphere of 60 in B-spline patches: twelve chords a
// circle sag 2 mm, the inner and outer surface meshes cross, and only finer chords mesh it.
TEST(MeshAssembly, ThinCurvedWallMeshesWithFinerChords) {
  if (const auto skip = nimbo::test::sharedAssemblySkip()) GTEST_SKIP() << *skip;
  nimbo::ImprintOptions assign;
  assign.assignOverlaps = true;  // a foot overlaps the body
  const nimbo::Imprint imprint = nimbo::imprintAssembly(
      nimbo::readAssembly(nimbo::test::sharedCadFile("caxif_s1-tu-203/s1-tu-203.stp")).parts, assign);
  TempDir dir;
  const std::string file = (dir.path() / "s1.msh").string();
  nimbo::MeshOptions options;
  options.size = 26.5;  // a twentieth of the model
  const nimbo::MeshSummary summary = nimbo::meshAssembly(imprint, file, options);
  ASSERT_FALSE(summary.retries.empty());
  EXPECT_NE(summary.retries.back().find("24 elements per circle"), std::string::npos) << summary.retries.back();
  EXPECT_EQ(nimbo::test::expectConformalMesh(file, imprint).nodes, summary.nodes);
}

// A surface group with a size of its own is meshed finer than the rest, and only it.
TEST(MeshAssembly, RefinedFacesGetTheirSize) {
  const nimbo::Imprint imprint = nimbo::imprintAssembly({part("cube", box({0, 0, 0}, {100, 100, 100}))});
  TempDir dir;
  const std::string file = (dir.path() / "cube.msh").string();
  nimbo::MeshOptions options;
  options.size = 20;
  options.surfaces = {{"fine", {1}, 4.0}, {"others", {2, 3, 4, 5, 6}, 0.0}};
  nimbo::meshAssembly(imprint, file, options);
  const nimbo::MeshData mesh = nimbo::readMesh(file);
  const auto longestEdge = [&](const std::string &group) {
    double longest = 0;
    for (const auto &t : mesh.surfaces.at(group)) {
      for (int k = 0; k < 3; ++k) {
        const auto &a = mesh.nodes[t[k]], &b = mesh.nodes[t[(k + 1) % 3]];
        longest = std::max(longest, std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
      }
    }
    return longest;
  };
  EXPECT_LT(longestEdge("fine"), 6.0);
  EXPECT_GT(longestEdge("others"), 15.0);
  // The estimate that guards against sizes that cannot fit is of the right size, refinement included.
  const double estimate = nimbo::estimateElements(imprint, options);
  EXPECT_GT(estimate, 0.5 * static_cast<double>(mesh.tetrahedra.size()));
  EXPECT_LT(estimate, 2.0 * static_cast<double>(mesh.tetrahedra.size()));
}

TEST(MeshAssembly, SizesThatCannotFitAreRefusedBeforeMeshing) {
  const nimbo::Imprint imprint = nimbo::imprintAssembly({part("cube", box({0, 0, 0}, {100, 100, 100}))});
  TempDir dir;
  const std::string file = (dir.path() / "cube.msh").string();
  nimbo::MeshOptions options;
  options.size = 0.01;
  options.maxElements = 1e6;
  try {
    nimbo::meshAssembly(imprint, file, options);
    ADD_FAILURE() << "meshed";
  } catch (const nimbo::input_error &error) {
    // 6 tetrahedra per cube of the size: 6e6 / 0.01^3; the cube root of 6 is 1.817.
    EXPECT_STREQ(error.what(),
                 "size 0.01 mm would make about 6e12 elements; the smallest size that fits is 1.9 mm, or raise "
                 "--max-elements");
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(MeshAssembly, SecondOrderAndBadOrders) {
  const nimbo::Imprint imprint = nimbo::imprintAssembly({part("cube", box({0, 0, 0}, {10, 10, 10}))});
  TempDir dir;
  nimbo::MeshOptions options;
  options.size = 5;
  options.order = 2;
  const std::string file = (dir.path() / "cube.msh").string();
  options.keepData = true;
  options.scale = 0.001;
  const nimbo::MeshSummary quadratic = nimbo::meshAssembly(imprint, file, options);
  // The mesh kept for the caller is the one written.
  const nimbo::MeshData written = nimbo::readMesh(file);
  ASSERT_TRUE(quadratic.data);
  EXPECT_EQ(quadratic.data->nodeTags, written.nodeTags);
  ASSERT_EQ(quadratic.data->nodes.size(), written.nodes.size());
  for (std::size_t k = 0; k < written.nodes.size(); ++k) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(quadratic.data->nodes[k][c], written.nodes[k][c], 1e-15);
  }
  EXPECT_EQ(quadratic.data->tetrahedra, written.tetrahedra);
  EXPECT_EQ(quadratic.data->tetrahedronEdges, written.tetrahedronEdges);
  options.order = 1;
  const nimbo::MeshSummary linear = nimbo::meshAssembly(imprint, file, options);
  EXPECT_EQ(quadratic.elements, linear.elements);
  EXPECT_GT(quadratic.nodes, linear.nodes);
  options.order = 3;
  EXPECT_THROW(nimbo::meshAssembly(imprint, file, options), nimbo_exception);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1u);  // the mesh, and no temporary beside it
}
