// Line drawings: the edges a view must show and hide, seams left out, everything on the page. Field
// drawings: every triangle painted by its value, farthest first, beside a labelled scale.
#include <nimbo/nimbo_exception.h>
#include <nimbo/render/Render.h>

#include "test_checks.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Tool.hxx>
#include <Geom_Plane.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopoDS.hxx>
#include <gp_Ax1.hxx>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

using nimbo::RenderItem;

namespace {

struct Point {
  double x, y;
};
using Polyline = std::vector<Point>;

// The polylines of the paths drawn with `attribute` (solid lines or dashes).
std::vector<Polyline> polylines(const std::string &svg, const std::string &attribute) {
  std::vector<Polyline> lines;
  const std::regex path("<path fill=\"none\"[^>]*" + attribute + "[^>]* d=\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), path); it != std::sregex_iterator(); ++it) {
    const std::string d = (*it)[1];
    const std::regex step("([ML])([-0-9.]+) ([-0-9.]+)");
    for (auto s = std::sregex_iterator(d.begin(), d.end(), step); s != std::sregex_iterator(); ++s) {
      if ((*s)[1] == "M") lines.emplace_back();
      lines.back().push_back({std::stod((*s)[2]), std::stod((*s)[3])});
    }
  }
  return lines;
}

std::vector<Polyline> visible(const std::string &svg) { return polylines(svg, "stroke-width=\"1.3\""); }
std::vector<Polyline> dashed(const std::string &svg) { return polylines(svg, "stroke-dasharray"); }

std::string draw(const TopoDS_Shape &shape, const std::string &view, bool hidden, bool exact = false) {
  nimbo::RenderOptions options;
  options.hidden = hidden;
  options.exact = exact;
  return nimbo::renderSvg({RenderItem{shape, {{0, 0, 0}, std::nullopt, ""}}}, nimbo::viewNamed(view), options);
}

TopoDS_Shape segment(const gp_Pnt &from, const gp_Pnt &to) { return BRepBuilderAPI_MakeEdge(from, to).Edge(); }

// A face on the plane Z = 0 bounded by an open polyline: it has a surface, and no mesh can be made of it.
TopoDS_Shape unmeshableFace() {
  BRepBuilderAPI_MakePolygon open(gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0), gp_Pnt(1, 1, 0));
  TopoDS_Face face;
  BRep_Builder builder;
  builder.MakeFace(face, new Geom_Plane(gp::XOY()), 1e-7);
  builder.Add(face, open.Wire());
  return face;
}

// The shape's mesh as a field surface valued by each node's X, its faces' nodes kept apart.
nimbo::FieldSurface valuedByX(const TopoDS_Shape &shape, double deflection) {
  BRepMesh_IncrementalMesh(shape, deflection);
  nimbo::FieldSurface surface;
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    TopLoc_Location location;
    const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(TopoDS::Face(it.Current()), location);
    const std::size_t first = surface.nodes.size();
    for (int i = 1; i <= mesh->NbNodes(); ++i) {
      surface.nodes.push_back(mesh->Node(i).Transformed(location.Transformation()));
      surface.values.push_back(surface.nodes.back().X());
    }
    for (int i = 1; i <= mesh->NbTriangles(); ++i) {
      int a, b, c;
      mesh->Triangle(i).Get(a, b, c);
      surface.triangles.push_back({first + a - 1, first + b - 1, first + c - 1});
    }
  }
  return surface;
}

// The fill of each triangle drawn, in the order drawn.
std::vector<std::string> triangleFills(const std::string &svg) {
  std::vector<std::string> fills;
  const std::regex triangle("<path fill=\"(#[0-9a-f]{6})\" stroke=\"\\1\" d=\"M[-0-9. ]+L[-0-9. ]+L[-0-9. ]+Z\"/>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), triangle); it != std::sregex_iterator(); ++it) {
    fills.push_back((*it)[1]);
  }
  return fills;
}

// The texts of the scale, bottom first, then the title.
std::vector<std::string> texts(const std::string &svg) {
  std::vector<std::string> found;
  const std::regex text("<text[^>]*>([^<]*)</text>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator(); ++it) {
    found.push_back((*it)[1]);
  }
  return found;
}

}  // namespace

