// A study from geometry to figures, whatever solves it: set up and refused before any meshing when it
// cannot be solved, meshed by the route for the solver, solved in a scratch folder, and moved into
// place only when complete.
#include <nimbo/solve/Solve.h>

#include <nimbo/nimbo_exception.h>
#include <nimbo/pipeline/Pipeline.h>

#include "Fields.h"
#include "Solver.h"

#include <BRepClass3d_SolidClassifier.hxx>
#include <BRep_Builder.hxx>
#include <Message_ProgressScope.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Compound.hxx>

#include <fnmatch.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>

namespace nimbo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char *scratchPrefix = ".solving-";

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool matches(const std::string &glob, const std::string &path) { return fnmatch(glob.c_str(), path.c_str(), 0) == 0; }

[[noreturn]] void refuse(const Study &study, const std::string &what) {
  throw input_error((study.file.empty() ? std::string("the study") : study.file) + ": " + what);
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
  bool determined = !fixed.empty() || isStructural(study.physics);  // a structural study's holds are read with it
  for (const Boundary &boundary : study.boundaries) determined |= boundary.condition == Condition::convection;
  if (!determined) {
    refuse(study, std::string("no boundary fixes the ") + fieldWord(study.physics) +
                      (study.physics == Physics::heat ? " or has convection" : "") +
                      ", so the solution is not unique; add one");
  }
}

// On or inside a solid of a part, within the kernel's tolerance of its faces.
bool insideAnyPart(const Imprint &imprinted, const gp_Pnt &point) {
  for (const ImprintedPart &part : imprinted.parts) {
    for (const TopoDS_Shape &solid : part.solids) {
      BRepClass3d_SolidClassifier classifier(solid, point, 1e-6);
      if (classifier.State() == TopAbs_IN || classifier.State() == TopAbs_ON) return true;
    }
  }
  return false;
}

// The study on one imprint: each solid part's material and power, and the faces of each boundary.
struct SetUpParts {
  std::vector<detail::SolvePart> parts;  ///< their regions and volumes once meshed
  std::vector<std::vector<int>> selected;
};

// Every refusal of the study that needs the geometry but not the mesh.
SetUpParts setUpParts(const Study &study, const Imprint &imprinted) {
  SetUpParts setUp;
  for (const ImprintedPart &part : imprinted.parts) {
    const Material *material = nullptr;
    for (const Material &candidate : study.materials) {
      if (matches(candidate.parts, part.path)) {
        material = &candidate;
        break;
      }
    }
    if (!material) refuse(study, "part " + quoted(part.path) + " has no material: no glob under materials matches it");
    setUp.parts.push_back({0, part.path, material, 0.0, 0.0, {}});
  }
  for (std::size_t s = 0; s < study.sources.size(); ++s) {
    bool any = false;
    for (detail::SolvePart &part : setUp.parts) {
      if (!matches(study.sources[s].parts, part.path)) continue;
      part.power += study.sources[s].power;
      part.sources.push_back(study.sources[s]);
      any = true;
    }
    if (!any)
      refuse(study,
             "source " + std::to_string(s + 1) + ": " + quoted(study.sources[s].parts) + " matches no solid part");
  }
  std::vector<FaceSelector> selectors;
  for (const Boundary &boundary : study.boundaries) selectors.push_back(boundary.faces);
  setUp.selected = selectFaces(imprinted, selectors);
  checkBoundaries(study, setUp.selected, compoundFacesOf(imprinted));
  for (const Probe &probe : study.probes) {
    if (!insideAnyPart(imprinted, probe.point)) {
      refuse(study, "probe " + quoted(probe.name) + " at (" + std::to_string(probe.point.X()) + ", " +
                        std::to_string(probe.point.Y()) + ", " + std::to_string(probe.point.Z()) +
                        ") lies outside every solid part");
    }
  }
  return setUp;
}

// Moves a finished file into the result folder, replacing an earlier one.
std::string moveInto(const fs::path &from, const fs::path &folder) {
  const fs::path to = folder / from.filename();
  fs::rename(from, to);
  return to.string();
}

}  // namespace

