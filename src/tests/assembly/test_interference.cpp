// Interference across an assembly: overlaps, contacts and clearances of real solids, the box sweep
// against all pairs, and many threads against one.
#include <nimbo/assembly/Assembly.h>

#include "assembly_fixtures.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepTools.hxx>
#include <TopLoc_Location.hxx>
#include <gp_Trsf.hxx>

#include <cmath>
#include <filesystem>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

using nimbo::ContactKind;
using nimbo::findInterferences;
using nimbo::InterferenceOptions;
using nimbo::Interferences;
using nimbo::Part;
using nimbo::test::box;

namespace {

Part part(const std::string &path, const TopoDS_Shape &shape) { return Part{path, path, shape, std::nullopt}; }

TopoDS_Shape cube(double x, double y, double z, double size = 10) {
  return box({x, y, z}, {x + size, y + size, z + size});
}

// The findings as comparable tuples: kind, first, second, and the figure rounded to 1e-9 relative.
using Row = std::tuple<std::string, std::size_t, std::size_t, double>;
double rounded(double value) {
  if (value == 0.0) return 0.0;
  const double scale = std::pow(10.0, 9 - std::ceil(std::log10(std::abs(value))));
  return std::round(value * scale) / scale;
}
std::vector<Row> rowsOf(const Interferences &found) {
  std::vector<Row> rows;
  for (const auto &o : found.overlaps) rows.emplace_back("overlap", o.first, o.second, rounded(o.volume));
  for (const auto &c : found.contacts) {
    rows.emplace_back(nimbo::toString(c.kind), c.first, c.second, rounded(c.area));
  }
  for (const auto &c : found.clearances) rows.emplace_back("clearance", c.first, c.second, rounded(c.distance));
  for (const auto &f : found.failures) rows.emplace_back("failure: " + f.message, f.first, f.second, 0.0);
  return rows;
}

std::string brepText(const TopoDS_Shape &shape) {
  std::ostringstream text;
  BRepTools::Write(shape, text);
  return text.str();
}

// Where a second 10 mm cube lies against a first at the origin, and what the two make.
struct PairCase {
  const char *what;
  TopoDS_Shape second;
  std::vector<Row> expected;
};

}  // namespace

TEST(FindInterferences, HowTwoCubesMeet) {
  const std::vector<PairCase> cases = {
      {"overlapping by 5 mm", cube(5, 5, 5), {{"overlap", 0, 1, 125}}},
      {"overlapping along aligned faces", cube(5, 0, 0), {{"overlap", 0, 1, 500}}},
      {"wholly inside", box({2, 2, 2}, {7, 7, 7}), {{"overlap", 0, 1, 125}}},
      // Shared faces with both cubes on one side: overlaps, though no face of one enters the other.
      {"the same cube again", cube(0, 0, 0), {{"overlap", 0, 1, 1000}}},
      {"inside, in a corner", cube(0, 0, 0, 5), {{"overlap", 0, 1, 125}}},
      {"sharing a face", cube(10, 0, 0), {{"face", 0, 1, 100}}},
      {"sharing part of a face", cube(10, 5, 5), {{"face", 0, 1, 25}}},
      {"sharing an edge", cube(10, 10, 0), {{"edge", 0, 1, 0}}},
      {"sharing a corner", cube(10, 10, 10), {{"point", 0, 1, 0}}},
      {"apart by 0.5 mm", cube(10.5, 0, 0), {}},
  };
  for (const PairCase &c : cases) {
    const Interferences found = findInterferences({part("a", cube(0, 0, 0)), part("b", c.second)});
    EXPECT_EQ(rowsOf(found), c.expected) << c.what;
    EXPECT_EQ(found.pairs, 1u);
  }
}