TEST(RenderSvg, CubeInIsoShowsNineEdgesAndHidesThree) {
  const TopoDS_Shape cube = nimbo::test::box({0, 0, 0}, {1, 1, 1});
  const std::string plain = draw(cube, "iso", false);
  EXPECT_EQ(visible(plain).size(), 9u);
  EXPECT_TRUE(dashed(plain).empty());
  const std::string hidden = draw(cube, "iso", true);
  EXPECT_EQ(visible(hidden).size(), 9u);
  EXPECT_EQ(dashed(hidden).size(), 3u);
  // Every point on the page.
  for (const auto &lines : {visible(hidden), dashed(hidden)}) {
    for (const Polyline &line : lines) {
      for (const Point &p : line) {
        EXPECT_TRUE(p.x >= 0 && p.x <= 800 && p.y >= 0 && p.y <= 600) << p.x << " " << p.y;
      }
    }
  }
}

TEST(RenderSvg, CylinderShowsItsSilhouetteAndNeverItsSeam) {
  // The seam turned to face the viewer of the front view, where it would run down the middle.
  gp_Trsf turn;
  turn.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), -M_PI / 2);
  const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(10, 30).Shape().Moved(TopLoc_Location(turn));
  const std::vector<Polyline> lines = visible(draw(cylinder, "front", false));
  double xmin = 1e9, xmax = -1e9;
  for (const Polyline &line : lines) {
    for (const Point &p : line) xmin = std::min(xmin, p.x), xmax = std::max(xmax, p.x);
  }
  int silhouettes = 0, seams = 0;
  for (const Polyline &line : lines) {
    const bool upright =
        std::abs(line.front().x - line.back().x) < 0.5 && std::abs(line.front().y - line.back().y) > 50;
    if (!upright) continue;
    const double x = line.front().x;
    if (std::abs(x - xmin) < 1 || std::abs(x - xmax) < 1) ++silhouettes;
    if (std::abs(x - (xmin + xmax) / 2) < 0.1 * (xmax - xmin)) ++seams;
  }
  EXPECT_GE(silhouettes, 2);
  EXPECT_EQ(seams, 0);
}

TEST(RenderSvg, ViewsByNameOrDirectionAndBadOnesRefused) {
  EXPECT_TRUE(nimbo::viewNamed("TOP").towardsViewer.IsEqual(gp_Dir(0, 0, 1), 1e-12));
  EXPECT_TRUE(nimbo::viewNamed("1,0,0").towardsViewer.IsEqual(gp_Dir(1, 0, 0), 1e-12));
  EXPECT_TRUE(nimbo::viewNamed("0,0,-2").up.IsEqual(gp_Dir(0, 1, 0), 1e-12));
  EXPECT_THROW(nimbo::viewNamed("sideways"), nimbo_exception);
  EXPECT_THROW(nimbo::viewNamed("0,0,0"), nimbo_exception);
  // Labels are escaped, so any name gives valid XML.
  const std::string svg =
      nimbo::renderSvg({RenderItem{nimbo::test::box({0, 0, 0}, {1, 1, 1}), {{1, 0, 0}, std::nullopt, "a<b & \"c\""}}},
                       nimbo::viewNamed("iso"));
  EXPECT_NE(svg.find(">a&lt;b &amp; &quot;c&quot;</text>"), std::string::npos);
}

TEST(RenderSvg, PartsOfEveryKindDrawTheirEdgesWithBothAlgorithms) {
  using nimbo::test::box;
  using nimbo::test::compoundOf;
  using nimbo::test::rectangleFace;
  struct Case {
    const char *kind;
    TopoDS_Shape shape;
    std::size_t lines;  // visible in the iso view
  };
  for (const Case &c : {
           Case{"solid", box({0, 0, 0}, {1, 1, 1}), 9},
           Case{"shell", BRepPrimAPI_MakeBox(1, 1, 1).Shell(), 9},
           Case{"face set", compoundOf({rectangleFace(0, 0, 1, 1), rectangleFace(3, 0, 4, 1, 1)}), 8},
           Case{"wire", BRepBuilderAPI_MakePolygon(gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0), gp_Pnt(1, 1, 1)).Wire(), 2},
           Case{"loose edge", segment({0, 0, 0}, {1, 2, 3}), 1},
           Case{"solid, face and edge",
                compoundOf({box({0, 0, 0}, {1, 1, 1}), rectangleFace(3, 0, 4, 1), segment({6, 0, 0}, {6, 1, 1})}), 14},
           Case{"face without a mesh", unmeshableFace(), 2},
       }) {
    for (const bool exact : {false, true}) {
      SCOPED_TRACE(std::string(c.kind) + (exact ? ", exact" : ", on triangles"));
      EXPECT_EQ(visible(draw(c.shape, "iso", false, exact)).size(), c.lines);
    }
  }
}

