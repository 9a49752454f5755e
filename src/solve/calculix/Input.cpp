// The .inp deck of a structural study: nodes and tetrahedra in CalculiX's order, one element set per
// part, the materials, node sets for held boundaries, element-face surfaces for pressures, and every
// load as consistent nodal forces, so that each node's load is known when its reaction is read.
#include "Calculix.h"

#include <nimbo/nimbo_exception.h>

#include <gp_Vec.hxx>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace nimbo::detail {
namespace {

using Vec3 = std::array<double, 3>;

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// As many digits as ccx reads: its fields hold 20 characters.
std::string exact(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.14g", std::abs(value) < 1e-99 ? 0.0 : value);
  return text;
}

gp_Vec vec(const std::array<double, 3> &p) { return {p[0], p[1], p[2]}; }

void add(Vec3 &to, const gp_Vec &load) {
  to[0] += load.X();
  to[1] += load.Y();
  to[2] += load.Z();
}

// Where each boundary triangle of the mesh lies in a tetrahedron: its element and CalculiX's face
// number (1: 123, 2: 142, 3: 243, 4: 341), found by the sorted corner rows.
struct FaceOf {
  std::size_t element;
  int face;
  std::size_t opposite;  // the tetrahedron's fourth corner, inside
};

using CornerKey = std::array<std::size_t, 3>;

CornerKey keyOf(std::size_t a, std::size_t b, std::size_t c) {
  CornerKey key{a, b, c};
  std::sort(key.begin(), key.end());
  return key;
}

std::map<CornerKey, FaceOf> facesOf(const MeshData &mesh) {
  static constexpr int corners[4][3] = {{0, 1, 2}, {0, 3, 1}, {1, 3, 2}, {2, 3, 0}};
  std::map<CornerKey, FaceOf> faces;
  for (std::size_t t = 0; t < mesh.tetrahedra.size(); ++t) {
    const auto &tet = mesh.tetrahedra[t];
    for (int f = 0; f < 4; ++f) {
      const std::size_t opposite = tet[6 - corners[f][0] - corners[f][1] - corners[f][2]];
      faces[keyOf(tet[corners[f][0]], tet[corners[f][1]], tet[corners[f][2]])] = {t, f + 1, opposite};
    }
  }
  return faces;
}

// A uniform traction over a triangle as consistent nodal loads: a linear triangle's corners take a
// third each; a quadratic one's corners nothing and its mid-edge nodes a third each.
void spread(std::map<std::size_t, Vec3> &loads, const std::array<std::size_t, 3> &corners,
            const std::array<std::size_t, 3> *edges, const gp_Vec &total) {
  for (int k = 0; k < 3; ++k) add(loads[edges ? (*edges)[k] : corners[k]], total / 3.0);
}

// Whether a tetrahedron is a flat sliver, which holds neither volume nor stiffness and which CalculiX
// refuses whichever way it is turned. Throws for one turned inside out, which no solver can take.
bool flat(const MeshData &mesh, const std::array<std::size_t, 10> &nodes) {
  const gp_Vec a = vec(mesh.nodes[nodes[1]]) - vec(mesh.nodes[nodes[0]]),
               b = vec(mesh.nodes[nodes[2]]) - vec(mesh.nodes[nodes[0]]),
               c = vec(mesh.nodes[nodes[3]]) - vec(mesh.nodes[nodes[0]]);
  const double volume = a.Crossed(b).Dot(c);
  const double edge = std::max({a.Magnitude(), b.Magnitude(), c.Magnitude()});
  if (volume > 1e-8 * edge * edge * edge) return false;
  if (-volume > 1e-8 * edge * edge * edge) {
    const auto &p = mesh.nodes[nodes[0]];
    throw nimbo_exception("Gmsh's mesh holds a tetrahedron turned inside out at (" + number(p[0]) + ", " +
                          number(p[1]) + ", " + number(p[2]) + "); try another element size");
  }
  return true;
}

}  // namespace

std::string deckStem(const std::string &stem) {
  std::string safe = stem;
  for (char &c : safe) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
  }
  return safe.empty() ? "study" : safe;
}

std::array<std::size_t, 10> calculixOrder(const std::array<std::size_t, 4> &c, const std::array<std::size_t, 6> &g) {
  return {c[0], c[1], c[2], c[3], g[0], g[1], g[2], g[3], g[5], g[4]};
}

