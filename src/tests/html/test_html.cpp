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
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_EQ(text.str().find("<script src"), std::string::npos) << "the page must need no other file";
  EXPECT_NE(text.str().find("<title>two &lt;boxes&gt;</title>"), std::string::npos);

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

}  // namespace
