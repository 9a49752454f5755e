// A study from geometry to figures: set up and refused before any meshing when it cannot be solved,
// meshed in metres, solved by GetDP in a scratch folder, and moved into place only when complete.
#include <nimbo/solve/Solve.h>

#include <nimbo/heal/Heal.h>
#include <nimbo/mesh/Mesh.h>
#include <nimbo/nimbo_exception.h>

#include "Getdp.h"
#include "Problem.h"

#include <BRep_Builder.hxx>
#include <Message_ProgressScope.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Compound.hxx>

#include <fnmatch.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

namespace nimbo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char *scratchPrefix = ".solving-";

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool matches(const std::string &glob, const std::string &path) { return fnmatch(glob.c_str(), path.c_str(), 0) == 0; }

[[noreturn]] void refuse(const Study &study, const std::string &what) {
  throw nimbo_exception((study.file.empty() ? std::string("the study") : study.file) + ": " + what);
}

std::string quoted(const std::string &name) { return "\"" + name + "\""; }

const char *fieldWord(Physics physics) { return physics == Physics::heat ? "temperature" : "potential"; }

// The faces of the compound by number, to name and measure them.
struct CompoundFaces {
  TopTools_IndexedMapOfShape faces;
  std::map<int, std::string> partOf;  // face number -> part path
};

CompoundFaces compoundFacesOf(const Imprint &imprinted) {
  CompoundFaces result;
  TopExp::MapShapes(imprinted.compound, TopAbs_FACE, result.faces);
  for (const ImprintedPart &part : imprinted.parts) {
    for (const int face : part.boundaryNumbers) result.partOf[face] = part.path;
  }
  return result;
}

TopoDS_Shape compoundOf(const CompoundFaces &faces, const std::vector<int> &numbers) {
  BRep_Builder builder;
  TopoDS_Compound compound;
  builder.MakeCompound(compound);
  for (const int number : numbers) builder.Add(compound, faces.faces(number));
  return compound;
}

// The checks that need the geometry but not the mesh: every refusal comes before meshing.
void checkBoundaries(const Study &study, const std::vector<std::vector<int>> &selected, const CompoundFaces &faces) {
  std::map<int, std::size_t> takenBy;
  for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
    const Boundary &boundary = study.boundaries[b];
    if (selected[b].empty())
      refuse(study, "boundary " + quoted(boundary.name) + " selects no face of the outer boundary");
    for (const int face : selected[b]) {
      const auto [at, fresh] = takenBy.emplace(face, b);
      if (!fresh) {
        refuse(study, "boundaries " + quoted(study.boundaries[at->second].name) + " and " + quoted(boundary.name) +
                          " both select face " + std::to_string(face) + " of " + faces.partOf.at(face) +
                          "; each face takes one condition");
      }
    }
  }
  // A fixed boundary is one group of nodes whose reaction is its flow; two that share a node would
  // each claim it.
  std::vector<std::pair<std::size_t, TopTools_IndexedMapOfShape>> fixed;
  for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
    if (study.boundaries[b].condition != Condition::fixed) continue;
    TopTools_IndexedMapOfShape vertices;
    TopExp::MapShapes(compoundOf(faces, selected[b]), TopAbs_VERTEX, vertices);
    for (const auto &[other, otherVertices] : fixed) {
      for (int v = 1; v <= vertices.Extent(); ++v) {
        if (otherVertices.Contains(vertices(v))) {
          refuse(study, "boundaries " + quoted(study.boundaries[other].name) + " and " +
                            quoted(study.boundaries[b].name) + " both fix the " + fieldWord(study.physics) +
                            " and touch, so their flows cannot be told apart; make them one boundary");
        }
      }
    }
    fixed.emplace_back(b, std::move(vertices));
  }
  bool determined = !fixed.empty();
  for (const Boundary &boundary : study.boundaries) determined |= boundary.condition == Condition::convection;
  if (!determined) {
    refuse(study, std::string("no boundary fixes the ") + fieldWord(study.physics) +
                      (study.physics == Physics::heat ? " or has convection" : "") +
                      ", so the solution is not unique; add one");
  }
}

// Moves a finished file into the result folder, replacing an earlier one.
std::string moveInto(const fs::path &from, const fs::path &folder) {
  const fs::path to = folder / from.filename();
  fs::rename(from, to);
  return to.string();
}

}  // namespace