bool iterativeFor(const SetUp &setUp) {
  // SPOOLES factored a flanged shaft of 63k nodes in 33 s and 2.0 GB, its iterative Cholesky solved it in
  // 24 s and 0.24 GB; but that solver's tolerance is fixed, and its reactions balance the loads only
  // to 1e-4 to 1e-2 (1e-8 by SPOOLES): it is for the sizes SPOOLES cannot hold.
  constexpr std::size_t iterativeFrom = 50000;
  return setUp.study.physics == Physics::elasticity && solvedIteratively(setUp, iterativeFrom);
}

Deck writeDeck(const SetUp &setUp, const MeshData &mesh) {
  const Study &study = setUp.study;
  const bool quadratic = !mesh.tetrahedronEdges.empty();
  std::ostringstream inp;
  Deck deck;
  inp << "** " << (study.file.empty() ? "study" : study.file) << ": " << toString(study.physics)
      << ", written by nimbo. Units: mm, N, MPa (N/mm^2), t/mm^3, s.\n"
      << "** Run it again here with: ccx -i " << deckStem(setUp.stem) << "\n";

  std::vector<bool> used(mesh.nodes.size(), false);
  for (const auto &tet : mesh.tetrahedra) {
    for (const std::size_t n : tet) used[n] = true;
  }
  for (const auto &edges : mesh.tetrahedronEdges) {
    for (const std::size_t n : edges) used[n] = true;
  }
  inp << "*NODE\n";
  for (std::size_t n = 0; n < mesh.nodes.size(); ++n) {
    if (!used[n]) continue;
    // All the digits ccx takes: a sliver's volume may be smaller than the last digit of a rounded
    // coordinate.
    inp << n + 1 << ", " << exact(mesh.nodes[n][0]) << ", " << exact(mesh.nodes[n][1]) << ", "
        << exact(mesh.nodes[n][2]) << "\n";
  }

  // One element set per part; the materials each part takes.
  std::vector<const Material *> materials;
  std::size_t dropped = 0;
  for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
    const SolvePart &part = setUp.parts[k];
    const auto volume = mesh.volumes.find(part.path);
    if (volume == mesh.volumes.end()) throw nimbo_exception("The mesh has no elements of part " + part.path);
    inp << "** part " << k + 1 << ": " << part.path << "\n"
        << "*ELEMENT, TYPE=" << (quadratic ? "C3D10" : "C3D4") << ", ELSET=P" << k + 1 << "\n";
    for (const std::size_t t : volume->second) {
      std::array<std::size_t, 10> nodes{};
      if (quadratic) {
        nodes = calculixOrder(mesh.tetrahedra[t], mesh.tetrahedronEdges.at(t));
      } else {
        std::copy(mesh.tetrahedra[t].begin(), mesh.tetrahedra[t].end(), nodes.begin());
      }
      if (flat(mesh, nodes)) {
        ++dropped;
        continue;
      }
      inp << t + 1;
      for (int k = 0; k < (quadratic ? 10 : 4); ++k) inp << ", " << nodes[k] + 1;
      inp << "\n";
    }
    if (std::find(materials.begin(), materials.end(), part.material) == materials.end()) {
      materials.push_back(part.material);
    }
  }
  if (dropped) inp << "** " << dropped << " flat tetrahedra of the mesh (slivers of no volume) are left out\n";
  for (std::size_t m = 0; m < materials.size(); ++m) {
    const Material &material = *materials[m];
    inp << "** material " << m + 1 << ": " << nameOf(material) << "\n"
        << "*MATERIAL, NAME=M" << m + 1 << "\n*ELASTIC\n"
        << number(material.youngsModulus * 1e-6) << ", " << number(material.poissonsRatio) << "\n";
    if (material.density) inp << "*DENSITY\n" << number(*material.density * 1e-12) << "\n";
    if (!setUp.temperatures.empty()) inp << "*EXPANSION\n" << number(material.expansion.value_or(0)) << "\n";
  }
  for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
    const auto m = std::find(materials.begin(), materials.end(), setUp.parts[k].material) - materials.begin();
    inp << "*SOLID SECTION, ELSET=P" << k + 1 << ", MATERIAL=M" << m + 1 << "\n";
  }

  // Held boundaries: a node set each; each node's direction belongs to the first boundary holding it.
  const std::size_t count = study.boundaries.size();
  deck.heldSets.assign(count, "");
  deck.holds.assign(count, {});
  deck.applied.assign(count, Vec3{});
  std::map<std::size_t, std::array<std::pair<std::size_t, double>, 3>> heldAt;  // node -> (boundary + 1, value)
  const auto nodesOf = [&](std::size_t b) {
    const std::string &name = study.boundaries[b].name;
    const auto triangles = mesh.surfaces.find(name);
    if (triangles == mesh.surfaces.end()) throw nimbo_exception("The mesh has no faces of boundary \"" + name + "\"");
    std::vector<std::size_t> nodes;
    for (const auto &t : triangles->second) nodes.insert(nodes.end(), t.begin(), t.end());
    if (const auto edges = mesh.surfaceEdges.find(name); edges != mesh.surfaceEdges.end()) {
      for (const auto &e : edges->second) nodes.insert(nodes.end(), e.begin(), e.end());
    }
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    return nodes;
  };
  for (std::size_t b = 0; b < count; ++b) {
    const Boundary &boundary = study.boundaries[b];
    if (boundary.condition != Condition::displacement) continue;
    deck.heldSets[b] = "B" + std::to_string(b + 1);
    const std::vector<std::size_t> nodes = nodesOf(b);
    inp << "** boundary " << b + 1 << ": " << boundary.name << ", held\n*NSET, NSET=" << deck.heldSets[b] << "\n";
    for (std::size_t k = 0; k < nodes.size(); ++k) inp << nodes[k] + 1 << (k % 16 == 15 ? ",\n" : ", ");
    inp << "\n*BOUNDARY\n";
    for (int d = 0; d < 3; ++d) {
      if (!boundary.components[d]) continue;
      const double value = *boundary.components[d];
      inp << deck.heldSets[b] << ", " << d + 1 << ", " << d + 1 << ", " << number(value) << "\n";
      for (const std::size_t node : nodes) {
        auto &held = heldAt[node][d];
        if (held.first == 0) {
          held = {b + 1, value};
          deck.holds[b][node][d] = true;
        } else if (held.second != value) {
          throw nimbo_exception("Boundaries \"" + study.boundaries[held.first - 1].name + "\" and \"" + boundary.name +
                                "\" hold the same nodes in " + "xyz"[d] + " to different displacements");
        }
      }
    }
  }

  // Loads on faces, as consistent nodal forces; pressures also as element faces, to edit by hand.
  std::map<CornerKey, FaceOf> faces;
  for (std::size_t b = 0; b < count; ++b) {
    const Boundary &boundary = study.boundaries[b];
    if (boundary.condition != Condition::force && boundary.condition != Condition::pressure) continue;
    const auto &triangles = mesh.surfaces.at(boundary.name);
    const auto edges = mesh.surfaceEdges.find(boundary.name);
    const auto edgesOf = [&](std::size_t k) { return edges == mesh.surfaceEdges.end() ? nullptr : &edges->second[k]; };
    const auto areaOf = [&](const std::array<std::size_t, 3> &t) {
      return (vec(mesh.nodes[t[1]]) - vec(mesh.nodes[t[0]])).Crossed(vec(mesh.nodes[t[2]]) - vec(mesh.nodes[t[0]])) / 2;
    };
    gp_Vec total;
    if (boundary.condition == Condition::force) {
      double area = 0;
      for (const auto &t : triangles) area += areaOf(t).Magnitude();
      const gp_Vec traction = gp_Vec(boundary.components[0].value_or(0), boundary.components[1].value_or(0),
                                     boundary.components[2].value_or(0)) /
                              area;
      for (std::size_t k = 0; k < triangles.size(); ++k) {
        const gp_Vec load = traction * areaOf(triangles[k]).Magnitude();
        spread(deck.loads, triangles[k], edgesOf(k), load);
        total += load;
      }
      inp << "** boundary " << b + 1 << ": " << boundary.name << ", a force spread over " << number(area)
          << " mm^2 as a uniform traction (nodal loads below)\n";
    } else {
      if (faces.empty()) faces = facesOf(mesh);
      const double pressure = boundary.value * 1e-6;  // Pa to N/mm^2
      inp << "** boundary " << b + 1 << ": " << boundary.name << ", a pressure of " << number(pressure)
          << " MPa (nodal loads below; or *DLOAD on these element faces: S" << b + 1 << ", P, " << number(pressure)
          << ")\n*SURFACE, NAME=S" << b + 1 << ", TYPE=ELEMENT\n";
      for (std::size_t k = 0; k < triangles.size(); ++k) {
        const auto &t = triangles[k];
        const auto at = faces.find(keyOf(t[0], t[1], t[2]));
        if (at == faces.end()) throw nimbo_exception("A face of boundary \"" + boundary.name + "\" bounds no element");
        inp << at->second.element + 1 << ", S" << at->second.face << "\n";
        gp_Vec outward = areaOf(t);
        if (outward.Dot(vec(mesh.nodes[at->second.opposite]) - vec(mesh.nodes[t[0]])) > 0) outward.Reverse();
        const gp_Vec load = outward * -pressure;
        spread(deck.loads, t, edgesOf(k), load);
        total += load;
      }
    }
    deck.applied[b] = {total.X(), total.Y(), total.Z()};
  }

  // Gravity, element by element: a linear tetrahedron's corners take a quarter of its weight each; a
  // quadratic one's corners -1/20 and its mid-edge nodes 1/5.
  if (study.gravity) {
    const gp_Vec g = *study.gravity * 1000.0;  // mm/s^2
    gp_Vec weight;
    for (const SolvePart &part : setUp.parts) {
      const double density = part.material->density.value_or(0) * 1e-12;  // t/mm^3
      for (const std::size_t t : mesh.volumes.at(part.path)) {
        const auto &c = mesh.tetrahedra[t];
        const gp_Vec a = vec(mesh.nodes[c[1]]) - vec(mesh.nodes[c[0]]),
                     b = vec(mesh.nodes[c[2]]) - vec(mesh.nodes[c[0]]),
                     d = vec(mesh.nodes[c[3]]) - vec(mesh.nodes[c[0]]);
        const gp_Vec load = g * (density * std::abs(a.Crossed(b).Dot(d)) / 6);
        weight += load;
        if (quadratic) {
          for (const std::size_t n : c) add(deck.loads[n], load * -0.05);
          for (const std::size_t n : mesh.tetrahedronEdges[t]) add(deck.loads[n], load * 0.2);
        } else {
          for (const std::size_t n : c) add(deck.loads[n], load * 0.25);
        }
      }
    }
    deck.weight = {weight.X(), weight.Y(), weight.Z()};
    inp << "** gravity " << number(study.gravity->X()) << ", " << number(study.gravity->Y()) << ", "
        << number(study.gravity->Z()) << " m/s^2: " << number(weight.Magnitude()) << " N (nodal loads below)\n";
  }

  // Strain-free at the reference temperature: the thermal strain is the expansion times the step's
  // temperature less this one.
  const bool heated = !setUp.temperatures.empty();
  if (heated) {
    inp << "*INITIAL CONDITIONS, TYPE=TEMPERATURE\n";
    const std::string reference = exact(study.temperature->reference);
    for (std::size_t n = 0; n < mesh.nodes.size(); ++n) {
      if (used[n]) inp << n + 1 << ", " << reference << "\n";
    }
  }
  inp << "*STEP\n";
  if (study.physics == Physics::modal) {
    inp << "*FREQUENCY\n" << study.modes << "\n";
  } else {
    inp << (iterativeFor(setUp) ? "*STATIC, SOLVER=ITERATIVE CHOLESKY\n" : "*STATIC\n");
    if (!deck.loads.empty()) inp << "*CLOAD\n";
    for (const auto &[node, load] : deck.loads) {
      for (int d = 0; d < 3; ++d) {
        if (load[d] != 0) inp << node + 1 << ", " << d + 1 << ", " << number(load[d]) << "\n";
      }
    }
    if (heated) {
      inp << "*TEMPERATURE\n";
      for (std::size_t n = 0; n < mesh.nodes.size(); ++n) {
        if (used[n]) inp << n + 1 << ", " << exact(setUp.temperatures.at(n)) << "\n";
      }
    }
    for (const std::string &set : deck.heldSets) {
      if (!set.empty()) inp << "*NODE PRINT, NSET=" << set << "\nRF\n";
    }
  }
  inp << "*NODE FILE\nU\n";
  if (study.physics != Physics::modal) inp << "*EL FILE\nS\n";
  inp << "*END STEP\n";
  deck.text = inp.str();
  return deck;
}

}  // namespace nimbo::detail
