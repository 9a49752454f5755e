// Whether a static study's holds fix every body of its mesh: each held direction of a node rules out
// the rigid motions (three translations, three turns) that would move it there. A body with a motion
// left free has no unique answer.
#include "Calculix.h"

#include <nimbo/nimbo_exception.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>

namespace nimbo::detail {
namespace {

using Matrix6 = std::array<std::array<double, 6>, 6>;

// The eigenvalues of a symmetric matrix, by Jacobi rotations.
std::array<double, 6> eigenvalues(Matrix6 a) {
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0;
    for (int p = 0; p < 6; ++p) {
      for (int q = p + 1; q < 6; ++q) off += a[p][q] * a[p][q];
    }
    if (off < 1e-30) break;
    for (int p = 0; p < 6; ++p) {
      for (int q = p + 1; q < 6; ++q) {
        if (std::abs(a[p][q]) < 1e-300) continue;
        const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
        const double t = (theta >= 0 ? 1 : -1) / (std::abs(theta) + std::sqrt(theta * theta + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < 6; ++k) {
          const double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (int k = 0; k < 6; ++k) {
          const double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
      }
    }
  }
  std::array<double, 6> values{};
  for (int i = 0; i < 6; ++i) values[i] = a[i][i];
  return values;
}

std::size_t root(std::vector<std::size_t> &parent, std::size_t n) {
  while (parent[n] != n) n = parent[n] = parent[parent[n]];
  return n;
}

}  // namespace

void checkHeld(const SetUp &setUp, const MeshData &mesh, const Deck &deck) {
  // Bodies: tetrahedra joined by shared faces. Parts that meet only at a point or along a line turn
  // about it, so they are bodies of their own.
  const std::size_t count = mesh.tetrahedra.size();
  std::vector<std::size_t> parent(count);
  std::iota(parent.begin(), parent.end(), 0);
  {
    std::vector<std::pair<std::array<std::size_t, 3>, std::size_t>> faces;
    faces.reserve(4 * count);
    static constexpr int corners[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
    for (std::size_t t = 0; t < count; ++t) {
      for (const auto &f : corners) {
        std::array<std::size_t, 3> key = {mesh.tetrahedra[t][f[0]], mesh.tetrahedra[t][f[1]], mesh.tetrahedra[t][f[2]]};
        std::sort(key.begin(), key.end());
        faces.emplace_back(key, t);
      }
    }
    std::sort(faces.begin(), faces.end());
    for (std::size_t k = 1; k < faces.size(); ++k) {
      if (faces[k].first == faces[k - 1].first)
        parent[root(parent, faces[k].second)] = root(parent, faces[k - 1].second);
    }
  }
  // The bodies each node belongs to: more than one where bodies meet.
  std::vector<std::vector<std::size_t>> bodiesOf(mesh.nodes.size());
  std::map<std::size_t, std::array<double, 6>> extent;  // body -> box
  for (std::size_t t = 0; t < count; ++t) {
    const std::size_t body = root(parent, t);
    std::vector<std::size_t> nodes(mesh.tetrahedra[t].begin(), mesh.tetrahedra[t].end());
    if (!mesh.tetrahedronEdges.empty())
      nodes.insert(nodes.end(), mesh.tetrahedronEdges[t].begin(), mesh.tetrahedronEdges[t].end());
    for (const std::size_t n : nodes) {
      if (std::find(bodiesOf[n].begin(), bodiesOf[n].end(), body) == bodiesOf[n].end()) bodiesOf[n].push_back(body);
      auto [at, fresh] = extent.try_emplace(body);
      for (int d = 0; d < 3; ++d) {
        at->second[d] = fresh ? mesh.nodes[n][d] : std::min(at->second[d], mesh.nodes[n][d]);
        at->second[d + 3] = fresh ? mesh.nodes[n][d] : std::max(at->second[d + 3], mesh.nodes[n][d]);
      }
    }
  }
  std::map<std::size_t, std::vector<std::size_t>> bodies;  // body -> its parts (indices into setUp.parts)
  for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
    for (const std::size_t t : mesh.volumes.at(setUp.parts[k].path)) {
      auto &parts = bodies[root(parent, t)];
      if (std::find(parts.begin(), parts.end(), k) == parts.end()) parts.push_back(k);
    }
  }
  // Each body's centre and size, so that turns and moves weigh alike.
  std::map<std::size_t, std::array<double, 4>> frame;  // body -> centre, size
  for (const auto &[body, e] : extent) {
    const double size = std::max({e[3] - e[0], e[4] - e[1], e[5] - e[2], 1e-9});
    frame[body] = {(e[0] + e[3]) / 2, (e[1] + e[4]) / 2, (e[2] + e[5]) / 2, size};
  }
  std::map<std::size_t, Matrix6> normal;
  std::map<std::size_t, std::set<std::size_t>> holders;  // root -> boundaries holding it
  for (std::size_t b = 0; b < deck.holds.size(); ++b) {
    for (const auto &[node, directions] : deck.holds[b]) {
      for (const std::size_t body : bodiesOf[node]) {
        const auto &f = frame.at(body);
        const double x = (mesh.nodes[node][0] - f[0]) / f[3], y = (mesh.nodes[node][1] - f[1]) / f[3],
                     z = (mesh.nodes[node][2] - f[2]) / f[3];
        // The displacement in direction d of a rigid motion (move a, turn w): a_d + (w x r)_d.
        const std::array<std::array<double, 6>, 3> rows = {
            {{1, 0, 0, 0, z, -y}, {0, 1, 0, -z, 0, x}, {0, 0, 1, y, -x, 0}}};
        Matrix6 &m = normal[body];
        for (int d = 0; d < 3; ++d) {
          if (!directions[d]) continue;
          holders[body].insert(b);
          for (int i = 0; i < 6; ++i) {
            for (int j = 0; j < 6; ++j) m[i][j] += rows[d][i] * rows[d][j];
          }
        }
      }
    }
  }
  static const char *const motions[6] = {"move along x", "move along y", "move along z",
                                         "turn about x", "turn about y", "turn about z"};
  for (const auto &[body, parts] : bodies) {
    Matrix6 &m = normal[body];
    const std::array<double, 6> values = eigenvalues(m);
    const double largest = std::max(*std::max_element(values.begin(), values.end()), 1.0);
    if (*std::min_element(values.begin(), values.end()) > 1e-9 * largest) continue;
    // Name the motions along and about the axes that nothing resists; a body held on one line only
    // turns about that line, which need not be an axis.
    std::string free;
    for (int i = 0; i < 6; ++i) {
      if (m[i][i] <= 1e-9 * largest) free += (free.empty() ? "" : ", ") + std::string(motions[i]);
    }
    if (free.empty()) free = "turn about a line through its holds";
    std::string names;
    for (const std::size_t k : parts) names += (names.empty() ? "" : ", ") + setUp.parts[k].path;
    std::string held;
    for (const std::size_t b : holders[body])
      held += (held.empty() ? "\"" : ", \"") + setUp.study.boundaries[b].name + "\"";
    bool meets = false;
    for (std::size_t n = 0; n < bodiesOf.size() && !meets; ++n) {
      meets = bodiesOf[n].size() > 1 && std::find(bodiesOf[n].begin(), bodiesOf[n].end(), body) != bodiesOf[n].end();
    }
    throw input_error(setUp.study.file + ": the structure can still move: " + names + " can " + free + " (" +
                      (held.empty() ? "no boundary holds it" : "held only by " + held) +
                      (meets ? "; it meets the other parts only at points or along lines" : "") +
                      "); hold it in every direction, or solve its vibration modes");
  }
}

}  // namespace nimbo::detail
