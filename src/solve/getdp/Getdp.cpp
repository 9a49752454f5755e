// A study handed to GetDP: the problem written beside the mesh, GetDP run on it, and its figures
// read back and checked against what was asked.
#include "Getdp.h"

#include "Problem.h"
#include "../Process.h"

#include <nimbo/nimbo_exception.h>

#include <Message_ProgressScope.hxx>

#include <chrono>
#include <cmath>
#include <fstream>
#include <map>

namespace nimbo::detail {
namespace {

using Clock = std::chrono::steady_clock;

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

Program getdpProgram(const std::string &path) { return {"GetDP", path, "getdp", errorIn}; }

std::string find(const SolveOptions &options) { return findProgram(getdpProgram(options.getdp)).path; }

Solution solve(const SetUp &setUp, const std::string &getdp, const SolveOptions &options,
               const Message_ProgressRange &progress) {
  Solution solution;
  solution.problemFile = setUp.stem + ".pro";
  {
    const std::filesystem::path problem = setUp.scratch / solution.problemFile;
    std::ofstream out(problem);
    out << problemText(setUp);
    if (!out.flush()) throw nimbo_exception("Cannot write " + problem.string());
  }
  // What went wrong from here on is looked into in the scratch folder, which is kept.
  const std::string kept = " (the problem is kept in " + setUp.scratch.string() + ")";
  const auto running = Clock::now();
  try {
    runProgram(getdpProgram(getdp), {solution.problemFile, "-solve", "Solve", "-pos", "Post", "-v", options.verbose ? "4" : "2"},
             setUp.scratch.string(), options, progress);
  } catch (const nimbo_exception &error) {
    throw nimbo_exception(error.what() + kept);
  }
  solution.solverSeconds = std::chrono::duration<double>(Clock::now() - running).count();

  const std::map<std::string, double> figures = readFigures((setUp.scratch / figuresName).string());
  const auto figure = [&](const std::string &key) {
    const auto found = figures.find(key);
    if (found == figures.end()) throw nimbo_exception("GetDP did not print \"" + key + "\"" + kept);
    return found->second;
  };
  for (std::size_t k = 0; k < setUp.parts.size(); ++k) {
    const std::string key = "part " + std::to_string(k + 1);
    // GetDP integrates wrongly on elements far below a millimetre, without a word: its volume of
    // each part must be the mesh's, or every integral (flows, sources, means) is wrong too.
    const double volume = figure(key + " volume") * 1e9;
    const double meshed = setUp.parts[k].volume;
    if (std::abs(volume - meshed) > 1e-6 * meshed) {
      throw nimbo_exception("GetDP measured " + setUp.parts[k].path + " as " + std::to_string(volume) +
                            " mm^3 where its mesh holds " + std::to_string(meshed) +
                            " mm^3, so its results would be wrong; a model this small may be in metres" + kept);
    }
    solution.parts.push_back({figure(key + " min"), figure(key + " max"), figure(key + " integral") / figure(key + " volume")});
  }
  for (std::size_t b = 0; b < setUp.boundaries.size(); ++b) {
    solution.flows.push_back(figure("boundary " + std::to_string(b + 1) + " flow"));
  }
  if (figures.count("power")) {
    solution.power = figure("power");
    double asked = 0;
    for (const SolvePart &part : setUp.parts) asked += part.power;
    if (std::abs(*solution.power - asked) > 1e-6 * std::abs(asked)) {
      throw nimbo_exception("GetDP applied " + std::to_string(*solution.power) + " W of the " + std::to_string(asked) +
                            " W of sources asked" + kept);
    }
  }
  solution.fieldFile = fieldName;
  solution.nodesFile = nodesName;
  solution.otherFiles = {figuresName};
  return solution;
}

}  // namespace

const Solver &getdpSolver() {
  // GetDP reads only the older .msh format, and the user's SI numbers go to it unchanged in metres.
  static const Solver solver{MeshFormat::msh22, 0.001, find, solve};
  return solver;
}

}  // namespace nimbo::detail