TEST(FindInterferences, ClearanceIsReportedOnlyWhenAskedAndWithItsPoints) {
  const std::vector<Part> parts = {part("a", cube(0, 0, 0)), part("b", cube(10.5, 0, 0))};
  InterferenceOptions options;
  options.clearance = 1.0;
  const Interferences found = findInterferences(parts, options);
  ASSERT_EQ(found.clearances.size(), 1u);
  EXPECT_NEAR(found.clearances[0].distance, 0.5, 1e-9);
  EXPECT_NEAR(found.clearances[0].onFirst.X(), 10.0, 1e-9);
  EXPECT_NEAR(found.clearances[0].onSecond.X(), 10.5, 1e-9);
  EXPECT_TRUE(found.contacts.empty() && found.overlaps.empty());
  // Without a clearance the boxes do not even meet.
  const Interferences plain = findInterferences(parts);
  EXPECT_TRUE(rowsOf(plain).empty());
  EXPECT_EQ(plain.candidates, 0u);
}

TEST(FindInterferences, BoltInAHoleOfItsDiameterTouchesWithoutOverlap) {
  const TopoDS_Shape shank = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 20, -5), gp_Dir(0, 0, 1)), 4, 20).Shape();
  const TopoDS_Shape plate = BRepAlgoAPI_Cut(box({0, 0, 0}, {40, 40, 10}), shank).Shape();
  // A minimum overlap of 0 makes any sliver of common volume an overlap.
  InterferenceOptions strict;
  strict.minimumOverlap = 0.0;
  const Interferences found = findInterferences({part("plate", plate), part("bolt", shank)}, strict);
  ASSERT_EQ(found.contacts.size(), 1u) << ::testing::PrintToString(rowsOf(found));
  EXPECT_EQ(found.contacts[0].kind, ContactKind::face);
  EXPECT_NEAR(found.contacts[0].area, 2 * M_PI * 4 * 10, 1e-6);
  EXPECT_TRUE(found.overlaps.empty());
}

// Instances of one product share its topology; examining them in parallel must leave it as it was.
TEST(FindInterferences, InstancesOfOneProductInParallelLeaveItsTopologyAlone) {
  const TopoDS_Shape product = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(1, 0, 0)), 5, 10).Shape();
  const std::string before = brepText(product);
  std::vector<Part> parts;
  for (int k = 0; k < 8; ++k) {
    gp_Trsf placement;
    // A row, staggered, with gaps the contact tolerance closes (and a fuse would close by growing tolerances).
    placement.SetTranslation(gp_Vec(10.00001 * k, 0, k % 2 == 0 ? 0.0 : 0.5));
    parts.push_back(part("pin#" + std::to_string(k + 1), product.Moved(TopLoc_Location(placement))));
  }
  InterferenceOptions one;
  one.threads = 1;
  InterferenceOptions many;
  many.threads = 4;
  const Interferences serial = findInterferences(parts, one);
  const Interferences parallel = findInterferences(parts, many);
  EXPECT_EQ(rowsOf(parallel), rowsOf(serial));
  ASSERT_EQ(serial.contacts.size(), 7u);
  // Discs of radius 5 offset by 0.5: two circular segments' overlap.
  const double half = std::acos(0.5 / 10.0);
  EXPECT_NEAR(serial.contacts[0].area, 25 * (2 * half - std::sin(2 * half)), 1e-6);
  EXPECT_EQ(brepText(product), before);  // no tolerance, curve or mesh added
}

