// What every solver is handed and what it gives back. A study is set up, refused and meshed the same
// way whatever solves it; a solver is a folder of its own beside this file (getdp/), and solverFor is
// the one place where physics names map to solvers.
#pragma once

#include <nimbo/mesh/Mesh.h>
#include <nimbo/solve/Solve.h>

#include <Message_ProgressRange.hxx>

#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nimbo::detail {

/// A material as reports and problems name it: its name, else its glob.
inline std::string nameOf(const Material &material) { return material.name.empty() ? material.parts : material.name; }

/// How many steps make `duration`: -1 when it is not a whole number of them (to 1e-9).
inline long stepsIn(double duration, double step) {
  const double steps = std::round(duration / step);
  return steps >= 1 && steps < 1e9 && std::abs(steps * step - duration) <= 1e-9 * duration ? static_cast<long>(steps)
                                                                                           : -1;
}

/// A solid part as a solver sees it.
struct SolvePart {
  int physical;  ///< its physical volume in the mesh
  std::string path;
  const Material *material;
  double power;                 ///< of the sources it holds, in W
  double volume;                ///< as meshed, in mm^3
  std::vector<Source> sources;  ///< those it holds
};

/// A boundary as a solver sees it.
struct SolveBoundary {
  int physical;  ///< its physical surface in the mesh
  const Boundary *boundary;
};

/// The study on its mesh, in the scratch folder where the solver works.
struct SetUp {
  const Study &study;
  std::vector<SolvePart> parts;           ///< in assembly order
  std::vector<SolveBoundary> boundaries;  ///< in the study's order
  std::filesystem::path scratch;
  std::string meshName;                  ///< the mesh's file name in `scratch`
  std::string stem;                      ///< what the problem's own files are named by
  std::shared_ptr<const MeshData> mesh;  ///< as its file holds it
  /// Structural: each node row's temperature in degC, from which the parts expand (empty for none).
  std::vector<double> temperatures;
};

/// Whether the study's linear system is solved iteratively: when it asks, or when it leaves the
/// choice to nimbo and its mesh has at least `from` nodes (each solver's measured threshold).
inline bool solvedIteratively(const SetUp &setUp, std::size_t from) {
  return setUp.study.solver == LinearSolver::iterative ||
         (setUp.study.solver == LinearSolver::automatic && setUp.mesh->nodes.size() >= from);
}

/// What a solver answers, in SI units.
struct Solution {
  struct Field {
    double min;
    double max;
    double mean;  ///< over the part's volume
  };
  std::vector<Field> parts;   ///< in the order of SetUp::parts (conduction)
  std::vector<double> flows;  ///< into the model, in the order of SetUp::boundaries (conduction)
  /// A structural solver's figures; its boundaries' names, faces and areas are the caller's to fill.
  std::optional<StructuralResult> structural;
  std::optional<double> power;  ///< the sources' power the solver applied, when there are sources
  /// Over time: the steps' figures, with the files (relative to the scratch folder) of the snapshots.
  std::optional<TransientResult> transient;
  double writeSeconds = 0.0;   ///< writing its input
  double solverSeconds = 0.0;  ///< the solver's own run
  double readSeconds = 0.0;    ///< reading its answer
  std::string method;          ///< how the linear system was solved (SolveResult::solver)
  int iterations = 0;          ///< of an iterative method
  /// What it wrote in the scratch folder, by file name: moved into the results when all went well.
  std::string problemFile;
  std::string fieldFile;
  std::string nodesFile;         ///< the field at the nodes, which solvedPartSurfaces reads
  std::string vtuFile;           ///< the solver's own grid of its results, when it writes one
  std::string displacementFile;  ///< the displacement at the nodes, when there is one
  std::vector<std::string> otherFiles;
};

/// A solver, as the shared run of a study needs it.
struct Solver {
  MeshFormat format;  ///< the mesh it reads
  double scale;       ///< its coordinates are the model's millimetres times this
  /// The program to run, found before any meshing (which may take minutes). Throws nimbo_exception
  /// saying how to install it when there is none.
  std::string (*find)(const SolveOptions &options);
  /// Writes the problem into the scratch folder, solves it there and reads the answer back. Throws
  /// nimbo_exception with the solver's own message, or when its answer cannot be trusted.
  Solution (*solve)(const SetUp &setUp, const std::string &program, const SolveOptions &options,
                    const Message_ProgressRange &progress);
};

/// The solver of the physics.
const Solver &solverFor(Physics physics);

}  // namespace nimbo::detail
