// The route from parts to a mesh: healing on the way, the caller's surfaces asked of the imprint
// that is meshed, and refusals that stop it before anything is written.
#include <nimbo/nimbo_exception.h>
#include <nimbo/pipeline/Pipeline.h>

#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>

#include <filesystem>

using nimbo::test::box;
using nimbo::test::TempDir;

namespace {

// The faces of a box as one surface part, all six or the first `count`.
nimbo::Part looseFaces(int count = 6) {
  TopoDS_Compound faces;
  BRep_Builder builder;
  builder.MakeCompound(faces);
  int added = 0;
  for (TopExp_Explorer face(box(gp_Pnt(0, 0, 0), gp_Pnt(10, 10, 10)), TopAbs_FACE); face.More() && added < count;
       face.Next(), ++added) {
    builder.Add(faces, face.Current());
  }
  return nimbo::Part{"faces", "faces", faces, std::nullopt};
}

}  // namespace

TEST(Route, HealsLooseFacesIntoASolidAndMeshesTheSurfacesAskedOfItsImprint) {
  TempDir dir;
  const std::string output = (dir.path() / "cube.msh").string();
  nimbo::RouteOptions options;
  options.heal = true;
  options.mesh.size = 4;
  int asked = 0;
  const nimbo::Routed routed =
      nimbo::meshParts({looseFaces()}, output, options, [&](const nimbo::Prepared &prepared) {
        ++asked;
        return std::vector<nimbo::SurfaceGroup>{{"outside", prepared.imprint.parts.at(0).boundaryNumbers}};
      });
  EXPECT_EQ(asked, 1);
  ASSERT_TRUE(routed.prepared.healing);
  EXPECT_EQ(routed.prepared.healing->report.at(0).steps, std::vector<std::string>{"sew"});
  EXPECT_NEAR(routed.prepared.imprint.parts.at(0).volume, 1000.0, 1e-9);
  EXPECT_TRUE(routed.summary.retries.empty());
  ASSERT_EQ(routed.summary.surfaces.size(), 1u);
  EXPECT_GT(routed.summary.surfaces[0].nodes, 0u);
  EXPECT_NEAR(routed.summary.parts.at(0).volume, 1000.0, 1e-6);
  EXPECT_TRUE(std::filesystem::exists(output));
}

// An open surface stays open: said as such, not as an imprint of nothing. A refusal of the caller's
// comes before meshing and is not worked around by healing harder.
TEST(Route, RefusalsAreNotWorkedAround) {
  TempDir dir;
  const std::string output = (dir.path() / "cube.msh").string();
  nimbo::RouteOptions options;
  options.heal = true;
  try {
    nimbo::prepareParts({looseFaces(5)}, options);
    FAIL() << "five faces of a box imprinted";
  } catch (const nimbo_exception &error) {
    EXPECT_NE(std::string(error.what()).find("healing made none"), std::string::npos) << error.what();
  }
  int asked = 0;
  EXPECT_THROW(nimbo::meshParts({looseFaces()}, output, options,
                                [&](const nimbo::Prepared &) -> std::vector<nimbo::SurfaceGroup> {
                                  ++asked;
                                  throw nimbo_exception("refused");
                                }),
               nimbo_exception);
  EXPECT_EQ(asked, 1);
}

// What Gmsh refuses is tried once more on parts healed with ten times the tolerances, healing or not
// asked; when that fails too, the first failure is the one reported.
TEST(Route, RetriesOnWidelyHealedPartsAndReportsTheFirstFailure) {
  TempDir dir;
  const std::string output = (dir.path() / "block.msh").string();
  nimbo::RouteOptions options;
  options.mesh.size = 4;
  const nimbo::Part block{"block", "block", box(gp_Pnt(0, 0, 0), gp_Pnt(10, 10, 10)), std::nullopt};
  int asked = 0;
  // A face the compound lacks makes Gmsh's stage refuse the first imprint.
  const nimbo::Routed routed = nimbo::meshParts({block}, output, options, [&](const nimbo::Prepared &prepared) {
    return std::vector<nimbo::SurfaceGroup>{{"top", {++asked == 1 ? 99 : prepared.imprint.parts[0].boundaryNumbers[0]}}};
  });
  EXPECT_EQ(asked, 2);
  ASSERT_TRUE(routed.prepared.healing);
  ASSERT_EQ(routed.summary.retries.size(), 1u);
  EXPECT_EQ(routed.summary.retries[0].rfind("healed with tolerances of 0.04 mm after: The surface group \"top\"", 0),
            0u)
      << routed.summary.retries[0];
  EXPECT_GT(routed.summary.elements, 0u);

  asked = 0;
  try {
    nimbo::meshParts({block}, output, options, [&](const nimbo::Prepared &) {
      return std::vector<nimbo::SurfaceGroup>{{++asked == 1 ? "first" : "second", {99}}};
    });
    FAIL() << "a face the compound lacks was meshed";
  } catch (const nimbo_exception &error) {
    EXPECT_NE(std::string(error.what()).find("\"first\""), std::string::npos) << error.what();
  }
  EXPECT_EQ(asked, 2);
}
