// CalculiX as the solver of structural studies (linear statics and vibration modes): the study
// written as a readable .inp deck on the quadratic (or linear) tetrahedra, solved by ccx as a child
// process, and its result files read back into figures.
#pragma once

#include "../Solver.h"

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace nimbo::detail {

/// CalculiX, for the physics it solves.
const Solver &calculixSolver();

/// A study's deck, with what reading its answer needs: every node's applied load and which
/// boundary holds each node in each direction. Nodes are numbered by their row in the mesh plus one.
struct Deck {
  std::string text;  ///< the .inp
  /// Per study boundary, the node set it holds ("B3"), empty when it holds nothing.
  std::vector<std::string> heldSets;
  /// Per study boundary, the directions of each node (by row) that it holds and no earlier boundary
  /// does: its reaction is theirs.
  std::vector<std::map<std::size_t, std::array<bool, 3>>> holds;
  std::map<std::size_t, std::array<double, 3>> loads;  ///< every node's applied load, N
  std::vector<std::array<double, 3>> applied;          ///< per study boundary, the load it applies, N
  std::array<double, 3> weight{};                      ///< the gravity load, N
};

/// Whether a static study is solved by CalculiX's iterative Cholesky: when the study asks, or when
/// it does not say and the mesh is large enough for that to be faster than the direct solver.
bool iterativeFor(const SetUp &setUp);

/// Writes the deck of the study on its mesh (in mm). Throws nimbo_exception when a boundary has no
/// element of the mesh, or two boundaries hold one node in one direction to different values.
Deck writeDeck(const SetUp &setUp, const MeshData &mesh);

/// Refuses a static study whose holds leave a body of the mesh (parts joined by shared nodes) free
/// to move or turn: "the structure can still move: ...", naming the parts, the motions and the
/// boundaries that hold them. The solver would not say: it factors such a system without a word.
void checkHeld(const SetUp &setUp, const MeshData &mesh, const Deck &deck);

/// The deck's file name without ".inp": the study's stem with what ccx cannot take in a job name
/// (spaces, dots) made underscores.
std::string deckStem(const std::string &stem);

/// C3D10's node order from Gmsh's quadratic tetrahedron: corners, then the mid-edge nodes of edges
/// 01, 12, 20, 03, 13, 23 (Gmsh's last two are swapped).
std::array<std::size_t, 10> calculixOrder(const std::array<std::size_t, 4> &corners,
                                          const std::array<std::size_t, 6> &gmshEdges);

}  // namespace nimbo::detail
