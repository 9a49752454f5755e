// mesh: the solid parts of the files imprinted and meshed with Gmsh.
#include "route_options.h"
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <chrono>
#include <cstdio>

namespace {

struct Options {
  std::vector<std::string> files;
  std::string output;
  nimbo::RouteOptions route;
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
  printRouteLines(report, out);
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
  checkMeshOutput(options.output);
  const nimbo::Assembly read = readParts(options.files, OnTerminal(readingLabel(options.files)));
  const nimbo::Routed routed = about(subjectOf(options.files), [&] {
    return nimbo::meshParts(read.parts, options.output, options.route, nullptr, OnTerminal("Meshing"));
  });
  return {meshReport(options.files, options.output, options.route.mesh.format, routed, read.parts,
                     secondsSince(started) - routed.meshSeconds),
          printMesh, textOnlyKeys::mesh};
}

std::function<Plan()> defineMesh(CLI::App &command, const CommonOptions &common) {
  auto options = std::make_shared<Options>();
  command.add_option("FILE", options->files, "Shape files, meshed together")->required();
  command.add_option("-o,--output", options->output, "The mesh to write (.msh)")->required();
  command
      .add_option("--size", options->route.mesh.size, "Largest element size in mm (default: Gmsh's, from the model's size)")
      ->check(CLI::PositiveNumber);
  command.add_option("--max-elements", options->route.mesh.maxElements,
                     "Refuse before meshing a mesh of more elements (default: what fits in the memory at hand)")
      ->check(CLI::PositiveNumber);
  command.add_option("--order", options->route.mesh.order, "1 for linear elements, 2 for quadratic")->check(CLI::Range(1, 2));
  command
      .add_option_function<std::string>(
          "--format", [options](const std::string &name) { options->route.mesh.format = *nimbo::meshFormatNamed(name); },
          "msh4 (Gmsh's current .msh 4.1, the default) or msh2 (.msh 2.2, which GetDP reads)")
      ->check(CLI::IsMember({"msh4", "msh2"}));
  addRouteOptions(command, options->route);
  return [options, &common] {
    options->route.mesh.verbose = common.verbose;
    return Plan{workSubject(options->files, "mesh"), [options] { return meshFiles(*options); }, {options->output}};
  };
}

}  // namespace

extern const Subcommand mesh_command{
    "mesh", "Imprint the solid parts of FILE... and mesh them with Gmsh (.msh 4.1 or 2.2)", nullptr, defineMesh};