TEST(RenderSvg, LooseEdgesAreHiddenBehindFacesAndNotByTheFaceTheyLieOn) {
  // Seen from the front, one edge passes behind the cube, one lies on its front face, one runs in front.
  const TopoDS_Shape edges =
      nimbo::test::compoundOf({segment({-1, 2, 0.5}, {2, 2, 0.5}), segment({0.2, 0, 0.25}, {0.8, 0, 0.25}),
                               segment({-1, -1, 0.75}, {2, -1, 0.75})});
  for (const bool exact : {false, true}) {
    SCOPED_TRACE(exact ? "exact" : "on triangles");
    nimbo::RenderOptions options;
    options.hidden = true;
    options.exact = exact;
    const std::string svg =
        nimbo::renderSvg({RenderItem{nimbo::test::box({0, 0, 0}, {1, 1, 1}), {{0, 0, 0}, std::nullopt, ""}},
                          RenderItem{edges, {{1, 0, 0}, std::nullopt, ""}}},
                         nimbo::viewNamed("front"), options);
    EXPECT_EQ(polylines(svg, "stroke=\"#ff0000\" stroke-width=\"1.3\"").size(), 4u);
    const std::vector<Polyline> behind = polylines(svg, "stroke=\"#ff0000\" stroke-width=\"0.7\"");
    ASSERT_EQ(behind.size(), 1u);
    // Hidden exactly across the cube's width.
    double left = 1e9, right = -1e9;
    for (const Polyline &line : polylines(svg, "stroke=\"#000000\" stroke-width=\"1.3\"")) {
      for (const Point &p : line) left = std::min(left, p.x), right = std::max(right, p.x);
    }
    EXPECT_NEAR(std::min(behind[0].front().x, behind[0].back().x), left, 1.0);
    EXPECT_NEAR(std::max(behind[0].front().x, behind[0].back().x), right, 1.0);
  }
}

TEST(RenderSvg, AnItemThatGivesNoLineIsNamedAndOneWithoutEdgesOrFacesIsLeftOut) {
  nimbo::test::TempDirAsTemp dumps;
  const auto item = [](const TopoDS_Shape &shape, const std::string &label) {
    return RenderItem{shape, {{0, 0, 0}, std::nullopt, label}};
  };
  const RenderItem cube = item(nimbo::test::box({0, 0, 0}, {1, 1, 1}), "cube");
  const RenderItem point = item(nimbo::test::vertexAt(5, 5, 5), "point");
  for (const bool exact : {false, true}) {
    SCOPED_TRACE(exact ? "exact" : "on triangles");
    nimbo::RenderOptions options;
    options.exact = exact;
    // Points and empty compounds have nothing to draw: beside a part they are left out, alone they
    // leave nothing to draw.
    const std::string svg =
        nimbo::renderSvg({cube, point, item(nimbo::test::compoundOf({}), "empty")}, nimbo::viewNamed("iso"), options);
    EXPECT_EQ(visible(svg).size(), 9u);
    EXPECT_THROW(nimbo::renderSvg({point}, nimbo::viewNamed("iso"), options), nimbo_exception);
    // A face of bare triangles has no edge and, flat, no outline.
    try {
      nimbo::renderSvg({cube, item(nimbo::test::triangulationOnlyFace(), "scan")}, nimbo::viewNamed("iso"), options);
      ADD_FAILURE() << "drawn without its second item";
    } catch (const nimbo_exception &e) {
      EXPECT_NE(std::string(e.what()).find("item 2 (scan)"), std::string::npos) << e.what();
    }
  }
}

