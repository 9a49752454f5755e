// Line drawings: the edges a view must show and hide, seams left out, everything on the page.
#include <nimbo/nimbo_exception.h>
#include <nimbo/render/Render.h>

#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <TopLoc_Location.hxx>
#include <gp_Ax1.hxx>

#include <cmath>
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

std::string draw(const TopoDS_Shape &shape, const std::string &view, bool hidden) {
  nimbo::RenderOptions options;
  options.hidden = hidden;
  return nimbo::renderSvg({RenderItem{shape, {{0, 0, 0}, std::nullopt, ""}}}, nimbo::viewNamed(view), options);
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
