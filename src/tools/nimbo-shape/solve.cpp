// solve: a study file meshed and solved (conduction by GetDP, stress and vibration by CalculiX) and
// reported per part and per boundary.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/html/Html.h>
#include <nimbo/solve/Solve.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

struct Options {
  std::string study;
  std::string output;
  std::string svg;
  std::string html;
  std::string view = "iso";
  nimbo::SolveOptions solve;
};

std::string figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string flowUnitOf(const json &report) {
  return report["physics"] == "heat" ? "W" : report["physics"] == "current" ? "A" : "C";
}

// The drawing's title; a structural one says how much its shape is deformed.
std::string fieldTitle(const nimbo::SolveResult &result, int mode, double deformation) {
  const nimbo::Physics physics = result.physics;
  const std::string shape = deformation > 0 ? ", deformed x" + figure(deformation) : "";
  const std::string at = result.transient ? " at " + figure(result.transient->time.end) + " s" : "";
  return physics == nimbo::Physics::heat         ? "temperature (degC)" + at
         : physics == nimbo::Physics::elasticity ? "von Mises stress (MPa)" + shape
         : physics == nimbo::Physics::modal ? "mode " + std::to_string(mode) + " displacement (mass-normalised)" + shape
                                            : "potential (V)";
}

std::string vector3(const json &v) {
  return "[" + figure(v[0].get<double>()) + ", " + figure(v[1].get<double>()) + ", " + figure(v[2].get<double>()) + "]";
}

// "wrote a, b, c": the files of the report, in this order, those it has.
void printWritten(const json &files, std::initializer_list<const char *> keys, std::ostream &out) {
  std::string written;
  for (const char *key : keys) {
    if (files.contains(key)) written += (written.empty() ? "wrote " : ", ") + files[key].get<std::string>();
  }
  out << written << '\n';
}

// A structural study's tables, with their heads, as the text and the page show them: its parts'
// figures (a modal study's parts and materials), its boundaries' forces, and its modes.
Rows structuralParts(const json &report) {
  const bool modal = report.contains("modes");
  Rows rows = {modal ? std::vector<std::string>{"part", "material"}
                     : std::vector<std::string>{"part", "material", "displacement max (mm)", "von Mises max (MPa)",
                                                "principal max (MPa)", "principal min (MPa)"}};
  for (const json &part : report["parts"]) {
    rows.push_back({textOf(part["path"]), textOf(part["material"])});
    if (modal) continue;
    for (const char *key : {"displacement_max", "von_mises_max", "principal_max", "principal_min"}) {
      rows.back().push_back(figure(part[key]));
    }
  }
  return rows;
}

Rows structuralBoundaries(const json &report) {
  Rows rows = {{"boundary", "faces", "area (mm^2)", "force (N)"}};
  for (const json &boundary : report["boundaries"]) {
    const bool held = boundary.contains("reaction");
    rows.push_back({textOf(boundary["name"]), textOf(boundary["faces"]), figure(boundary["area"]),
                    (held ? "reaction " : "applied ") + vector3(held ? boundary["reaction"] : boundary["applied"])});
  }
  return rows;
}

// The modes, with a last row summing the effective mass per direction: whether enough were asked for.
Rows structuralModes(const json &report) {
  Rows rows = {{"mode", "frequency (Hz)", "effective mass x", "y", "z"}};
  std::array<double, 3> sum{};
  for (const json &mode : report["modes"]) {
    const json &mass = mode["effective_mass"];
    rows.push_back(
        {textOf(mode["mode"]), figure(mode["frequency"]), figure(mass[0]), figure(mass[1]), figure(mass[2])});
    for (int d = 0; d < 3; ++d) sum[d] += mass[d].get<double>();
  }
  rows.push_back({"sum", "", figure(sum[0]), figure(sum[1]), figure(sum[2])});
  return rows;
}

// A structural study's tables and its line: per part, per boundary, probes or modes.
// "solver iterative (GMRES, BoomerAMG), 11 iterations, 2 processes"
std::string solverLine(const json &solver) {
  std::string line = "solver " + solver["method"].get<std::string>();
  if (solver.contains("iterations")) line += ", " + textOf(solver["iterations"]) + " iterations";
  if (solver["processes"].get<int>() > 1) line += ", " + textOf(solver["processes"]) + " processes";
  return line;
}

