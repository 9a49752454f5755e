// The reports of what needs Gmsh: built only with it.
#include "frontend/Reports.h"

json meshReport(const std::vector<std::string> &files, const std::string &output, nimbo::MeshFormat format,
                const nimbo::Routed &routed, const std::vector<nimbo::Part> &given, double imprintSeconds) {
  const nimbo::Imprint &imprint = routed.prepared.imprint;
  const nimbo::MeshSummary &summary = routed.summary;
  std::size_t solids = 0;
  for (const nimbo::ImprintedPart &part : imprint.parts) solids += part.solids.size();
  json parts = json::array();
  for (const nimbo::MeshedPart &part : summary.parts) {
    parts.push_back({{"path", part.path}, {"elements", part.elements}, {"nodes", part.nodes}});
  }
  json interfaces = json::array();
  for (const nimbo::MeshedInterface &interface : summary.interfaces) {
    interfaces.push_back({{"name", interface.name}, {"nodes", interface.nodes}});
  }
  json report = {{"files", files},   {"output", output},         {"format", nimbo::toString(format)},
                 {"solids", solids}, {"nodes", summary.nodes},   {"elements", summary.elements},
                 {"parts", parts},   {"interfaces", interfaces}, {"retries", summary.retries}};
  if (imprint.fuzzy > 0.0) report["fuzzy"] = imprint.fuzzy;
  if (routed.prepared.healing) report["healing"] = healingJson(*routed.prepared.healing, given);
  report["imprint_seconds"] = imprintSeconds;
  report["mesh_seconds"] = routed.meshSeconds;
  return report;
}

namespace {

json xyz(const gp_Pnt &p) { return json::array({p.X(), p.Y(), p.Z()}); }

// A structural study's figures: per part, per boundary, at the probes, and its modes.
json structuralReport(const nimbo::StructuralResult &result) {
  json parts = json::array();
  for (const nimbo::StructuralPartResult &part : result.parts) {
    if (!result.modes.empty()) {
      parts.push_back({{"path", part.path}, {"material", part.material}});  // modes have no stress to report
      continue;
    }
    parts.push_back({{"path", part.path},
                     {"material", part.material},
                     {"displacement_max", part.displacementMax},
                     {"displacement_at", xyz(part.displacementAt)},
                     {"von_mises_max", part.vonMisesMax},
                     {"von_mises_at", xyz(part.vonMisesAt)},
                     {"principal_max", part.principalMax},
                     {"principal_min", part.principalMin}});
  }
  json boundaries = json::array();
  for (const nimbo::StructuralBoundaryResult &boundary : result.boundaries) {
    boundaries.push_back({{"name", boundary.name}, {"faces", boundary.faces}, {"area", boundary.area}});
    // Modes carry no forces.
    if (result.modes.empty()) boundaries.back()[boundary.held ? "reaction" : "applied"] = boundary.force;
  }
  json probes = json::array();
  for (const nimbo::ProbeResult &probe : result.probes) {
    probes.push_back({{"name", probe.name},
                      {"point", xyz(probe.point)},
                      {"part", probe.part},
                      {"displacement", probe.displacement},
                      {"stress", probe.stress},
                      {"von_mises", probe.vonMises},
                      {"principal", probe.principal}});
  }
  json report = {{"units", {{"length", "mm"}, {"force", "N"}, {"stress", "MPa"}, {"frequency", "Hz"}, {"mass", "kg"}}},
                 {"parts", parts},
                 {"boundaries", boundaries},
                 {"mass", result.mass}};
  if (const auto &t = result.temperature) {
    report["temperature"] = {{"source", t->source}, {"time", orNull(t->time)}, {"reference", t->reference},
                             {"min", t->min},       {"max", t->max},           {"folder", t->folder}};
  }
  if (!result.modes.empty()) {
    json modes = json::array();
    for (const nimbo::ModeResult &mode : result.modes) {
      modes.push_back({{"mode", mode.mode}, {"frequency", mode.frequency}, {"effective_mass", mode.effectiveMass}});
    }
    report["modes"] = modes;
  } else {
    report["weight"] = result.weight;
    report["balance"] = result.balance;
    report["probes"] = probes;
  }
  return report;
}

// The mesh's counts (and its retries, only when meshing took more than one try) and the files
// written, under the names the solver's kind gives its input and its own results.
std::pair<json, json> meshAndFiles(const nimbo::SolveResult &result, const char *input, const char *results,
                                   const std::string &drawing, const std::string &page) {
  json mesh = {{"nodes", result.nodes}, {"elements", result.elements}};
  if (!result.retries.empty()) mesh["retries"] = result.retries;
  json files = {{"mesh", result.meshFile}, {input, result.problemFile}};
  if (!result.fieldFile.empty()) files[results] = result.fieldFile;
  if (!result.vtuFile.empty()) files["vtu"] = result.vtuFile;
  if (!drawing.empty()) files["drawing"] = drawing;
  if (!page.empty()) files["page"] = page;
  return {mesh, files};
}

// How the linear system was solved, which with its iterations tells where a large study's time went.
json solverEntry(const nimbo::SolveResult &result) {
  json solver = {{"method", result.solver}, {"processes", result.processes}};
  if (result.iterations > 0) solver["iterations"] = result.iterations;
  return solver;
}

// A heat study over time: its steps, each part at the output times, the peaks and the energy balance.
void addTransient(const nimbo::TransientResult &transient, json &report) {
  const nimbo::TimeStepping &time = transient.time;
  report["time"] = {{"end", time.end},         {"step", time.step},   {"theta", time.theta},
                    {"initial", time.initial}, {"every", time.every}, {"steps", transient.steps}};
  json steps = json::array();
  for (const nimbo::TransientStep &step : transient.outputs) {
    json parts = json::array();
    for (const nimbo::PartResult &part : step.parts) {
      parts.push_back({{"path", part.path}, {"min", part.min}, {"max", part.max}, {"mean", part.mean}});
    }
    steps.push_back({{"time", step.time},
                     {"parts", parts},
                     {"stored", step.stored},
                     {"sources", step.sources},
                     {"boundaries", step.boundaries},
                     {"vtu", step.vtuFile}});
  }
  report["steps"] = steps;
  json peaks = json::array();
  for (std::size_t k = 0; k < transient.peaks.size(); ++k) {
    peaks.push_back({{"path", transient.outputs.back().parts[k].path},
                     {"max", transient.peaks[k].value},
                     {"time", transient.peaks[k].time}});
  }
  report["peaks"] = peaks;
  const nimbo::TransientStep &end = transient.outputs.back();
  report["energy"] = {
      {"stored", end.stored}, {"sources", end.sources}, {"boundaries", end.boundaries}, {"balance", transient.balance}};
}

}  // namespace

