// Pages built from real shapes: what the clash page holds, and the refusals that keep a page whole.
#include <nimbo/environment_variables.h>
#include <nimbo/html/Html.h>
#include <nimbo/nimbo_exception.h>

#include "test_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::vector<nimbo::Part> twoOverlappingBoxes() {
  return {{"asm/a", "a", nimbo::test::box({0, 0, 0}, {10, 10, 10}), std::nullopt},
          {"asm/b", "b", nimbo::test::box({9, 0, 0}, {19, 10, 10}), std::nullopt}};
}

std::string fileText(const std::string &path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(ClashPage, EachOverlapIsARowThatFramesThePairAndItsRegion) {
  const std::vector<nimbo::Part> parts = twoOverlappingBoxes();
  const nimbo::Page page = nimbo::clashPage(parts, nimbo::findInterferences(parts), "clash");
  ASSERT_EQ(page.parts.size(), 3u);
  EXPECT_TRUE(page.parts[2].inside);
  ASSERT_EQ(page.tables.size(), 1u);
  ASSERT_EQ(page.tables[0].rows.size(), 1u);
  const nimbo::PageRow &row = page.tables[0].rows[0];
  EXPECT_EQ(row.cells, (std::vector<std::string>{"overlap", "asm/a", "asm/b", "volume 100 mm^3"}));
  EXPECT_EQ(row.parts, (std::vector<std::string>{"asm/a", "asm/b", page.parts[2].name}));
}

TEST(DiffPage, AMovedPartIsFramedWithItsOldPlaceAsAGhost) {
  const std::vector<nimbo::Part> before = twoOverlappingBoxes();
  std::vector<nimbo::Part> after = before;
  after[0].shape = nimbo::test::box({0, 50, 0}, {10, 60, 10});
  const nimbo::Page page = nimbo::diffPage(before, after, nimbo::diffAssemblies(before, after), "diff");
  ASSERT_EQ(page.parts.size(), 3u);
  EXPECT_EQ(page.parts[0].kind, "moved");
  EXPECT_TRUE(page.parts[2].ghost);
  ASSERT_EQ(page.tables[0].rows.size(), 1u);
  EXPECT_EQ(page.tables[0].rows[0].cells[2], "by 50 mm");
  EXPECT_EQ(page.tables[0].rows[0].parts, (std::vector<std::string>{"asm/a", page.parts[2].name}));
}

TEST(WritePage, IsOneFileAndRefusesWhatWouldShowWrong) {
  nimbo::test::TempDir dir;
  const std::string path = (dir.path() / "page.html").string();
  nimbo::Page page = nimbo::partsPage(twoOverlappingBoxes(), "two <boxes>");
  nimbo::writePage(page, path);
  const std::string text = fileText(path);
  EXPECT_EQ(text.find("<script src"), std::string::npos) << "the page must need no other file";
  EXPECT_NE(text.find("<title>two &lt;boxes&gt;</title>"), std::string::npos);

  page.tables.push_back({"findings", "Findings", {"part"}, {{{"asm/c"}, {"asm/c"}}}});
  EXPECT_THROW(nimbo::writePage(page, path), nimbo_exception);
  page.tables.clear();

  const std::string three = nimbo::threeJsFolder();
  set_environment_variable("NIMBO_THREE_DIR", dir.path().c_str());
  const std::string missing = (dir.path() / "missing.html").string();
  try {
    nimbo::writePage(page, missing);
    ADD_FAILURE() << "wrote a page without three.js";
  } catch (const nimbo_exception &error) {
    EXPECT_NE(std::string(error.what()).find("three.min.js"), std::string::npos) << error.what();
  }
  set_environment_variable("NIMBO_THREE_DIR", three.c_str());
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// Parts warming from 20 to 30 degC in three steps have each step on the one scale of all three;
// past the limit the page holds the last step alone and says so.
TEST(WritePage, EmbedsAFieldsStepsInTimeUpToALimit) {
  nimbo::test::TempDir dir;
  const std::string path = (dir.path() / "warming.html").string();
  const nimbo::FieldSurface triangle{{{0, 0, 0}, {10, 0, 0}, {0, 10, 0}}, {{0, 1, 2}}, {30, 30, 30}};
  nimbo::Page page;
  page.field = {"temperature (degC)", {{"a", triangle}, {"b", triangle}}, {}};
  for (const double t : {0, 1, 2}) {
    const std::vector<double> values(3, 20 + 5 * t);
    page.field.frames.push_back({"t = " + std::to_string(static_cast<int>(t)) + " s", {values, values}});
  }
  nimbo::writePage(page, path);
  std::string text = fileText(path);
  EXPECT_NE(text.find("\"min\":20.0,\"max\":30.0"), std::string::npos);
  EXPECT_NE(text.find("{\"label\":\"t = 0 s\",\"levels\":[\"AAAA\",\"AAAA\"]}"), std::string::npos);
  EXPECT_NE(text.find("{\"label\":\"t = 2 s\",\"levels\":[\"////\",\"////\"]}"), std::string::npos);

  page.field.frames[1].values[1].pop_back();
  try {
    nimbo::writePage(page, path);
    ADD_FAILURE() << "wrote a step with a value missing";
  } catch (const nimbo_exception &error) {
    EXPECT_STREQ(error.what(),
                 ("Cannot write " + path + ": the field's step t = 1 s has 2 values for the 3 nodes of b").c_str());
  }

  const std::size_t nodes = nimbo::pageFrameValues / 40 + 1;
  nimbo::FieldSurface heavy{std::vector<gp_Pnt>(nodes), {}, std::vector<double>(nodes, 30)};
  page.field = {"temperature (degC)", {{"a", heavy}}, std::vector<nimbo::PageFieldFrame>(40, {"t", {heavy.values}})};
  nimbo::writePage(page, path);
  text = fileText(path);
  EXPECT_NE(text.find("\"frames\":[],\"note\":\"40 steps: too many to embed, the last one shown\""), std::string::npos);
}

}  // namespace
