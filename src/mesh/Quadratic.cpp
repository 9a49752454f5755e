// Quadratic tetrahedra whose mid-edge nodes, placed on a curved surface, turn the element inside
// out: solvers refuse them ("nonpositive jacobian"), or worse, integrate them with a wrong sign. Their
// mid-edge nodes are put back on the straight edges until every element is valid.
#include "Gmsh.h"

#include <gmsh.h>

#include <array>
#include <map>
#include <set>

namespace nimbo::detail {
namespace {

using Point = std::array<double, 3>;

// Gmsh's quadratic tetrahedron: corners 0-3, then the mid-edge nodes of edges 01, 12, 20, 30, 32, 31.
constexpr int edges[6][2] = {{0, 1}, {1, 2}, {2, 0}, {3, 0}, {3, 2}, {3, 1}};

// The Jacobian determinant at barycentric coordinates L.
double jacobian(const std::array<Point, 10> &x, const std::array<double, 4> &L) {
  // Each node's shape function derived by the four barycentric coordinates.
  std::array<std::array<double, 4>, 10> g{};
  for (int i = 0; i < 4; ++i) g[i][i] = 4 * L[i] - 1;
  for (int e = 0; e < 6; ++e) {
    g[4 + e][edges[e][0]] = 4 * L[edges[e][1]];
    g[4 + e][edges[e][1]] = 4 * L[edges[e][0]];
  }
  double J[3][3] = {};
  for (int n = 0; n < 10; ++n) {
    for (int k = 0; k < 3; ++k) {
      const double dN = g[n][k + 1] - g[n][0];
      for (int c = 0; c < 3; ++c) J[c][k] += x[n][c] * dN;
    }
  }
  return J[0][0] * (J[1][1] * J[2][2] - J[1][2] * J[2][1]) - J[0][1] * (J[1][0] * J[2][2] - J[1][2] * J[2][0]) +
         J[0][2] * (J[1][0] * J[2][1] - J[1][1] * J[2][0]);
}

// Valid where it is integrated and at its corners: the determinant keeps the straight element's sign.
bool valid(const std::array<Point, 10> &x) {
  constexpr double a = 0.1381966011250105, b = 0.5854101966249685;
  static const std::array<std::array<double, 4>, 8> at = {{{1, 0, 0, 0},
                                                           {0, 1, 0, 0},
                                                           {0, 0, 1, 0},
                                                           {0, 0, 0, 1},
                                                           {b, a, a, a},
                                                           {a, b, a, a},
                                                           {a, a, b, a},
                                                           {a, a, a, b}}};
  std::array<Point, 10> straight = x;
  for (int e = 0; e < 6; ++e) {
    for (int c = 0; c < 3; ++c) straight[4 + e][c] = (x[edges[e][0]][c] + x[edges[e][1]][c]) / 2;
  }
  const double sign = jacobian(straight, at[0]) > 0 ? 1 : -1;
  for (const auto &L : at) {
    if (sign * jacobian(x, L) <= 0) return false;
  }
  return true;
}

}  // namespace

std::size_t straightenInvertedQuadratics() {
  std::vector<std::size_t> elementTags, nodeTags;
  gmsh::model::mesh::getElementsByType(11, elementTags, nodeTags);  // 10-node tetrahedra
  if (elementTags.empty()) return 0;
  std::vector<std::size_t> tags;
  std::vector<double> coordinates, parametric;
  gmsh::model::mesh::getNodes(tags, coordinates, parametric, -1, -1, true, false);
  std::map<std::size_t, Point> at;
  for (std::size_t k = 0; k < tags.size(); ++k) {
    at[tags[k]] = {coordinates[3 * k], coordinates[3 * k + 1], coordinates[3 * k + 2]};
  }
  std::set<std::size_t> straightened;
  // Straightening a node changes its other elements too: again until nothing changes (a fully
  // straight element is its valid linear one, so this ends).
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t e = 0; e < elementTags.size(); ++e) {
      std::array<Point, 10> x;
      for (int n = 0; n < 10; ++n) x[n] = at.at(nodeTags[10 * e + n]);
      if (valid(x)) continue;
      for (int m = 0; m < 6; ++m) {
        const std::size_t node = nodeTags[10 * e + 4 + m];
        Point &p = at.at(node);
        const Point &a = x[edges[m][0]], &b = x[edges[m][1]];
        const Point middle = {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2};
        if (p == middle) continue;
        p = middle;
        straightened.insert(node);
        changed = true;
      }
    }
  }
  for (const std::size_t node : straightened) {
    const Point &p = at.at(node);
    gmsh::model::mesh::setNode(node, {p[0], p[1], p[2]}, {});
  }
  return straightened.size();
}

}  // namespace nimbo::detail
