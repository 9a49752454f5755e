// A structural study handed to CalculiX: the deck written beside the mesh, ccx run on it, and its
// displacements, stresses, reactions and modes read back into figures per part and per boundary.
#include "Calculix.h"

#include "../Process.h"
#include "../Vtu.h"
#include "Results.h"

#include <nimbo/nimbo_exception.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

namespace nimbo::detail {
namespace {

using Clock = std::chrono::steady_clock;

// ccx's first "*ERROR" line, with the lines that explain it.
std::string errorIn(const std::string &output) {
  const std::size_t at = output.find("*ERROR");
  if (at == std::string::npos) return "";
  std::string text = output.substr(at + 1);
  // The message runs over a few lines; keep them as one.
  std::istringstream lines(text);
  std::string line, message;
  for (int k = 0; k < 4 && std::getline(lines, line); ++k) {
    line.erase(0, line.find_first_not_of(' '));
    if (line.empty()) break;
    message += (message.empty() ? "" : " ") + line;
  }
  // ccx pads its numbers into columns.
  message.erase(std::unique(message.begin(), message.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
                message.end());
  return message;
}

Program calculixProgram(const std::string &path, int threads = 0) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::string count = std::to_string(threads > 0 ? static_cast<unsigned>(threads) : cores);
  // Its matrix set-up, solver and stresses each read their own count.
  return {"CalculiX", path, "calculix-ccx", errorIn,
          {"OMP_NUM_THREADS=" + count, "CCX_NPROC_EQUATION_SOLVER=" + count, "CCX_NPROC_STIFFNESS=" + count,
           "CCX_NPROC_RESULTS=" + count}};
}

std::string find(const SolveOptions &options) { return findProgram(calculixProgram(options.ccx)).path; }

const FrdBlock *blockNamed(const std::vector<FrdBlock> &blocks, const std::string &name) {
  for (const FrdBlock &block : blocks) {
    if (block.name == name) return &block;
  }
  return nullptr;
}

// A block's values by node row (node number minus one); rows it lacks stay empty.
std::vector<std::vector<double>> byRow(const FrdBlock &block, std::size_t rows) {
  std::vector<std::vector<double>> values(rows);
  const std::size_t width = block.components.size();
  for (std::size_t k = 0; k < block.nodes.size(); ++k) {
    const std::size_t row = block.nodes[k] - 1;
    if (row < rows) values[row].assign(block.values.begin() + k * width, block.values.begin() + (k + 1) * width);
  }
  return values;
}

Stress stressAt(const std::vector<double> &row) {
  Stress s{};
  for (int k = 0; k < 6 && k < static_cast<int>(row.size()); ++k) s[k] = row[k];
  return s;
}

gp_Pnt pointOf(const MeshData &mesh, std::size_t row) { return {mesh.nodes[row][0], mesh.nodes[row][1], mesh.nodes[row][2]}; }

// The tetrahedron that holds the point, and the point's barycentric coordinates in it: of the
// tetrahedra of any part, the one where the point lies deepest (a point on a curved face may fall
// just outside the straight-sided elements).
struct Located {
  std::size_t tetrahedron;
  std::array<double, 4> weights;
};

Located locate(const MeshData &mesh, const gp_Pnt &point) {
  Located best{0, {}};
  double deepest = -std::numeric_limits<double>::infinity();
  for (std::size_t t = 0; t < mesh.tetrahedra.size(); ++t) {
    const auto &c = mesh.tetrahedra[t];
    const gp_Vec a(pointOf(mesh, c[0]), pointOf(mesh, c[1])), b(pointOf(mesh, c[0]), pointOf(mesh, c[2])),
        d(pointOf(mesh, c[0]), pointOf(mesh, c[3])), p(pointOf(mesh, c[0]), point);
    const double volume = a.Crossed(b).Dot(d);
    if (std::abs(volume) < 1e-300) continue;
    const double l1 = p.Crossed(b).Dot(d) / volume, l2 = a.Crossed(p).Dot(d) / volume, l3 = a.Crossed(b).Dot(p) / volume;
    const std::array<double, 4> weights{1 - l1 - l2 - l3, l1, l2, l3};
    const double depth = *std::min_element(weights.begin(), weights.end());
    if (depth > deepest) {
      deepest = depth;
      best = {t, weights};
    }
  }
  return best;
}

// A nodal field at a located point, by the element's own shape functions.
std::vector<double> interpolate(const MeshData &mesh, const Located &at, const std::vector<std::vector<double>> &field) {
  static constexpr int edge[6][2] = {{0, 1}, {1, 2}, {2, 0}, {3, 0}, {3, 2}, {3, 1}};  // Gmsh's order
  const auto &c = mesh.tetrahedra[at.tetrahedron];
  const auto &L = at.weights;
  std::vector<double> value;
  const auto accumulate = [&](std::size_t row, double weight) {
    const std::vector<double> &v = field.at(row);
    if (value.empty()) value.assign(v.size(), 0.0);
    for (std::size_t k = 0; k < v.size() && k < value.size(); ++k) value[k] += weight * v[k];
  };
  if (mesh.tetrahedronEdges.empty()) {
    for (int k = 0; k < 4; ++k) accumulate(c[k], L[k]);
  } else {
    for (int k = 0; k < 4; ++k) accumulate(c[k], L[k] * (2 * L[k] - 1));
    for (int e = 0; e < 6; ++e) {
      accumulate(mesh.tetrahedronEdges[at.tetrahedron][e], 4 * L[edge[e][0]] * L[edge[e][1]]);
    }
  }
  return value;
}

std::string pathOfTetrahedron(const MeshData &mesh, std::size_t t) {
  for (const auto &[name, rows] : mesh.volumes) {
    if (std::binary_search(rows.begin(), rows.end(), t)) return name;
  }
  return "";
}

// The answer of a static study: per part, per boundary and at the probes.
void readStatic(const SetUp &setUp, const MeshData &mesh, const Deck &deck, const std::vector<FrdBlock> &blocks,
                const DatResults &dat, StructuralResult &result, const std::string &kept) {
  const FrdBlock *disp = blockNamed(blocks, "DISP");
  const FrdBlock *stress = blockNamed(blocks, "STRESS");
  if (!disp || !stress) throw nimbo_exception("CalculiX wrote no displacements or stresses" + kept);
  const auto u = byRow(*disp, mesh.nodes.size());
  const auto s = byRow(*stress, mesh.nodes.size());

  for (const SolvePart &part : setUp.parts) {
    StructuralPartResult figures;
    figures.path = part.path;
    figures.material = nameOf(*part.material);
    figures.principalMax = -std::numeric_limits<double>::infinity();
    figures.principalMin = std::numeric_limits<double>::infinity();
    figures.vonMisesMax = -1;
    figures.displacementMax = -1;
    std::vector<std::size_t> rows;
    for (const std::size_t t : mesh.volumes.at(part.path)) {
      rows.insert(rows.end(), mesh.tetrahedra[t].begin(), mesh.tetrahedra[t].end());
      if (!mesh.tetrahedronEdges.empty()) {
        rows.insert(rows.end(), mesh.tetrahedronEdges[t].begin(), mesh.tetrahedronEdges[t].end());
      }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const std::size_t row : rows) {
      if (u[row].size() < 3 || s[row].size() < 6) {
        throw nimbo_exception("CalculiX gave no result at node " + std::to_string(row + 1) + kept);
      }
      const double magnitude = std::hypot(u[row][0], u[row][1], u[row][2]);
      if (magnitude > figures.displacementMax) {
        figures.displacementMax = magnitude;
        figures.displacementAt = pointOf(mesh, row);
      }
      const Stress tensor = stressAt(s[row]);
      const double equivalent = vonMises(tensor);
      if (equivalent > figures.vonMisesMax) {
        figures.vonMisesMax = equivalent;
        figures.vonMisesAt = pointOf(mesh, row);
      }
      const std::array<double, 3> principal = principalStresses(tensor);
      figures.principalMax = std::max(figures.principalMax, principal[0]);
      figures.principalMin = std::min(figures.principalMin, principal[2]);
    }
    result.parts.push_back(figures);
  }

  // A held node's RF is its whole internal force: its reaction is that less the load applied there,
  // in the directions the boundary holds.
  std::array<double, 3> sum = deck.weight;
  double largest = std::hypot(deck.weight[0], deck.weight[1], deck.weight[2]);
  double nodal = 0;  // the held nodes' reactions' sizes, summed
  const Study &study = setUp.study;
  for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
    StructuralBoundaryResult boundary;
    boundary.held = !deck.heldSets[b].empty();
    if (boundary.held) {
      const DatForces *table = nullptr;
      for (const DatForces &forces : dat.forces) {
        if (forces.set == deck.heldSets[b]) table = &forces;  // the last: the step's end
      }
      if (!table) throw nimbo_exception("CalculiX printed no reactions of boundary \"" + study.boundaries[b].name + "\"" + kept);
      for (std::size_t k = 0; k < table->nodes.size(); ++k) {
        const std::size_t row = table->nodes[k] - 1;
        const auto held = deck.holds[b].find(row);
        if (held == deck.holds[b].end()) continue;
        const auto load = deck.loads.find(row);
        std::array<double, 3> reaction{};
        for (int d = 0; d < 3; ++d) {
          if (held->second[d]) reaction[d] = table->forces[k][d] - (load == deck.loads.end() ? 0.0 : load->second[d]);
          boundary.force[d] += reaction[d];
        }
        nodal += std::hypot(reaction[0], reaction[1], reaction[2]);
      }
    } else {
      boundary.force = deck.applied[b];
    }
    for (int d = 0; d < 3; ++d) sum[d] += boundary.force[d];
    largest = std::max(largest, std::hypot(boundary.force[0], boundary.force[1], boundary.force[2]));
    result.boundaries.push_back(boundary);
  }
  result.weight = deck.weight;
  // Heat loads nothing from outside: the reactions sum to nothing, and their nodes' own sizes are
  // what their sum is measured against.
  if (!setUp.temperatures.empty()) largest = std::max(largest, nodal);
  result.balance = largest > 0 ? std::hypot(sum[0], sum[1], sum[2]) / largest : 0.0;

