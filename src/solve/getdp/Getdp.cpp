// A study handed to GetDP: the problem written beside the mesh, GetDP run on it, and its figures
// read back and checked against what was asked.
#include "Getdp.h"

#include "../Fields.h"
#include "../Process.h"
#include "../Vtu.h"
#include "Problem.h"

#include <nimbo/nimbo_exception.h>

#include <Message_ProgressScope.hxx>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <sstream>

namespace nimbo::detail {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

constexpr const char *vtuName = "results.vtu";

// GetDP's first error, without its "Error   : " lead.
std::string errorIn(const std::string &output) {
  for (std::size_t at = 0; at != std::string::npos && at < output.size();) {
    const std::size_t end = output.find('\n', at);
    const std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.rfind("Error", 0) == 0) {
      const std::size_t colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(line.find_first_not_of(' ', colon + 1));
    }
    at = end == std::string::npos ? end : end + 1;
  }
  return "";
}

// An iterative solve's progress from PETSc's "  12 KSP Residual norm 3.1e-05" lines: the residual's
// fall on the way to its 1e-10, over most of the run (assembly before it, post-processing after).
std::function<double(const std::string &)> iterationProgress() {
  auto first = std::make_shared<double>(0.0);
  return [first](const std::string &line) {
    const std::size_t at = line.find(" KSP Residual norm ");
    if (at == std::string::npos) return -1.0;
    const double residual = std::atof(line.c_str() + at + 19);
    if (*first == 0.0) *first = residual;
    if (!(residual > 0) || !(*first > 0)) return -1.0;
    return 0.2 + 0.7 * std::clamp(std::log(*first / residual) / std::log(1e10), 0.0, 1.0);
  };
}

// A study over time's progress from its "step 12 of 120" lines.
std::function<double(const std::string &)> stepProgress(long steps) {
  return [steps](const std::string &line) {
    if (line.rfind("step ", 0) != 0) return -1.0;
    return static_cast<double>(std::atol(line.c_str() + 5)) / static_cast<double>(steps);
  };
}

Program getdpProgram(const std::string &path) { return {"GetDP", path, "getdp", errorIn}; }

std::string find(const SolveOptions &options) { return findProgram(getdpProgram(options.getdp)).path; }

// From this many unknowns, GMRES with algebraic multigrid beats GetDP's sparse LU (MUMPS), whose time
// and memory grow faster than the problem. GetDP's whole run on a flanged shaft's meshes: 4.4k
// unknowns, 1.4 s by LU and 1.6 s iteratively; 9k, 2.0 s and 1.8 s; 25k, 4.4 s and 3.2 s; 158k,
// 51 s and 1.3 GB by LU against 15 s and 0.6 GB.
constexpr std::size_t iterativeFrom = 10000;

struct Method {
  std::string name;
  bool iterative;
  std::vector<std::string> options;  ///< PETSc's, on GetDP's command line
};

// The system is not symmetric: a fixed boundary's flow is an unknown whose row sums the others', so
// GMRES takes the place of conjugate gradients (which PETSc stops as indefinite). BoomerAMG's answer
// agrees with LU's to 1e-9 of the flows where GAMG's was off by 1e-7; coarsened as three-dimensional
// problems want (HMIS, extended interpolation, one aggressive level), its set-up and solve at 190k
// unknowns took 1.7 s instead of 8.8 s.
Method methodFor(const SetUp &setUp) {
  if (!solvedIteratively(setUp, iterativeFrom)) return {"direct (MUMPS LU)", false, {}};
  return {"iterative (GMRES, BoomerAMG)", true,
          {"-ksp_monitor", "-ksp_type", "gmres", "-ksp_gmres_restart", "100", "-ksp_rtol", "1e-10", "-ksp_max_it", "2000",
           "-pc_type", "hypre", "-pc_hypre_type", "boomeramg", "-pc_hypre_boomeramg_coarsen_type", "HMIS",
           "-pc_hypre_boomeramg_interp_type", "ext+i", "-pc_hypre_boomeramg_P_max", "4",
           "-pc_hypre_boomeramg_agg_nl", "1"}};
}