SolveResult solveStudy(const Study &study, const std::string &folder, const SolveOptions &options,
                       const Message_ProgressRange &progress) {
  Message_ProgressScope scope(progress, "Solving", 100);
  const auto started = Clock::now();
  if (study.materials.empty()) refuse(study, "no material is given");
  const std::string getdp = detail::findGetdp(options.getdp);

  Assembly assembly = readAssemblies(study.geometry, scope.Next(10));
  if (study.heal) {
    HealOptions heal;
    heal.size = study.size;
    assembly.parts = healParts(assembly.parts, heal, scope.Next(5)).parts;
  }
  const Imprint imprinted = imprintAssembly(assembly.parts, {}, scope.Next(15));
  if (scope.UserBreak()) throw nimbo_exception("Solving stopped");

  std::vector<detail::ProblemPart> parts;
  for (const ImprintedPart &part : imprinted.parts) {
    const Material *material = nullptr;
    for (const Material &candidate : study.materials) {
      if (matches(candidate.parts, part.path)) {
        material = &candidate;
        break;
      }
    }
    if (!material) refuse(study, "part " + quoted(part.path) + " has no material: no glob under materials matches it");
    parts.push_back({0, part.path, material->name.empty() ? material->parts : material->name, material->value, 0.0});
  }
  std::vector<double> power(parts.size(), 0.0);
  for (std::size_t s = 0; s < study.sources.size(); ++s) {
    bool any = false;
    for (std::size_t k = 0; k < parts.size(); ++k) {
      if (!matches(study.sources[s].parts, parts[k].path)) continue;
      power[k] += study.sources[s].power;
      any = true;
    }
    if (!any)
      refuse(study,
             "source " + std::to_string(s + 1) + ": " + quoted(study.sources[s].parts) + " matches no solid part");
  }

  std::vector<FaceSelector> selectors;
  for (const Boundary &boundary : study.boundaries) selectors.push_back(boundary.faces);
  const std::vector<std::vector<int>> selected = selectFaces(imprinted, selectors);
  const CompoundFaces faces = compoundFacesOf(imprinted);
  checkBoundaries(study, selected, faces);
  SolveResult result;
  result.physics = study.physics;
  result.setupSeconds = secondsSince(started);

  // The work happens in a scratch folder beside the results, so that they appear only complete.
  fs::create_directories(folder);
  const std::string stem = study.file.empty() ? "study" : fs::path(study.file).stem().string();
  // Named by the process (which clearScratch asks after) and a count, for threads solving at once.
  static std::atomic<unsigned> runs{0};
  const fs::path scratch = fs::path(folder) / (scratchPrefix + std::to_string(getpid()) + "-" + std::to_string(++runs));
  clearScratch(folder);
  fs::create_directory(scratch);
  const fs::path meshFile = scratch / (stem + ".msh");

  const auto meshing = Clock::now();
  MeshOptions meshOptions;
  meshOptions.size = study.size;
  meshOptions.order = study.order;
  meshOptions.format = MeshFormat::msh22;
  meshOptions.scale = 0.001;
  meshOptions.verbose = options.verbose;
  for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
    meshOptions.surfaces.push_back({study.boundaries[b].name, selected[b]});
  }
  MeshSummary meshed;
  try {
    meshed = meshAssembly(imprinted, meshFile.string(), meshOptions, scope.Next(30));
  } catch (...) {
    fs::remove_all(scratch);
    throw;
  }
  result.meshSeconds = secondsSince(meshing);
  result.nodes = meshed.nodes;
  result.elements = meshed.elements;

  const auto solving = Clock::now();
  for (std::size_t k = 0; k < parts.size(); ++k) {
    parts[k].physical = meshed.parts[k].physical;
    // Spread over the volume as meshed (in m^3), so that exactly the power asked for goes in.
    if (power[k] != 0) parts[k].density = power[k] / (meshed.parts[k].volume * 1e-9);
  }
  std::vector<detail::ProblemBoundary> boundaries;
  for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
    boundaries.push_back({meshed.surfaces[b].physical, &study.boundaries[b]});
  }
  const fs::path problemFile = scratch / (stem + ".pro");
  {
    std::ofstream out(problemFile);
    out << detail::problemText(study, parts, boundaries, meshFile.filename().string());
    if (!out.flush()) throw nimbo_exception("Cannot write " + problemFile.string());
  }
  const auto running = Clock::now();
  try {
    detail::runGetdp(
        getdp, {problemFile.filename().string(), "-solve", "Solve", "-pos", "Post", "-v", options.verbose ? "4" : "2"},
        scratch.string(), options, scope.Next(35));
  } catch (const nimbo_exception &error) {
    throw nimbo_exception(std::string(error.what()) + " (the problem is kept in " + scratch.string() + ")");
  }
  result.getdpSeconds = secondsSince(running);
  const std::map<std::string, double> figures = detail::readFigures((scratch / detail::figuresName).string());
  const auto figure = [&](const std::string &key) {
    const auto found = figures.find(key);
    if (found == figures.end()) {
      throw nimbo_exception("GetDP did not print \"" + key + "\" (the problem is kept in " + scratch.string() + ")");
    }
    return found->second;
  };

  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::string key = "part " + std::to_string(k + 1);
    // GetDP integrates wrongly on elements far below a millimetre, without a word: its volume of
    // each part must be the mesh's, or every integral (flows, sources, means) is wrong too.
    const double volume = figure(key + " volume") * 1e9;
    if (std::abs(volume - meshed.parts[k].volume) > 1e-6 * meshed.parts[k].volume) {
      throw nimbo_exception("GetDP measured " + parts[k].path + " as " + std::to_string(volume) +
                            " mm^3 where its mesh holds " + std::to_string(meshed.parts[k].volume) +
                            " mm^3, so its results would be wrong; a model this small may be in metres (the problem "
                            "is kept in " +
                            scratch.string() + ")");
    }
    result.parts.push_back({parts[k].path, parts[k].material, figure(key + " min"), figure(key + " max"),
                            figure(key + " integral") / figure(key + " volume")});
  }
  double sum = 0, inflow = 0;
  for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
    const double flow = figure("boundary " + std::to_string(b + 1) + " flow");
    const TopoDS_Shape selectedFaces = compoundOf(faces, selected[b]);
    const PartFigures measured =
        measurePart(Part{study.boundaries[b].name, study.boundaries[b].name, selectedFaces, {}});
    result.boundaries.push_back({study.boundaries[b].name, selected[b].size(), measured.area.value_or(0.0), flow});
    sum += flow;
    inflow += std::max(flow, 0.0);
  }
  if (figures.count("power")) {
    result.sources = figure("power");
    double asked = 0;
    for (const double watts : power) asked += watts;
    if (std::abs(result.sources - asked) > 1e-6 * std::abs(asked)) {
      throw nimbo_exception("GetDP applied " + std::to_string(result.sources) + " W of the " + std::to_string(asked) +
                            " W of sources asked (the problem is kept in " + scratch.string() + ")");
    }
    sum += result.sources;
    inflow += std::max(result.sources, 0.0);
  }
  result.balance = inflow > 0 ? sum / inflow : 0.0;

  result.meshFile = moveInto(meshFile, folder);
  result.problemFile = moveInto(problemFile, folder);
  result.fieldFile = moveInto(scratch / detail::fieldName, folder);
  result.nodesFile = moveInto(scratch / detail::nodesName, folder);
  moveInto(scratch / detail::figuresName, folder);
  fs::remove_all(scratch);
  result.solveSeconds = secondsSince(solving);
  return result;
}