  for (const Probe &probe : study.probes) {
    const Located at = locate(mesh, probe.point);
    ProbeResult figures;
    figures.name = probe.name;
    figures.point = probe.point;
    figures.part = pathOfTetrahedron(mesh, at.tetrahedron);
    const std::vector<double> displacement = interpolate(mesh, at, u);
    for (int d = 0; d < 3; ++d) figures.displacement[d] = displacement.at(d);
    figures.stress = stressAt(interpolate(mesh, at, s));
    figures.vonMises = vonMises(figures.stress);
    figures.principal = principalStresses(figures.stress);
    result.probes.push_back(figures);
  }
}

// What is drawn on the parts, in the mesh file's numbering: von Mises stress at each node (a modal
// study's: the drawn mode's displacement magnitude), and the displacement that deforms the shape.
void writeDrawn(const std::filesystem::path &values, const std::filesystem::path &displacements, const MeshData &mesh,
                const std::vector<FrdBlock> &blocks, int mode) {
  const FrdBlock *stress = blockNamed(blocks, "STRESS");
  const FrdBlock *disp = nullptr;
  int seen = 0;
  for (const FrdBlock &block : blocks) {
    if (block.name == "DISP" && ++seen == mode) disp = &block;
  }
  if (!disp) {
    throw input_error("mode " + std::to_string(mode) + " is asked for, and CalculiX found " + std::to_string(seen));
  }
  const std::size_t rows = mesh.nodes.size();
  const auto s = stress ? byRow(*stress, rows) : std::vector<std::vector<double>>(rows);
  const auto u = byRow(*disp, rows);
  std::ofstream field(values), moved(displacements);
  std::size_t count = 0;
  for (std::size_t row = 0; row < rows; ++row) count += u[row].size() >= 3;
  field << count << "\n";
  moved << count << "\n";
  for (std::size_t row = 0; row < rows; ++row) {
    if (u[row].size() < 3) continue;
    const double value = s[row].empty() ? std::hypot(u[row][0], u[row][1], u[row][2]) : vonMises(stressAt(s[row]));
    field << mesh.nodeTags[row] << " " << value << "\n";
    moved << mesh.nodeTags[row] << " " << u[row][0] << " " << u[row][1] << " " << u[row][2] << "\n";
  }
  if (!field.flush()) throw nimbo_exception("Cannot write " + values.string());
  if (!moved.flush()) throw nimbo_exception("Cannot write " + displacements.string());
}

// The grid for ParaView and friends: displacement, von Mises and the stress tensor at the points, or
// one displacement per mode; rows CalculiX gave no value stay zero.
void writeGrid(const std::filesystem::path &path, const SetUp &setUp, const MeshData &mesh,
               const std::vector<FrdBlock> &blocks) {
  const std::size_t rows = mesh.nodes.size();
  const auto arrayOf = [&](const FrdBlock &block, const std::string &name, int components) {
    VtuArray array{name, components, std::vector<double>(rows * components, 0.0)};
    const auto values = byRow(block, rows);
    for (std::size_t row = 0; row < rows; ++row) {
      for (int c = 0; c < components && c < static_cast<int>(values[row].size()); ++c) {
        array.values[row * components + c] = values[row][c];
      }
    }
    return array;
  };
  std::vector<VtuArray> arrays;
  for (const FrdBlock &block : blocks) {
    if (block.name == "DISP") {
      arrays.push_back(arrayOf(block, setUp.study.physics == Physics::modal ? "mode " + std::to_string(arrays.size() + 1)
                                                                             : "displacement",
                               3));
    } else if (block.name == "STRESS") {
      VtuArray stress = arrayOf(block, "stress", 6);
      VtuArray equivalent{"von_mises", 1, std::vector<double>(rows, 0.0)};
      for (std::size_t row = 0; row < rows; ++row) {
        Stress s{};
        std::copy(stress.values.begin() + row * 6, stress.values.begin() + row * 6 + 6, s.begin());
        equivalent.values[row] = vonMises(s);
      }
      arrays.push_back(std::move(equivalent));
      arrays.push_back(std::move(stress));
    }
  }
  std::vector<std::string> paths;
  for (const SolvePart &part : setUp.parts) paths.push_back(part.path);
  writeVtu(path.string(), mesh, 1.0, paths, arrays);
}

Solution solve(const SetUp &setUp, const std::string &ccx, const SolveOptions &options,
               const Message_ProgressRange &progress) {
  const auto writing = Clock::now();
  const MeshData &mesh = *setUp.mesh;
  const Deck deck = writeDeck(setUp, mesh);
  Solution solution;
  const std::string stem = deckStem(setUp.stem);
  solution.problemFile = stem + ".inp";
  {
    std::ofstream out(setUp.scratch / solution.problemFile);
    out << deck.text;
    if (!out.flush()) throw nimbo_exception("Cannot write " + (setUp.scratch / solution.problemFile).string());
  }
  if (setUp.study.physics == Physics::elasticity) checkHeld(setUp, mesh, deck);
  const std::string kept = " (the deck is kept in " + setUp.scratch.string() + ")";
  solution.writeSeconds = std::chrono::duration<double>(Clock::now() - writing).count();
  const auto running = Clock::now();
  std::string printed;
  try {
    printed = runProgram(calculixProgram(ccx, options.threads), {"-i", stem}, setUp.scratch.string(), options, progress);
  } catch (const nimbo_exception &error) {
    throw nimbo_exception(error.what() + kept);
  }
  solution.solverSeconds = std::chrono::duration<double>(Clock::now() - running).count();
  solution.method = iterativeFor(setUp) ? "iterative (Cholesky-preconditioned CG)" : "direct (SPOOLES)";

  const std::vector<FrdBlock> blocks = readFrd((setUp.scratch / (stem + ".frd")).string());
  const DatResults dat = readDat((setUp.scratch / (stem + ".dat")).string());
  StructuralResult result;
  for (const SolvePart &part : setUp.parts) result.mass += part.material->density.value_or(0) * part.volume * 1e-9;
  if (setUp.study.physics == Physics::modal) {
    for (const DatMode &mode : dat.modes) {
      ModeResult figures{mode.mode, mode.frequency, {}};
      // CalculiX's masses are in tonnes.
      for (int d = 0; d < 3; ++d) figures.effectiveMass[d] = result.mass > 0 ? mode.effectiveMass[d] * 1000 / result.mass : 0;
      result.modes.push_back(figures);
    }
    if (result.modes.empty()) throw nimbo_exception("CalculiX found no vibration modes" + kept);
    for (const SolvePart &part : setUp.parts) {
      StructuralPartResult figures;
      figures.path = part.path;
      figures.material = nameOf(*part.material);
      result.parts.push_back(figures);
    }
    result.boundaries.resize(setUp.study.boundaries.size());
    for (std::size_t b = 0; b < result.boundaries.size(); ++b) result.boundaries[b].held = !deck.heldSets[b].empty();
  } else {
    readStatic(setUp, mesh, deck, blocks, dat, result, kept);
  }
  solution.structural = std::move(result);
  solution.fieldFile = stem + ".frd";
  solution.nodesFile = "nodes.txt";
  solution.displacementFile = "displacements.txt";
  writeDrawn(setUp.scratch / solution.nodesFile, setUp.scratch / solution.displacementFile, mesh, blocks,
             setUp.study.physics == Physics::modal ? options.mode : 1);
  writeGrid(setUp.scratch / "results.vtu", setUp, mesh, blocks);
  solution.vtuFile = "results.vtu";
  solution.otherFiles = {stem + ".dat", "results.json"};
  solution.readSeconds = std::chrono::duration<double>(Clock::now() - running).count() - solution.solverSeconds;
  return solution;
}

}  // namespace

const Solver &calculixSolver() {
  // CalculiX has no units of its own: the mesh stays in mm, and the deck is in N, MPa and t/mm^3.
  static const Solver solver{MeshFormat::msh41, 1.0, find, solve};
  return solver;
}

}  // namespace nimbo::detail