// PETSc's last "Linear solve converged due to REASON iterations N" (or "did not converge"): its
// iterations, or -1 with the reason when it did not converge.
std::pair<int, std::string> iterationsIn(const std::string &output) {
  const std::string converged = "Linear solve converged due to ", failed = "Linear solve did not converge due to ";
  const std::size_t ok = output.rfind(converged), bad = output.rfind(failed);
  const bool failing = bad != std::string::npos && (ok == std::string::npos || bad > ok);
  const std::size_t at = failing ? bad + failed.size() : ok == std::string::npos ? ok : ok + converged.size();
  if (at == std::string::npos) return {0, ""};
  const std::string line = output.substr(at, output.find('\n', at) - at);
  const std::size_t count = line.rfind(' ');
  const int iterations = std::atoi(line.c_str() + count + 1);
  return {failing ? -1 : iterations, line.substr(0, line.find(' ')) + " after " + std::to_string(iterations) + " iterations"};
}

// GetDP itself, or under MPI: "mpirun -np N getdp ...", or the launcher's words before it. Open MPI
// refuses to run as root, which containers and CI machines are, and more processes than cores,
// unless told.
std::pair<Program, std::vector<std::string>> launch(const std::string &getdp, const SolveOptions &options) {
  if (options.processes <= 1 && options.launcher.empty()) return {getdpProgram(getdp), {}};
  std::vector<std::string> words;
  if (options.launcher.empty()) {
    words = {"mpirun", "-np", std::to_string(options.processes)};
  } else {
    std::istringstream split(options.launcher);
    for (std::string word; split >> word;) words.push_back(word);
  }
  Program program = findProgram({"GetDP", words.front(), words.front() == "mpirun" ? "openmpi-bin" : words.front(),
                                 errorIn,
                                 {"OMPI_ALLOW_RUN_AS_ROOT=1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1",
                                  "OMPI_MCA_rmaps_base_oversubscribe=1"}});
  words.erase(words.begin());
  words.push_back(getdp);
  return {program, words};
}

// The least and greatest value at the corners of a physical volume's tetrahedra.
std::pair<double, double> extremesOver(const MeshData &mesh, const std::vector<double> &field, const std::string &volume) {
  double least = std::numeric_limits<double>::infinity(), greatest = -least;
  const auto rows = mesh.volumes.find(volume);
  if (rows == mesh.volumes.end()) return {least, greatest};
  for (const std::size_t t : rows->second) {
    for (const std::size_t row : mesh.tetrahedra[t]) {
      least = std::min(least, field[row]);
      greatest = std::max(greatest, field[row]);
    }
  }
  return {least, greatest};
}

constexpr const char *stepsFolder = "steps";
constexpr const char *seriesName = "results.pvd";

// The next nodes table of the snapshots, copied to a file of its own (nodesName's format).
void copySnapshot(std::istream &in, const std::filesystem::path &to, const std::string &kept) {
  std::size_t count = 0;
  if (!(in >> count)) throw nimbo_exception("GetDP printed fewer snapshots of the field than asked" + kept);
  std::ofstream out(to);
  out << count << "\n";
  std::string node, value;
  for (std::size_t k = 0; k < count && in >> node >> value; ++k) out << node << " " << value << "\n";
  if (!out.flush()) throw nimbo_exception("Cannot write " + to.string());
}