json solveReport(const std::string &study, const nimbo::SolveResult &result, const std::string &drawing, double seconds,
                 const std::string &page) {
  if (result.structural) {
    json report = {{"study", study}, {"physics", nimbo::toString(result.physics)}};
    report.update(structuralReport(*result.structural));
    const auto [mesh, files] = meshAndFiles(result, "input", "results", drawing, page);
    report["mesh"] = mesh;
    report["solver"] = solverEntry(result);
    report["times"] = {{"setup", result.setupSeconds},
                       {"mesh", result.meshSeconds},
                       {"write", result.writeSeconds},
                       {"calculix", result.getdpSeconds},
                       {"read", result.readSeconds},
                       {"solve", result.solveSeconds},
                       {"total", seconds}};
    if (const auto &heated = result.structural->temperature; heated && !heated->folder.empty()) {
      report["times"]["heat"] = heated->seconds;
    }
    report["files"] = files;
    return report;
  }
  json parts = json::array();
  for (const nimbo::PartResult &part : result.parts) {
    parts.push_back(
        {{"path", part.path}, {"material", part.material}, {"min", part.min}, {"max", part.max}, {"mean", part.mean}});
  }
  json boundaries = json::array();
  for (const nimbo::BoundaryResult &boundary : result.boundaries) {
    boundaries.push_back(
        {{"name", boundary.name}, {"faces", boundary.faces}, {"area", boundary.area}, {"flow", boundary.flow}});
  }
  auto [mesh, files] = meshAndFiles(result, "problem", "field", drawing, page);
  if (result.transient) files["series"] = result.transient->seriesFile;
  json report = {{"study", study},
                 {"physics", nimbo::toString(result.physics)},
                 {"unit", nimbo::unitOf(result.physics)},
                 {"parts", parts},
                 {"boundaries", boundaries},
                 {"sources", result.sources},
                 {"balance", result.balance},
                 {"mesh", mesh},
                 {"solver", solverEntry(result)},
                 {"times",
                  {{"setup", result.setupSeconds},
                   {"mesh", result.meshSeconds},
                   {"write", result.writeSeconds},
                   {"getdp", result.getdpSeconds},
                   {"read", result.readSeconds},
                   {"solve", result.solveSeconds},
                   {"total", seconds}}},
                 {"files", files}};
  if (result.transient) addTransient(*result.transient, report);
  return report;
}