// "temperatures from joint_heat.yaml at 60 s, 20 to 41.2 degC, strain-free at 20 degC; its results in
// joint_thermal_stress_results/heat"
std::string temperatureLine(const json &temperature) {
  const bool uniform = temperature["source"] == "uniform";
  std::string line = uniform ? "temperature uniform " + figure(temperature["max"]) + " degC"
                             : "temperatures from " + temperature["source"].get<std::string>();
  if (!temperature["time"].is_null()) line += " at " + figure(temperature["time"]) + " s";
  if (!uniform) line += ", " + figure(temperature["min"]) + " to " + figure(temperature["max"]) + " degC";
  line += ", strain-free at " + figure(temperature["reference"]) + " degC";
  if (!uniform) line += "; its results in " + temperature["folder"].get<std::string>();
  return line;
}

// A heat study over time: each part at the output times, the peaks, and the energy balance.
void printTransient(const json &report, std::ostream &out) {
  Rows rows = {{"time (s)", "part", "min (degC)", "max (degC)", "mean (degC)"}};
  for (const json &step : report["steps"]) {
    for (const json &part : step["parts"]) {
      rows.push_back(
          {figure(step["time"]), textOf(part["path"]), figure(part["min"]), figure(part["max"]), figure(part["mean"])});
    }
  }
  printRows(rows, out);
  out << '\n';
  rows = {{"part", "peak (degC)", "at (s)"}};
  for (const json &peak : report["peaks"]) {
    rows.push_back({textOf(peak["path"]), figure(peak["max"]), figure(peak["time"])});
  }
  printRows(rows, out);
  out << '\n';
  rows = {{"time (s)", "stored (J)", "sources (J)", "boundaries (J)"}};
  for (const json &step : report["steps"]) {
    rows.push_back({figure(step["time"]), figure(step["stored"]), figure(step["sources"]), figure(step["boundaries"])});
  }
  printRows(rows, out);
  out << '\n';
}

void printStructural(const json &report, std::ostream &out) {
  const bool modal = report.contains("modes");
  if (!modal) {
    printRows(structuralParts(report), out);
    out << '\n';
    printRows(structuralBoundaries(report), out);
    out << '\n';
  }
  std::string worst;
  double greatest = -1;
  std::string reactions;
  if (!modal) {
    for (const json &part : report["parts"]) {
      if (part["von_mises_max"].get<double>() > greatest) {
        greatest = part["von_mises_max"];
        worst = part["path"];
      }
    }
    for (const json &boundary : report["boundaries"]) {
      if (boundary.contains("reaction")) {
        reactions +=
            (reactions.empty() ? "" : ", ") + boundary["name"].get<std::string>() + " " + vector3(boundary["reaction"]);
      }
    }
  }
  Rows rows;
  if (!modal && !report["probes"].empty()) {
    rows = {{"probe", "part", "displacement (mm)", "von Mises (MPa)", "principal (MPa)"}};
    for (const json &probe : report["probes"]) {
      rows.push_back({textOf(probe["name"]), textOf(probe["part"]), vector3(probe["displacement"]),
                      figure(probe["von_mises"]), vector3(probe["principal"])});
    }
    printRows(rows, out);
    out << '\n';
  }
  if (modal) {
    rows = structuralModes(report);
    printRows(rows, out);
    out << '\n';
  }
  for (const json &retry : report["mesh"].value("retries", json::array())) out << "retried " << textOf(retry) << '\n';
  const json &times = report["times"];
  char line[512];
  std::snprintf(line, sizeof line,
                "mesh %zu nodes, %zu elements; setup %.2f s, mesh %.2f s, write %.2f s, CalculiX %.2f s, read %.2f s",
                report["mesh"]["nodes"].get<std::size_t>(), report["mesh"]["elements"].get<std::size_t>(),
                times["setup"].get<double>(), times["mesh"].get<double>(), times["write"].get<double>(),
                times["calculix"].get<double>(), times["read"].get<double>());
  out << line;
  if (times.contains("heat")) {
    std::snprintf(line, sizeof line, ", heat study %.2f s", times["heat"].get<double>());
    out << line;
  }
  out << '\n' << solverLine(report["solver"]) << '\n';
  printWritten(report["files"], {"mesh", "input", "results", "vtu", "drawing", "page"}, out);
  if (report.contains("temperature")) out << temperatureLine(report["temperature"]) << '\n';
  out << "solved " << report["study"].get<std::string>() << ": ";
  if (modal) {
    const json &modes = report["modes"];
    const std::vector<std::string> &sum = rows.back();
    out << modes.size() << " modes from " << figure(modes.front()["frequency"]) << " to "
        << figure(modes.back()["frequency"]) << " Hz; effective mass x " << sum[2] << ", y " << sum[3] << ", z "
        << sum[4] << " of " << figure(report["mass"]) << " kg\n";
  } else {
    out << "von Mises up to " << figure(greatest) << " MPa in " << worst << "; reactions " << reactions
        << " N; balance " << figure(report["balance"]) << '\n';
  }
}