// Over time: the flows at every step (GetDP printed them at time 0 and after each step), summed by
// the rule GetDP steps by (theta for what depends on the field, the step's end for the sources) so
// that the energy balance closes to the solver's rounding; and at each
// output step the heat stored, the parts' figures and the grid, from the snapshots of the field.
TransientResult transientOf(const SetUp &setUp, const std::function<const FigureSeries &(const std::string &)> &series,
                            const std::vector<std::string> &paths, const std::string &kept) {
  const TimeStepping &time = *setUp.study.time;
  const long steps = stepsIn(time.end, time.step), stride = outputStride(time);
  TransientResult result;
  result.time = time;
  result.time.every = stride * time.step;
  result.steps = static_cast<int>(steps);
  std::vector<long> outputs;
  for (long i = 1; i <= steps; ++i) {
    if (i % stride == 0 || i == steps) outputs.push_back(i);
  }
  // A figure at time 0 and at every step, or at each output step.
  const auto values = [&](const std::string &key, std::size_t count) {
    const FigureSeries &printed = series(key);
    if (printed.size() != count + 1) {
      throw nimbo_exception("GetDP printed " + std::to_string(printed.size()) + " values of \"" + key + "\" where " +
                            std::to_string(count + 1) + " were asked" + kept);
    }
    std::vector<double> at;
    for (const auto &[t, value] : printed) at.push_back(value);
    return at;
  };
  std::vector<double> inflow(steps + 1, 0.0), power(steps + 1, 0.0);
  for (std::size_t b = 0; b < setUp.boundaries.size(); ++b) {
    const std::vector<double> flow = values("boundary " + std::to_string(b + 1) + " flow", steps);
    for (long i = 0; i <= steps; ++i) inflow[i] += flow[i];
  }
  bool heated = false;
  for (const SolvePart &part : setUp.parts) heated |= part.power != 0;
  if (heated) power = values("power", steps);
  const std::vector<double> stored = values("stored", outputs.size());
  std::vector<std::vector<double>> integrals;
  for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
    integrals.push_back(values("part " + std::to_string(k + 1) + " integral", outputs.size()));
  }

  const MeshData &mesh = *setUp.mesh;
  std::ifstream snapshots(setUp.scratch / snapshotsName);
  std::filesystem::create_directories(setUp.scratch / stepsFolder);
  std::vector<std::pair<double, std::string>> grids;
  std::vector<double> field;  // the latest snapshot's, at the end the study's
  double sources = 0, boundaries = 0, worst = 0, largest = 0;
  const int digits = static_cast<int>(std::to_string(steps).size());
  for (long i = 1, j = 0; i <= steps; ++i) {
    sources += time.step * power[i];  // GetDP takes a source at the step's end, whatever theta
    boundaries += time.step * (time.theta * inflow[i] + (1 - time.theta) * inflow[i - 1]);
    if (i != outputs[j]) continue;
    const double held = stored[++j] - stored[0];
    worst = std::max(worst, std::abs(held - sources - boundaries));
    largest = std::max({largest, std::abs(held), std::abs(sources), std::abs(boundaries)});
    std::string number = std::to_string(i);
    number.insert(0, digits - number.size(), '0');
    TransientStep step;
    step.time = static_cast<double>(i) * time.step;
    step.stored = held;
    step.sources = sources;
    step.boundaries = boundaries;
    step.nodesFile = std::string(stepsFolder) + "/nodes_" + number + ".txt";
    step.vtuFile = std::string(stepsFolder) + "/results_" + number + ".vtu";
    copySnapshot(snapshots, setUp.scratch / step.nodesFile, kept);
    field = nodeField(mesh, (setUp.scratch / step.nodesFile).string());
    writeFieldVtu((setUp.scratch / step.vtuFile).string(), mesh, field, "temperature", paths);
    for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
      const auto [least, greatest] = extremesOver(mesh, field, setUp.parts[k].path);
      step.parts.push_back({setUp.parts[k].path, nameOf(*setUp.parts[k].material), least, greatest,
                            integrals[k][j] / (setUp.parts[k].volume * 1e-9)});
    }
    grids.emplace_back(step.time, step.vtuFile);
    result.outputs.push_back(std::move(step));
  }
  result.balance = largest > 0 ? worst / largest : 0.0;
  writePvd((setUp.scratch / seriesName).string(), grids);
  // The end is the study's field, as a steady study's is.
  std::filesystem::copy_file(setUp.scratch / result.outputs.back().nodesFile, setUp.scratch / nodesName);
  writeFieldVtu((setUp.scratch / vtuName).string(), mesh, field, "temperature", paths);
  for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
    TransientPeak peak{-std::numeric_limits<double>::infinity(), 0.0};
    for (const TransientStep &step : result.outputs) {
      if (step.parts[k].max > peak.value) peak = {step.parts[k].max, step.time};
    }
    result.peaks.push_back(peak);
  }
  return result;
}

std::vector<Solution::Field> partsAt(const TransientStep &step) {
  std::vector<Solution::Field> parts;
  for (const PartResult &part : step.parts) parts.push_back({part.min, part.max, part.mean});
  return parts;
}