TEST(RenderFieldSvg, BoxValuedByXIsPaintedFarthestFirstBesideItsScale) {
  const nimbo::FieldSurface surface = valuedByX(nimbo::test::box({-2, 0, 0}, {8, 5, 5}), 0.5);
  // Seen from +X, the face at X = -2 (the least value, the ramp's first colour) lies farthest and
  // the face at X = 8 (the greatest, its last) nearest.
  const std::string svg = nimbo::renderFieldSvg(surface, "x <mm>", nimbo::viewNamed("1,0.1,0.2"));
  const std::vector<std::string> fills = triangleFills(svg);
  ASSERT_EQ(fills.size(), surface.triangles.size());
  EXPECT_EQ(fills.front(), "#440154");
  EXPECT_EQ(fills.back(), "#fde725");
  EXPECT_EQ(texts(svg), (std::vector<std::string>{"-2", "0.5", "3", "5.5", "8", "x &lt;mm&gt;"}));

  // A constant field takes one colour and one label, with no division by its zero range.
  nimbo::FieldSurface constant = surface;
  std::fill(constant.values.begin(), constant.values.end(), 20.0);
  const std::string flat = nimbo::renderFieldSvg(constant, "T", nimbo::viewNamed("iso"));
  const std::vector<std::string> flatFills = triangleFills(flat);
  ASSERT_EQ(flatFills.size(), surface.triangles.size());
  EXPECT_EQ(std::count(flatFills.begin(), flatFills.end(), flatFills.front()), static_cast<long>(flatFills.size()));
  EXPECT_EQ(texts(flat), (std::vector<std::string>{"20", "T"}));
}

TEST(RenderFieldSvg, MalformedSurfacesAreRefused) {
  nimbo::test::TempDirAsTemp dumps;
  const nimbo::FieldSurface good{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}, {1, 2, 3}};
  const auto refused = [](nimbo::FieldSurface surface, const std::string &message) {
    nimbo::test::expectRefusal([&] { nimbo::renderFieldSvg(surface, "T", nimbo::viewNamed("top")); }, message);
  };
  nimbo::FieldSurface bad = good;
  bad.triangles.clear();
  refused(bad, "Cannot draw the field: the surface has no triangle");
  bad = good;
  bad.triangles.push_back({0, 3, 1});
  refused(bad, "Cannot draw the field: triangle 1 names node 3, of 3 nodes counted from 0");
  bad = good;
  bad.values.pop_back();
  refused(bad, "Cannot draw the field: 2 values for 3 nodes");
  bad = good;
  bad.values[1] = std::nan("");
  refused(bad, "Cannot draw the field: the value at node 1 is nan");
}

// The scene a browser reads: one named node per part, in metres with Y up, so a box of 10 x 20 x 30
// mm spans 0.01 x 0.03 x 0.02 m, its depth along -Z.
TEST(WriteGltf, OneNamedRootNodePerPartInMetresWithYUp) {
  nimbo::test::TempDir dir;
  const std::string file = (dir.path() / "parts.glb").string();
  nimbo::writeGltf({{"asm/box", nimbo::test::box({0, 0, 0}, {10, 20, 30}), {1, 0, 0}},
                    {"asm/cube", nimbo::test::box({20, 0, 0}, {25, 5, 5}), {0, 0, 1}}},
                   file);
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 20u);
  ASSERT_EQ(bytes.substr(0, 4), "glTF");
  std::uint32_t length = 0;
  std::copy_n(bytes.data() + 12, 4, reinterpret_cast<char *>(&length));
  const nlohmann::json scene = nlohmann::json::parse(bytes.substr(20, length));
  std::vector<std::string> names;
  for (const auto &root : scene["scenes"][0]["nodes"]) names.push_back(scene["nodes"][root.get<int>()].value("name", ""));
  EXPECT_EQ(names, (std::vector<std::string>{"asm/box", "asm/cube"}));
  std::vector<double> low = {1, 1, 1}, high = {-1, -1, -1};  // over the box's faces
  for (const auto &face : scene["meshes"][0]["primitives"]) {
    const auto &positions = scene["accessors"][face["attributes"]["POSITION"].get<int>()];
    for (int k = 0; k < 3; ++k) {
      low[k] = std::min(low[k], positions["min"][k].get<double>());
      high[k] = std::max(high[k], positions["max"][k].get<double>());
    }
  }
  const std::vector<double> expectedLow = {0, 0, -0.02}, expectedHigh = {0.01, 0.03, 0};
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(low[k], expectedLow[k], 1e-7) << k;
    EXPECT_NEAR(high[k], expectedHigh[k], 1e-7) << k;
  }
  EXPECT_THROW(nimbo::writeGltf({}, file), nimbo_exception);
}
