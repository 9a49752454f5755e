// CalculiX's results read back: a bar in tension solved by ccx against its closed-form answer, the
// fixed columns of a .frd file, a damaged one, and the stress figures of tensors known in closed form.
#include "solve/calculix/Results.h"

#include <nimbo/nimbo_exception.h>

#include "test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace nimbo::detail;

namespace {

void expectStresses(const Stress &s, const std::array<double, 3> &principal, double mises) {
  const std::array<double, 3> found = principalStresses(s);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(found[k], principal[k], 1e-12 * std::abs(principal[0]) + 1e-12) << k;
  EXPECT_NEAR(vonMises(s), mises, 1e-12 * mises + 1e-12);
}

// R diag(d) R^T for a turn of 0.7 about (1, 2, 2) / 3, which fills every component.
Stress rotated(const std::array<double, 3> &d) {
  const double n[3] = {1.0 / 3, 2.0 / 3, 2.0 / 3}, c = std::cos(0.7), s = std::sin(0.7);
  double r[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r[i][j] = (i == j ? c : 0) + (1 - c) * n[i] * n[j];
  }
  r[0][1] -= s * n[2], r[1][0] += s * n[2], r[0][2] += s * n[1], r[2][0] -= s * n[1], r[1][2] -= s * n[0],
      r[2][1] += s * n[0];
  auto at = [&](int i, int j) {
    return r[i][0] * d[0] * r[j][0] + r[i][1] * d[1] * r[j][1] + r[i][2] * d[2] * r[j][2];
  };
  return {at(0, 0), at(1, 1), at(2, 2), at(0, 1), at(1, 2), at(2, 0)};
}

TEST(CalculixResults, StressesInClosedForm) {
  expectStresses({100, 0, 0, 0, 0, 0}, {100, 0, 0}, 100);                  // uniaxial
  expectStresses({0, 0, 0, 0, 50, 0}, {50, 0, -50}, 50 * std::sqrt(3.0));  // pure shear
  expectStresses({-30, -30, -30, 0, 0, 0}, {-30, -30, -30}, 0);            // hydrostatic
  expectStresses(rotated({3, 1, -2}), {3, 1, -2}, std::sqrt(19.0));
  expectStresses(rotated({2, -1, 2}), {2, 2, -1}, 3);  // a repeated pair
  expectStresses({0, 0, 0, 0, 0, 0}, {0, 0, 0}, 0);
}

// A mode's displacements as ccx 2.20 writes them: numbers run together, a magnitude listed but not
// written, the mode on a line of its own.
const std::string modeFrd =
    "    1C\n    2C                             1                                     1\n"
    " -1    100001 0.00000E+00 0.00000E+00 1.00000E+00\n -3\n"
    "    1PSTEP                         4           1           2\n    1PMODE                         3\n"
    "  100CL  104 81932.08958           2                     2    4MODAL      1\n"
    " -4  DISP        4    1\n -5  D1          1    2    1    0\n -5  D2          1    2    2    0\n"
    " -5  D3          1    2    3    0\n -5  ALL         1    2    0    0    1ALL\n"
    " -1    100001-2.38095E-02-2.79656E-16 1.42857E+03\n -1   7654321 1.00000E+00 2.00000E+00-3.00000E+00\n"
    " -3\n 9999\n";

TEST(CalculixResults, FrdColumnsAndDamage) {
  const nimbo::test::TempDirAsTemp dir;
  const std::string path = (dir.path() / "mode.frd").string();
  nimbo::test::writeText(path, modeFrd);
  const std::vector<FrdBlock> blocks = readFrd(path);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].name, "DISP");
  EXPECT_EQ(blocks[0].step, 3);
  EXPECT_DOUBLE_EQ(blocks[0].value, 81932.08958);
  EXPECT_EQ(blocks[0].components, (std::vector<std::string>{"D1", "D2", "D3"}));
  EXPECT_EQ(blocks[0].nodes, (std::vector<std::size_t>{100001, 7654321}));
  EXPECT_EQ(blocks[0].values, (std::vector<double>{-2.38095E-02, -2.79656E-16, 1.42857E+03, 1, 2, -3}));
  // Cut inside a value, then before the block's end: each names the line where the damage shows.
  for (const auto &[keep, line] : {std::pair{modeFrd.find("-2.79656"), 13}, {modeFrd.find(" -3\n 9999"), 15}}) {
    nimbo::test::writeText(path, modeFrd.substr(0, keep));
    try {
      readFrd(path);
      ADD_FAILURE() << "a damaged file was read";
    } catch (const nimbo_exception &error) {
      EXPECT_NE(std::string(error.what()).find(path + ", line " + std::to_string(line) + ":"), std::string::npos)
          << error.what();
    }
  }
}