Solution solve(const SetUp &setUp, const std::string &getdp, const SolveOptions &options,
               const Message_ProgressRange &progress) {
  Solution solution;
  solution.problemFile = setUp.stem + ".pro";
  const auto writing = Clock::now();
  {
    const std::filesystem::path problem = setUp.scratch / solution.problemFile;
    std::ofstream out(problem);
    out << problemText(setUp, options.pos);
    if (!out.flush()) throw nimbo_exception("Cannot write " + problem.string());
  }
  solution.writeSeconds = secondsSince(writing);
  // What went wrong from here on is looked into in the scratch folder, which is kept.
  const std::string kept = " (the problem is kept in " + setUp.scratch.string() + ")";
  const Method method = methodFor(setUp);
  auto [program, words] = launch(getdp, options);
  if (setUp.study.time) {
    program.progressIn = stepProgress(stepsIn(setUp.study.time->end, setUp.study.time->step));
  } else if (method.iterative) {
    program.progressIn = iterationProgress();
  }
  words.insert(words.end(), {solution.problemFile, "-solve", "Solve"});
  // Over time, the resolution prints as it goes.
  if (!setUp.study.time) words.insert(words.end(), {"-pos", "Post"});
  // Its Print of each step needs the third level of messages.
  words.insert(words.end(), {"-v", options.verbose ? "4" : setUp.study.time ? "3" : "2", "-ksp_converged_reason"});
  words.insert(words.end(), method.options.begin(), method.options.end());
  const auto running = Clock::now();
  std::string output;
  try {
    output = runProgram(program, words, setUp.scratch.string(), options, progress);
  } catch (const nimbo_exception &error) {
    throw nimbo_exception(error.what() + kept);
  }
  solution.solverSeconds = secondsSince(running);
  const auto [iterations, reason] = iterationsIn(output);
  if (iterations < 0) {
    throw nimbo_exception("GetDP's " + method.name + " solver did not converge (" + reason +
                          "); give the study \"solver: direct\"" + kept);
  }
  solution.method = method.name;
  if (method.iterative) solution.iterations = iterations;

  const auto reading = Clock::now();
  const std::map<std::string, FigureSeries> figures = readFigures((setUp.scratch / figuresName).string());
  const auto series = [&](const std::string &key) -> const FigureSeries & {
    const auto found = figures.find(key);
    if (found == figures.end() || found->second.empty()) {
      throw nimbo_exception("GetDP did not print \"" + key + "\"" + kept);
    }
    return found->second;
  };
  // Steady, or at the end.
  const auto figure = [&](const std::string &key) { return series(key).back().second; };
  const MeshData &mesh = *setUp.mesh;
  std::vector<std::string> paths;
  for (const SolvePart &part : setUp.parts) paths.push_back(part.path);
  for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
    // GetDP integrates wrongly on elements far below a millimetre, without a word: its volume of
    // each part must be the mesh's, or every integral (flows, sources, means) is wrong too.
    const double volume = figure("part " + std::to_string(k + 1) + " volume") * 1e9;
    const double meshed = setUp.parts[k].volume;
    if (std::abs(volume - meshed) > 1e-6 * meshed) {
      throw nimbo_exception("GetDP measured " + setUp.parts[k].path + " as " + std::to_string(volume) +
                            " mm^3 where its mesh holds " + std::to_string(meshed) +
                            " mm^3, so its results would be wrong; a model this small may be in metres" + kept);
    }
  }
  if (setUp.study.time) {
    solution.transient = transientOf(setUp, series, paths, kept);
    solution.parts = partsAt(solution.transient->outputs.back());
  } else {
    // Each part's extremes at its nodes, and the grid, from the field printed once at the nodes.
    const std::vector<double> field = nodeField(mesh, (setUp.scratch / nodesName).string());
    writeFieldVtu((setUp.scratch / vtuName).string(), mesh, field,
                  setUp.study.physics == Physics::heat ? "temperature" : "potential", paths);
    for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
      const std::string key = "part " + std::to_string(k + 1);
      const auto [least, greatest] = extremesOver(mesh, field, setUp.parts[k].path);
      solution.parts.push_back({least, greatest, figure(key + " integral") / figure(key + " volume")});
    }
  }
  for (std::size_t b = 0; b < setUp.boundaries.size(); ++b) {
    solution.flows.push_back(figure("boundary " + std::to_string(b + 1) + " flow"));
  }
  if (figures.count("power")) {
    // Sources that stop are all on at time 0.
    const double applied = series("power").front().second;
    double asked = 0;
    for (const SolvePart &part : setUp.parts) asked += part.power;
    if (std::abs(applied - asked) > 1e-6 * std::abs(asked)) {
      throw nimbo_exception("GetDP applied " + std::to_string(applied) + " W of the " + std::to_string(asked) +
                            " W of sources asked" + kept);
    }
    solution.power = figure("power");
  }
  solution.readSeconds = secondsSince(reading);
  if (options.pos) solution.fieldFile = fieldName;
  solution.nodesFile = nodesName;
  solution.vtuFile = vtuName;
  solution.otherFiles = {figuresName, "results.json"};
  if (solution.transient) solution.otherFiles.insert(solution.otherFiles.end(), {stepsFolder, seriesName});
  return solution;
}

}  // namespace

const Solver &getdpSolver() {
  // GetDP reads only the older .msh format, and the user's SI numbers go to it unchanged in metres.
  static const Solver solver{MeshFormat::msh22, 0.001, find, solve};
  return solver;
}

}  // namespace nimbo::detail