namespace {

// The heat study whose temperatures a structural study takes: read, on the same geometry, and ended at
// the time asked.
Study heatStudyOf(const Study &study) {
  const TemperatureLoad &load = *study.temperature;
  Study heat;
  try {
    heat = readStudy(load.study);
  } catch (const nimbo_exception &error) {
    refuse(study, std::string("temperature: study: ") + error.what());
  }
  if (heat.physics != Physics::heat) refuse(study, "temperature: study: " + load.study + " is not a heat study");
  const auto files = [](const Study &of) {
    std::vector<fs::path> paths;
    for (const std::string &file : of.geometry) paths.push_back(fs::weakly_canonical(file));
    return paths;
  };
  if (files(heat) != files(study)) {
    refuse(study, "temperature: study: " + load.study +
                      " reads other geometry than this study; the temperatures go "
                      "node by node onto the same mesh");
  }
  if (load.at) {
    if (!heat.time) refuse(study, "temperature: at: " + load.study + " is steady: it has no times");
    if (*load.at > heat.time->end * (1 + 1e-9) || detail::stepsIn(*load.at, heat.time->step) < 1) {
      refuse(study, "temperature: at: " + std::to_string(*load.at) + " s is not one of the steps of " + load.study +
                        " (every " + std::to_string(heat.time->step) + " s up to " + std::to_string(heat.time->end) +
                        " s)");
    }
    heat.time->end = *load.at;
    heat.time->every = 0;
  }
  return heat;
}

// Moves what a solver wrote in `scratch` into `folder`, and names it in the result.
void moveSolution(const detail::Solution &solution, const fs::path &scratch, const fs::path &folder,
                  SolveResult &result) {
  result.problemFile = moveInto(scratch / solution.problemFile, folder);
  if (!solution.fieldFile.empty()) result.fieldFile = moveInto(scratch / solution.fieldFile, folder);
  result.nodesFile = moveInto(scratch / solution.nodesFile, folder);
  for (const std::string &file : solution.otherFiles) {
    std::error_code ignored;
    fs::remove_all(folder / file, ignored);  // a folder of an earlier run is not replaced by a rename
    moveInto(scratch / file, folder);
  }
  if (!solution.vtuFile.empty()) result.vtuFile = moveInto(scratch / solution.vtuFile, folder);
  if (!solution.displacementFile.empty()) {
    result.displacementFile = moveInto(scratch / solution.displacementFile, folder);
  }
  if (solution.transient) {
    result.transient = solution.transient;
    for (TransientStep &step : result.transient->outputs) {
      step.nodesFile = (folder / step.nodesFile).string();
      step.vtuFile = (folder / step.vtuFile).string();
    }
    result.transient->seriesFile = (folder / "results.pvd").string();
  }
}

// A part's solver data on the mesh: its region and volume as meshed.
void placeParts(std::vector<detail::SolvePart> &parts, const MeshSummary &meshed) {
  for (std::size_t k = 0; k < parts.size(); ++k) {
    parts[k].physical = meshed.parts[k].physical;
    parts[k].volume = meshed.parts[k].volume;
  }
}

TemperatureResult temperatureRange(const std::vector<double> &temperatures) {
  TemperatureResult range;
  range.min = std::numeric_limits<double>::infinity();
  range.max = -range.min;
  for (const double t : temperatures) {
    if (std::isnan(t)) continue;
    range.min = std::min(range.min, t);
    range.max = std::max(range.max, t);
  }
  return range;
}

}  // namespace