// Each part's boundary coloured by the field; the report's two tables, a part's row framing it.
nimbo::Page solvePage(const nimbo::SolveResult &result, const json &report, int mode, double deformation) {
  nimbo::Page page;
  page.title = "solve " + report["study"].get<std::string>();
  page.field.title = fieldTitle(result, mode, deformation);
  for (nimbo::PartSurface &part : nimbo::solvedPartSurfaces(result, deformation)) {
    page.field.pieces.push_back({part.path, std::move(part.surface)});
  }
  if (result.structural) {
    // The text's tables; a part's row frames it.
    const auto table = [](const char *id, const char *title, const Rows &rows, bool framing) {
      nimbo::PageTable page{id, title, rows.front(), {}};
      for (std::size_t k = 1; k < rows.size(); ++k) {
        page.rows.push_back({rows[k], framing ? std::vector<std::string>{rows[k][0]} : std::vector<std::string>{}});
      }
      return page;
    };
    page.tables = {table("parts", "Parts", structuralParts(report), true)};
    page.summary = std::to_string(result.nodes) + " nodes, " + std::to_string(result.elements) + " elements; ";
    if (report.contains("modes")) {
      page.tables.push_back(table("modes", "Modes", structuralModes(report), false));
      page.summary += std::to_string(report["modes"].size()) + " modes";
    } else {
      page.tables.push_back(table("boundaries", "Boundaries", structuralBoundaries(report), false));
      page.summary += "balance " + figure(report["balance"]);
    }
    return page;
  }
  const std::string unit = report["unit"];
  nimbo::PageTable parts{
      "parts", "Parts", {"part", "material", "min (" + unit + ")", "max (" + unit + ")", "mean (" + unit + ")"}, {}};
  for (const json &part : report["parts"]) {
    const std::string path = part["path"];
    const bool shown = std::any_of(page.field.pieces.begin(), page.field.pieces.end(),
                                   [&](const nimbo::PageFieldPiece &piece) { return piece.name == path; });
    parts.rows.push_back(
        {{path, textOf(part["material"]), figure(part["min"]), figure(part["max"]), figure(part["mean"])},
         shown ? std::vector<std::string>{path} : std::vector<std::string>{}});
  }
  nimbo::PageTable boundaries{
      "boundaries", "Boundaries", {"boundary", "faces", "area (mm^2)", "flow in (" + flowUnitOf(report) + ")"}, {}};
  for (const json &boundary : report["boundaries"]) {
    boundaries.rows.push_back(
        {{textOf(boundary["name"]), textOf(boundary["faces"]), figure(boundary["area"]), figure(boundary["flow"])},
         {}});
  }
  page.tables = {parts, boundaries};
  page.summary = std::to_string(result.nodes) + " nodes, " + std::to_string(result.elements) + " elements; ";
  if (!result.transient) {
    page.summary += "balance " + figure(result.balance);
    return page;
  }
  // Each output time on the slider (writePage keeps the last alone when they are too heavy).
  const std::vector<std::vector<std::vector<double>>> steps = nimbo::solvedSteps(result);
  for (std::size_t k = 0; k < steps.size(); ++k) {
    page.field.frames.push_back({"t = " + figure(result.transient->outputs[k].time) + " s", steps[k]});
  }
  page.field.title = "temperature (degC)";  // the slider says when
  nimbo::PageTable peaks{"peaks", "Peaks", {"part", "peak (degC)", "at (s)"}, {}};
  for (const json &peak : report["peaks"]) {
    peaks.rows.push_back({{textOf(peak["path"]), figure(peak["max"]), figure(peak["time"])}, {textOf(peak["path"])}});
  }
  page.tables.push_back(peaks);
  page.summary += std::to_string(result.transient->steps) + " steps to " + figure(result.transient->time.end) +
                  " s; energy balance " + figure(result.transient->balance);
  return page;
}