// A repeated subassembly is examined once; the copy's findings lie where the copy is.
TEST(FindInterferences, ARepeatedSubassemblyHasItsFindingsInItsOwnPlace) {
  const TopoDS_Shape base = cube(0, 0, 0), lid = cube(10, 0, 0), peg = box({8, 2, 2}, {12, 4, 4});
  gp_Trsf turn;
  turn.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), M_PI / 2);
  turn.SetTranslationPart(gp_Vec(100, 50, 0));
  const TopLoc_Location there(turn);
  const std::vector<Part> parts = {part("a/base", base),           part("a/lid", lid),
                                   part("a/peg", peg),             part("b/base", base.Moved(there)),
                                   part("b/lid", lid.Moved(there)), part("b/peg", peg.Moved(there))};
  const Interferences found = findInterferences(parts);
  ASSERT_EQ(found.overlaps.size(), 4u);
  ASSERT_EQ(found.contacts.size(), 2u);
  const auto middle = [](const TopoDS_Shape &shape) {
    Bnd_Box box;
    BRepBndLib::Add(shape, box);
    return gp_Pnt((box.CornerMin().XYZ() + box.CornerMax().XYZ()) / 2);
  };
  for (std::size_t k : {0, 1}) {
    const nimbo::Overlap &here = found.overlaps[k], &copy = found.overlaps[k + 2];
    EXPECT_EQ(copy.first, here.first + 3);
    EXPECT_NEAR(copy.volume, here.volume, 1e-9);
    EXPECT_LT(middle(copy.region).Distance(middle(here.region).Transformed(turn)), 1e-6);
  }
  EXPECT_NEAR(found.contacts[1].area, 100, 1e-9);
  EXPECT_LT(middle(found.contacts[1].faces).Distance(middle(found.contacts[0].faces).Transformed(turn)), 1e-6);
}

TEST(FindInterferences, PartsWithoutSolidsAreSkipped) {
  const Interferences found =
      findInterferences({part("a", cube(0, 0, 0)), part("skin", nimbo::test::rectangleFace(0, 0, 10, 10, 10)),
                         part("b", cube(0, 0, 10))});
  EXPECT_EQ(found.skipped, std::vector<std::size_t>{1});
  EXPECT_EQ(found.parts, 2u);
  EXPECT_EQ(rowsOf(found), (std::vector<Row>{{"face", 0, 2, 100}}));
}

// Blocks on a 5 mm lattice, so that many touch by faces, edges and corners and some overlap: the
// box sweep must find every pair that all pairs find, and threads must not change the answer.
TEST(FindInterferences, BoxSweepAndThreadsGiveTheAllPairsAnswer) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> cell(0, 5);
  std::uniform_int_distribution<int> size(1, 2);
  for (int round = 0; round < 2; ++round) {
    std::vector<Part> parts;
    for (int k = 0; k < 18; ++k) {
      const gp_Pnt corner(5.0 * cell(random), 5.0 * cell(random), 5.0 * cell(random));
      const gp_Pnt far(corner.X() + 5.0 * size(random), corner.Y() + 5.0 * size(random),
                       corner.Z() + 5.0 * size(random));
      parts.push_back(part("block" + std::to_string(k), box(corner, far)));
    }
    InterferenceOptions swept;
    swept.clearance = 2.0;
    InterferenceOptions every = swept;
    every.broadPhase = false;
    every.threads = 1;
    const Interferences fast = findInterferences(parts, swept);
    const Interferences slow = findInterferences(parts, every);
    EXPECT_EQ(rowsOf(fast), rowsOf(slow)) << "round " << round;
    EXPECT_EQ(slow.candidates, slow.pairs);
    EXPECT_LT(fast.candidates, slow.candidates);
    EXPECT_TRUE(fast.failures.empty());
  }
}

TEST(FindInterferences, SharedCadAssemblyGivesOneAnswerOnAnyNumberOfThreads) {
  if (const auto why = nimbo::test::sharedAssemblySkip()) GTEST_SKIP() << *why;
  // Three instances each of one bolt and one nut product under two instances of a bracket assembly.
  const nimbo::Assembly assembly = nimbo::readAssembly(nimbo::test::sharedCadFile("caxif_as1-tu-203_asm.stp"));
  InterferenceOptions one;
  one.threads = 1;
  const Interferences serial = findInterferences(assembly.parts, one);
  EXPECT_EQ(rowsOf(findInterferences(assembly.parts)), rowsOf(serial));
  EXPECT_TRUE(serial.failures.empty() && serial.overlaps.empty());
  EXPECT_EQ(serial.contacts.size(), 32u);
}