// A bar 10 long of section 1 x 1, one brick, held at x = 0 where it may still narrow, pulled by 1000.
TEST(CalculixResults, BarInTension) {
  if (std::system("command -v ccx > /dev/null 2>&1") != 0) GTEST_SKIP() << "ccx is not on PATH";
  const double corners[8][3] = {{0, 0, 0}, {10, 0, 0}, {10, 1, 0}, {0, 1, 0},
                                {0, 0, 1}, {10, 0, 1}, {10, 1, 1}, {0, 1, 1}};
  std::string deck = "*NODE\n";
  for (int c = 0; c < 8; ++c) {
    deck += std::to_string(100001 + c) + "," + std::to_string(corners[c][0]) + "," + std::to_string(corners[c][1]) +
            "," + std::to_string(corners[c][2]) + "\n";
  }
  deck +=
      "*ELEMENT,TYPE=C3D8,ELSET=BAR\n1,100001,100002,100003,100004,100005,100006,100007,100008\n"
      "*NSET,NSET=FIX\n100001,100004,100005,100008\n*NSET,NSET=LOAD\n100002,100003,100006,100007\n"
      "*MATERIAL,NAME=STEEL\n*ELASTIC\n200000,0.3\n*DENSITY\n7.85e-9\n*SOLID SECTION,ELSET=BAR,MATERIAL=STEEL\n"
      "*BOUNDARY\nFIX,1,1\n100001,2,3\n100004,3,3\n100005,2,2\n"
      "*STEP\n*STATIC\n*CLOAD\nLOAD,1,250\n*NODE PRINT,NSET=FIX\nRF\n*NODE PRINT,NSET=LOAD\nRF\n"
      "*NODE FILE\nU\n*EL FILE\nS\n*END STEP\n*STEP\n*FREQUENCY\n4\n*END STEP\n";
  const nimbo::test::TempDirAsTemp dir;
  nimbo::test::writeText(dir.path() / "bar.inp", deck);
  ASSERT_EQ(std::system(("cd '" + dir.path().string() + "' && ccx -i bar > ccx.log 2>&1").c_str()), 0);

  const std::vector<FrdBlock> blocks = readFrd((dir.path() / "bar.frd").string());
  ASSERT_GE(blocks.size(), 2u);
  const FrdBlock &u = blocks[0], &s = blocks[1];
  ASSERT_EQ(u.name, "DISP");
  ASSERT_EQ(s.name, "STRESS");
  ASSERT_EQ(u.nodes.size(), 8u);
  ASSERT_EQ(s.components.size(), 6u);
  const double strain = 1000 / 200000.0;  // sigma / E
  for (std::size_t k = 0; k < 8; ++k) {
    const double *p = corners[u.nodes[k] - 100001];
    EXPECT_NEAR(u.values[3 * k], strain * p[0], 1e-9);
    EXPECT_NEAR(u.values[3 * k + 1], -0.3 * strain * p[1], 1e-9);
    EXPECT_NEAR(u.values[3 * k + 2], -0.3 * strain * p[2], 1e-9);
    const Stress at{s.values[6 * k],     s.values[6 * k + 1], s.values[6 * k + 2],
                    s.values[6 * k + 3], s.values[6 * k + 4], s.values[6 * k + 5]};
    EXPECT_NEAR(vonMises(at), 1000, 0.1);  // ccx's extrapolation to the nodes is good to 1e-4
    EXPECT_NEAR(principalStresses(at)[0], 1000, 0.1);
  }

  const DatResults dat = readDat((dir.path() / "bar.dat").string());
  ASSERT_GE(dat.forces.size(), 2u);
  EXPECT_EQ(dat.forces[0].set, "FIX");
  EXPECT_DOUBLE_EQ(dat.forces[0].time, 1);
  double held = 0;
  for (const auto &f : dat.forces[0].forces) held += f[0];
  EXPECT_NEAR(held, -1000, 1e-6);
  for (const auto &f : dat.forces[1].forces) EXPECT_NEAR(f[0], 250, 1e-6);  // the load, at a free node
  ASSERT_EQ(dat.modes.size(), 4u);
  std::array<double, 3> sum{};
  for (const DatMode &mode : dat.modes) {
    // The frequencies of both files agree; a mass-normalised mode's effective mass is its factor squared.
    const auto shape = std::find_if(blocks.begin() + 2, blocks.end(),
                                    [&](const FrdBlock &b) { return b.name == "DISP" && b.step == mode.mode; });
    ASSERT_NE(shape, blocks.end());
    EXPECT_NEAR(shape->value, mode.frequency, 1e-6 * mode.frequency);
    for (int d = 0; d < 3; ++d) {
      EXPECT_NEAR(mode.effectiveMass[d], mode.participation[d] * mode.participation[d], 1e-5 * 7.85e-8);
      sum[d] += mode.effectiveMass[d];
    }
  }
  for (int d = 0; d < 3; ++d) EXPECT_NEAR(dat.totalEffectiveMass[d], sum[d], 1e-6 * 7.85e-8);
}

}  // namespace