// The last line is the whole study in one line, for logs and `make run`.
void printSolve(const json &report, std::ostream &out) {
  if (!report.contains("unit")) return printStructural(report, out);
  const std::string unit = report["unit"];
  Rows rows = {{"part", "material", "min (" + unit + ")", "max (" + unit + ")", "mean (" + unit + ")"}};
  double least = 0, greatest = 0;
  for (const json &part : report["parts"]) {
    rows.push_back({textOf(part["path"]), textOf(part["material"]), figure(part["min"]), figure(part["max"]),
                    figure(part["mean"])});
    least = rows.size() == 2 ? part["min"].get<double>() : std::min(least, part["min"].get<double>());
    greatest = rows.size() == 2 ? part["max"].get<double>() : std::max(greatest, part["max"].get<double>());
  }
  printRows(rows, out);
  out << '\n';
  const std::string flowUnit = flowUnitOf(report);
  rows = {{"boundary", "faces", "area (mm^2)", "flow in (" + flowUnit + ")"}};
  std::string flows;
  for (const json &boundary : report["boundaries"]) {
    rows.push_back(
        {textOf(boundary["name"]), textOf(boundary["faces"]), figure(boundary["area"]), figure(boundary["flow"])});
    flows += (flows.empty() ? "" : ", ") + boundary["name"].get<std::string>() + " " + figure(boundary["flow"]) + " " +
             flowUnit;
  }
  printRows(rows, out);
  out << '\n';
  const bool transient = report.contains("steps");
  if (transient) printTransient(report, out);
  for (const json &retry : report["mesh"].value("retries", json::array())) out << "retried " << textOf(retry) << '\n';
  const json &times = report["times"];
  char line[512];
  std::snprintf(line, sizeof line,
                "mesh %zu nodes, %zu elements; setup %.2f s, mesh %.2f s, solve %.2f s (GetDP %.2f s, read %.2f s)",
                report["mesh"]["nodes"].get<std::size_t>(), report["mesh"]["elements"].get<std::size_t>(),
                times["setup"].get<double>(), times["mesh"].get<double>(), times["solve"].get<double>(),
                times["getdp"].get<double>(), times["read"].get<double>());
  out << line << '\n' << solverLine(report["solver"]) << '\n';
  printWritten(report["files"], {"mesh", "problem", "field", "vtu", "series", "drawing", "page"}, out);
  out << "solved " << report["study"].get<std::string>() << ": ";
  if (transient) {
    const json &energy = report["energy"];
    const json *hottest = &report["peaks"].front();
    for (const json &peak : report["peaks"]) {
      if (peak["max"].get<double>() > (*hottest)["max"].get<double>()) hottest = &peak;
    }
    out << report["time"]["steps"] << " steps to " << figure(report["time"]["end"]) << " s, " << figure(least) << " to "
        << figure(greatest) << " degC at the end over " << report["parts"].size() << " parts; peak "
        << figure((*hottest)["max"]) << " degC in " << (*hottest)["path"].get<std::string>() << " at "
        << figure((*hottest)["time"]) << " s; stored " << figure(energy["stored"]) << " J of sources "
        << figure(energy["sources"]) << " J and boundaries " << figure(energy["boundaries"]) << " J; balance "
        << figure(energy["balance"]) << '\n';
    return;
  }
  out << figure(least) << " to " << figure(greatest) << " " << unit << " over " << report["parts"].size() << " parts; "
      << flows;
  if (report["sources"].get<double>() != 0) out << "; sources " << figure(report["sources"]) << " W";
  out << "; balance " << figure(report["balance"]) << '\n';
}

// The study's own messages lead with its file, which the tool's error line names already.
template <typename Work>
auto aboutStudy(const std::string &study, Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const nimbo_exception &error) {
    std::string problem = error.what();
    if (problem.rfind(study + ": ", 0) == 0) problem.erase(0, study.size() + 2);
    throw file_error(study, problem, error.dump_path());
  } catch (const Standard_Failure &failure) {
    throw file_error(study, nimbo::kernelFailureText(failure));
  }
}

std::string resultFolder(const Options &options) {
  return options.output.empty() ? nimbo::defaultResultFolder(options.study) : options.output;
}