void clearScratch(const std::string &folder) {
  std::error_code ignored;
  for (fs::directory_iterator entry(folder, ignored), end; entry != end; entry.increment(ignored)) {
    const std::string name = entry->path().filename().string();
    if (!entry->is_directory() || name.rfind(scratchPrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + std::strlen(scratchPrefix), nullptr, 10);
    // Only a run whose process has ended: another may be solving into the same folder right now.
    if (pid > 0 && pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      fs::remove_all(entry->path(), ignored);
    }
  }
}

std::vector<PartSurface> solvedPartSurfaces(const SolveResult &result) {
  const MeshData mesh = readMesh(result.meshFile);
  std::ifstream in(result.nodesFile);
  std::size_t count = 0;
  if (!(in >> count)) throw nimbo_exception("Cannot read the field at the nodes from " + result.nodesFile);
  std::map<std::size_t, double> valueOf;
  std::size_t node = 0;
  double value = 0;
  while (in >> node >> value) valueOf[node] = value;
  if (valueOf.size() != count) {
    throw nimbo_exception(result.nodesFile + " gives " + std::to_string(valueOf.size()) + " of its " +
                          std::to_string(count) + " node values");
  }
  // Only the nodes of each part's boundary, renumbered; the mesh is in metres.
  std::vector<PartSurface> surfaces;
  for (const PartResult &part : result.parts) {
    const auto triangles = mesh.surfaces.find(part.path);
    if (triangles == mesh.surfaces.end()) continue;
    FieldSurface surface;
    std::map<std::size_t, std::size_t> rowOf;
    for (const auto &triangle : triangles->second) {
      std::array<std::size_t, 3> rows{};
      for (int c = 0; c < 3; ++c) {
        const auto [at, fresh] = rowOf.emplace(triangle[c], surface.nodes.size());
        if (fresh) {
          const std::array<double, 3> &p = mesh.nodes[triangle[c]];
          const auto found = valueOf.find(mesh.nodeTags[triangle[c]]);
          if (found == valueOf.end()) {
            throw nimbo_exception(result.nodesFile + " has no value at node " +
                                  std::to_string(mesh.nodeTags[triangle[c]]));
          }
          surface.nodes.emplace_back(p[0] * 1000, p[1] * 1000, p[2] * 1000);
          surface.values.push_back(found->second);
        }
        rows[c] = at->second;
      }
      surface.triangles.push_back(rows);
    }
    surfaces.push_back({part.path, std::move(surface)});
  }
  return surfaces;
}

FieldSurface solvedSurface(const SolveResult &result) {
  FieldSurface all;
  for (const PartSurface &part : solvedPartSurfaces(result)) {
    const std::size_t offset = all.nodes.size();
    all.nodes.insert(all.nodes.end(), part.surface.nodes.begin(), part.surface.nodes.end());
    all.values.insert(all.values.end(), part.surface.values.begin(), part.surface.values.end());
    for (const auto &t : part.surface.triangles) all.triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
  }
  return all;
}

}  // namespace nimbo