SolveResult solveStudy(const Study &study, const std::string &folder, const SolveOptions &options,
                       const Message_ProgressRange &progress) {
  Message_ProgressScope scope(progress, "Solving", 100);
  const auto started = Clock::now();
  if (study.materials.empty()) refuse(study, "no material is given");
  const detail::Solver &solver = detail::solverFor(study.physics);
  const std::string program = solver.find(options);
  // A structural study under a heat study's temperatures solves that study first, on this study's mesh.
  const bool chained = study.temperature && !study.temperature->study.empty();
  const std::optional<Study> heat = chained ? std::optional<Study>(heatStudyOf(study)) : std::nullopt;
  const detail::Solver &heatSolver = detail::solverFor(Physics::heat);
  const std::string getdp = chained ? heatSolver.find(options) : "";

  const Assembly assembly = readAssemblies(study.geometry, scope.Next(10));
  const double readSeconds = secondsSince(started);
  const std::string stem = study.file.empty() ? "study" : fs::path(study.file).stem().string();
  const std::string heatStem = chained ? fs::path(heat->file).stem().string() : "";
  // The work happens in a scratch folder beside the results, so that they appear only complete.
  // Named by the process (which clearScratch asks after) and a count, for threads solving at once.
  static std::atomic<unsigned> runs{0};
  const fs::path scratch = fs::path(folder) / (scratchPrefix + std::to_string(getpid()) + "-" + std::to_string(++runs));
  const fs::path heatScratch = scratch / "heat";
  const fs::path meshFile = scratch / (stem + ".msh");
  const fs::path heatMeshFile = heatScratch / (heatStem + ".msh");

  RouteOptions route;
  route.heal = study.heal;
  route.imprint.assignOverlaps = study.assignOverlaps;
  route.mesh.size = study.size;
  route.mesh.order = study.order;
  route.mesh.format = solver.format;
  route.mesh.scale = solver.scale;
  route.mesh.verbose = options.verbose;
  route.mesh.maxElements = options.maxElements;
  route.mesh.binary = true;  // only the solvers and nimbo read it
  route.mesh.keepData = true;
  if (chained) {
    // One mesh, in the heat solver's file first and in this solver's as its copy.
    route.mesh.format = heatSolver.format;
    route.mesh.scale = heatSolver.scale;
    route.mesh.copy = meshFile.string();
    route.mesh.copyFormat = solver.format;
    route.mesh.copyScale = solver.scale;
  }
  // Set up again on each imprint the route meshes: healing may renumber the faces.
  SetUpParts setUp, heatSetUp;
  const auto surfacesOf = [&](const Prepared &prepared) {
    if (scope.UserBreak()) throw nimbo_exception("Solving stopped");
    setUp = setUpParts(study, prepared.imprint);
    std::vector<SurfaceGroup> surfaces;
    for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
      surfaces.push_back({study.boundaries[b].name, setUp.selected[b]});
    }
    std::vector<Refinement> refinements = study.refinements;
    if (heat) {
      heatSetUp = setUpParts(*heat, prepared.imprint);
      for (std::size_t b = 0; b < heat->boundaries.size(); ++b) {
        surfaces.push_back({"heat: " + heat->boundaries[b].name, heatSetUp.selected[b]});
      }
      refinements.insert(refinements.end(), heat->refinements.begin(), heat->refinements.end());
    }
    // After the boundaries, whose meshed surfaces go by their place.
    std::vector<FaceSelector> refined;
    for (const Refinement &refinement : refinements) refined.push_back(refinement.faces);
    const std::vector<std::vector<int>> faces = selectFaces(prepared.imprint, refined);
    for (std::size_t k = 0; k < faces.size(); ++k) {
      if (faces[k].empty()) {
        const bool own = k < study.refinements.size();
        refuse(own ? study : *heat, "mesh: refine " + std::to_string(own ? k + 1 : k + 1 - study.refinements.size()) +
                                        " selects no face of the outer boundary");
      }
      surfaces.push_back({"refine " + std::to_string(k + 1), faces[k], refinements[k].size});
    }
    // Folders only for a study that was not refused.
    fs::create_directories(folder);
    clearScratch(folder);
    fs::create_directories(chained ? heatScratch : scratch);
    return surfaces;
  };
  Routed routed;
  try {
    routed = meshParts(assembly.parts, (chained ? heatMeshFile : meshFile).string(), route, surfacesOf, scope.Next(50));
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    throw;
  }
  // What meshing freed goes back to the system before the solver starts: its peak and the solver's
  // add up (at a million elements, 0.3 GB of this process's 0.9 GB).
  malloc_trim(0);
  const MeshSummary &meshed = routed.summary;
  SolveResult result;
  result.physics = study.physics;
  result.setupSeconds = readSeconds + routed.imprintSeconds;
  result.meshSeconds = routed.meshSeconds;
  result.nodes = meshed.nodes;
  result.elements = meshed.elements;
  result.retries = meshed.retries;

  const auto solving = Clock::now();
  detail::SetUp handed{study, std::move(setUp.parts), {}, scratch, meshFile.filename().string(), stem, meshed.data, {}};
  placeParts(handed.parts, meshed);
  for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
    handed.boundaries.push_back({meshed.surfaces[b].physical, &study.boundaries[b]});
  }
  std::optional<TemperatureResult> temperature;
  std::optional<detail::Solution> heatSolution;  // moved into the results with this study's own
  if (chained) {
    detail::SetUp heated{
        *heat, std::move(heatSetUp.parts), {}, heatScratch, heatMeshFile.filename().string(), heatStem, meshed.data,
        {}};
    placeParts(heated.parts, meshed);
    for (std::size_t b = 0; b < heat->boundaries.size(); ++b) {
      heated.boundaries.push_back({meshed.surfaces[study.boundaries.size() + b].physical, &heat->boundaries[b]});
    }
    SolveOptions heatOptions = options;
    heatOptions.pos = false;
    const auto heating = Clock::now();
    const detail::Solution solved = heatSolver.solve(heated, getdp, heatOptions, scope.Next(20));
    handed.temperatures = detail::nodeField(*meshed.data, (heatScratch / solved.nodesFile).string());
    // This solver's coordinates from the heat solver's.
    auto scaled = std::make_shared<MeshData>(*meshed.data);
    for (auto &node : scaled->nodes) {
      for (double &c : node) c *= solver.scale / heatSolver.scale;
    }
    handed.mesh = scaled;
    heatSolution = solved;
    temperature = temperatureRange(handed.temperatures);
    temperature->source = study.temperature->study;
    if (heat->time) temperature->time = heat->time->end;
    temperature->folder = (fs::path(folder) / "heat").string();
    temperature->seconds = secondsSince(heating);
  } else if (study.temperature) {
    handed.temperatures.assign(meshed.data->nodes.size(), *study.temperature->uniform);
    temperature = temperatureRange(handed.temperatures);
    temperature->source = "uniform";
  }
  if (temperature) temperature->reference = study.temperature->reference;
  const detail::Solution solution = solver.solve(handed, program, options, scope.Next(chained ? 20 : 40));
  result.writeSeconds = solution.writeSeconds;
  result.getdpSeconds = solution.solverSeconds;
  result.readSeconds = solution.readSeconds;
  result.solver = solution.method;
  result.iterations = solution.iterations;
  result.processes = isStructural(study.physics) ? 1 : std::max(options.processes, 1);

  const CompoundFaces faces = compoundFacesOf(routed.prepared.imprint);
  const auto areaOf = [&](std::size_t b) {
    return measurePart(
               Part{study.boundaries[b].name, study.boundaries[b].name, compoundOf(faces, setUp.selected[b]), {}})
        .area.value_or(0.0);
  };
  result.structural = solution.structural;
  if (result.structural) {
    for (std::size_t b = 0; b < study.boundaries.size(); ++b) {
      StructuralBoundaryResult &boundary = result.structural->boundaries.at(b);
      boundary.name = study.boundaries[b].name;
      boundary.faces = setUp.selected[b].size();
      boundary.area = areaOf(b);
    }
    result.structural->temperature = temperature;
  }
  for (std::size_t k = 0; k < solution.parts.size(); ++k) {
    const detail::SolvePart &part = handed.parts[k];
    result.parts.push_back({part.path, detail::nameOf(*part.material), solution.parts[k].min, solution.parts[k].max,
                            solution.parts[k].mean});
  }
  double sum = 0, inflow = 0;
  for (std::size_t b = 0; b < solution.flows.size(); ++b) {
    const double flow = solution.flows[b];
    result.boundaries.push_back({study.boundaries[b].name, setUp.selected[b].size(), areaOf(b), flow});
    sum += flow;
    inflow += std::max(flow, 0.0);
  }
  if (solution.power) {
    result.sources = *solution.power;
    sum += result.sources;
    inflow += std::max(result.sources, 0.0);
  }
  result.balance = inflow > 0 ? sum / inflow : 0.0;

  result.meshFile = moveInto(meshFile, folder);
  moveSolution(solution, scratch, folder, result);
  if (heatSolution) {
    const fs::path heatFolder = temperature->folder;
    std::error_code ignored;
    fs::remove_all(heatFolder, ignored);
    fs::create_directories(heatFolder);
    SolveResult heatResult;
    moveInto(heatMeshFile, heatFolder);
    moveSolution(*heatSolution, heatScratch, heatFolder, heatResult);
  }
  // Over time, the flows need not balance: the parts store heat, which the energy balance counts.
  if (result.transient) result.balance = result.transient->balance;
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

}  // namespace nimbo