Outcome solveFile(const Options &options) {
  if (!options.svg.empty()) checkExtension(options.svg, ".svg", "--svg writes SVG (.svg)");
  if (!options.html.empty()) {
    checkExtension(options.html, ".html", "--html writes a web page (.html)");
    about("--html", [&] { nimbo::checkPageCanBeWritten(options.html); });
  }
  const nimbo::View seen = about(options.view, [&] { return nimbo::viewNamed(options.view); });
  const auto started = std::chrono::steady_clock::now();
  const nimbo::Study study = aboutStudy(options.study, [&] { return nimbo::readStudy(options.study); });
  for (const std::string &file : study.geometry) {
    try {
      checkReadableShapeFile(file);
    } catch (const file_error &error) {
      throw file_error(options.study, "geometry: " + error.subject() + ": " + error.what());
    }
  }
  const std::string folder = resultFolder(options);
  const nimbo::SolveResult result =
      aboutStudy(options.study, [&] { return nimbo::solveStudy(study, folder, options.solve, OnTerminal("Solving")); });
  const bool drawn = !options.svg.empty() || !options.html.empty();
  const double deformation = drawn ? aboutStudy(options.study, [&] { return nimbo::deformationScale(result); }) : 0.0;

  if (!options.svg.empty()) {
    writeTextFile(aboutStudy(options.study,
                             [&] {
                               return nimbo::renderFieldSvg(nimbo::solvedSurface(result, deformation),
                                                            fieldTitle(result, options.solve.mode, deformation), seen);
                             }),
                  options.svg);
  }
  json report = solveReport(options.study, result, options.svg, 0.0, options.html);
  if (!options.html.empty()) {
    aboutStudy(options.study,
               [&] { nimbo::writePage(solvePage(result, report, options.solve.mode, deformation), options.html); });
  }
  report["times"]["total"] = secondsSince(started);
  return {report, printSolve, textOnlyKeys::solve};
}

std::function<Plan()> defineSolve(CLI::App &command, const CommonOptions &common) {
  auto options = std::make_shared<Options>();
  command.add_option("STUDY", options->study, "The study (.yaml): geometry, physics, mesh, materials, boundaries")
      ->required();
  command.add_option("-o,--output", options->output,
                     "The folder for the mesh, the GetDP problem and the field (default: STUDY's name with "
                     "\"_results\", beside it)");
  command.add_option("--svg", options->svg, "Also draw the outer surface coloured by the field (.svg)");
  command.add_option("--html", options->html,
                     "Also write a 3D page (.html) of each part coloured by the field, with the tables");
  command.add_option("--view", options->view,
                     "The drawing's view: iso, front, back, top, bottom, left, right, or X,Y,Z");
  command.add_option("--getdp", options->solve.getdp, "The GetDP executable (default: getdp on PATH)");
  command.add_option("--ccx", options->solve.ccx, "The CalculiX executable (default: ccx on PATH)");
  command.add_option("--threads", options->solve.threads, "CalculiX's threads (default: one per core)")
      ->check(CLI::PositiveNumber);
  command
      .add_option("--processes", options->solve.processes,
                  "GetDP's MPI processes, started by mpirun (default: 1, no MPI)")
      ->check(CLI::PositiveNumber);
  command.add_option("--launcher", options->solve.launcher,
                     "What starts GetDP's MPI processes in place of \"mpirun -np N\", as \"srun\" in a Slurm job");
  command.add_flag("--pos", options->solve.pos, "GetDP studies: also write the field as a Gmsh view (field.pos)");
  command
      .add_option("--max-elements", options->solve.maxElements,
                  "Refuse before meshing a mesh of more elements (default: what fits in the memory at hand)")
      ->check(CLI::PositiveNumber);
  command.add_option("--mode", options->solve.mode, "Modal studies: the mode drawn by --svg and --html (default: 1)")
      ->check(CLI::PositiveNumber);
  return [options, &common] {
    options->solve.verbose = common.verbose;
    std::vector<std::string> outputs;
    if (!options->svg.empty()) outputs.push_back(options->svg);
    if (!options->html.empty()) outputs.push_back(options->html);
    return Plan{options->study, [options] { return solveFile(*options); }, outputs,
                [options] { nimbo::clearScratch(resultFolder(*options)); }};
  };
}

}  // namespace

extern const Subcommand solve_command{
    "solve",
    "Mesh and solve the study STUDY.yaml: steady conduction with GetDP, stress or vibration with CalculiX; report per "
    "part and per boundary",
    nullptr, defineSolve};
