// mesh: the solid parts of the files imprinted and meshed with Gmsh.
#include "heal_files.h"
#include "imprint_files.h"
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/mesh/Mesh.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

struct Options {
  std::vector<std::string> files;
  std::string output;
  ImprintChoices imprint;
  nimbo::MeshOptions mesh;
};

void printMesh(const json &report, std::ostream &out) {
  Rows rows = {{"part", "elements", "nodes"}};
  for (const json &part : report["parts"]) {
    rows.push_back({textOf(part["path"]), textOf(part["elements"]), textOf(part["nodes"])});
  }
  printRows(rows, out);
  out << '\n';
  rows = {{"interface", "nodes"}};
  for (const json &interface : report["interfaces"])
    rows.push_back({textOf(interface["name"]), textOf(interface["nodes"])});
  printRows(rows, out);
  out << '\n';
  if (report.contains("healing")) out << healingLine(report["healing"]) << '\n';
  for (const json &retry : report["retries"]) out << "retried " << textOf(retry) << '\n';
  char summary[320];
  std::snprintf(summary, sizeof summary,
                "wrote %s: %zu nodes, %zu volume elements in %zu parts, %zu interfaces; imprint %.2f s, mesh %.2f s",
                report["output"].get<std::string>().c_str(), report["nodes"].get<std::size_t>(),
                report["elements"].get<std::size_t>(), report["parts"].size(), report["interfaces"].size(),
                report["imprint_seconds"].get<double>(), report["mesh_seconds"].get<double>());
  out << summary << '\n';
}

Outcome meshFiles(const Options &options) {
  const auto started = std::chrono::steady_clock::now();
  checkExtension(options.output, ".msh", "mesh writes Gmsh's format (.msh)");
  const std::filesystem::path folder = std::filesystem::path(options.output).parent_path();
  if (!std::filesystem::is_directory(folder.empty() ? std::filesystem::path(".") : folder)) {
    throw tool_error(options.output, "the folder to write it in does not exist");
  }
  const nimbo::Assembly read = readParts(options.files);
  ImprintChoices choices = options.imprint;
  choices.size = options.mesh.size;
  Imprinted imprint = imprintOf(options.files, read, choices);
  const double imprint_seconds = secondsSince(started);
  const auto meshing = std::chrono::steady_clock::now();
  const auto meshOf = [&](const Imprinted &imprinted) {
    return about(subjectOf(options.files), [&] {
      const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Meshing");
      return nimbo::meshAssembly(imprinted.imprint, options.output, options.mesh,
                                 Message_ProgressIndicator::Start(progress));
    });
  };
  nimbo::MeshSummary summary;
  try {
    summary = meshOf(imprint);
  } catch (const tool_error &failure) {
    // What Gmsh cannot mesh with any of its algorithms may mesh once the parts are healed with ten
    // times the tolerances: edges up to a hundredth of the size merged, gaps up to a tenth closed.
    ImprintChoices wider = choices;
    wider.heal = true;
    wider.widen = 10;
    Imprinted healed;
    try {
      healed = imprintOf(options.files, read, wider);
      summary = meshOf(healed);
    } catch (const tool_error &) {
      throw failure;
    }
    summary.retries.push_back("healed with tolerances of " + textOf(0.01 * healed.healing["size"].get<double>()) +
                              " mm after: " + failure.what());
    imprint = healed;
  }
  const double mesh_seconds = secondsSince(meshing);
  return {meshReport(options.files, options.output, options.mesh.format, imprint.imprint, summary, imprint.healing,
                     imprint_seconds, mesh_seconds),
          printMesh, textOnlyKeys::mesh};
}

std::function<Plan()> defineMesh(CLI::App &command, const CommonOptions &common) {
  auto options = std::make_shared<Options>();
  command.add_option("FILE", options->files, "Shape files, meshed together")->required();
  command.add_option("-o,--output", options->output, "The mesh to write (.msh)")->required();
  command
      .add_option("--size", options->mesh.size, "Largest element size in mm (default: Gmsh's, from the model's size)")
      ->check(CLI::PositiveNumber);
  command.add_option("--order", options->mesh.order, "1 for linear elements, 2 for quadratic")->check(CLI::Range(1, 2));
  command
      .add_option_function<std::string>(
          "--format", [options](const std::string &name) { options->mesh.format = *nimbo::meshFormatNamed(name); },
          "msh4 (Gmsh's current .msh 4.1, the default) or msh2 (.msh 2.2, which GetDP reads)")
      ->check(CLI::IsMember({"msh4", "msh2"}));
  addImprintOptions(command, options->imprint);
  return [options, &common] {
    options->mesh.verbose = common.verbose;
    return Plan{workSubject(options->files, "mesh"), [options] { return meshFiles(*options); }, {options->output}};
  };
}

}  // namespace

extern const Subcommand mesh_command{
    "mesh", "Imprint the solid parts of FILE... and mesh them with Gmsh (.msh 4.1 or 2.2)", nullptr, defineMesh};
