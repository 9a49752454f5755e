// imprint: the solid parts of the files fused into one conformal compound, written as BREP.
#include "route_options.h"
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <chrono>
#include <cstdio>

void addRouteOptions(CLI::App &command, nimbo::RouteOptions &options) {
  command.add_flag("--assign-overlaps", options.imprint.assignOverlaps,
                   "Give each common region of overlapping parts to the earlier part instead of refusing");
  command.add_flag("--heal", options.heal, "Heal the parts for the element size first, as heal does");
}

void printRouteLines(const json &report, std::ostream &out) {
  if (report.contains("healing")) {
    const json &healing = report["healing"];
    std::size_t changed = 0;
    for (const json &part : healing["parts"]) changed += !part["steps"].empty();
    out << "healed " << changed << " of " << healing["parts"].size() << " parts for an element size of "
        << textOf(healing["size"]) << " mm\n";
  }
  if (report.contains("fuzzy")) out << "fused with a fuzzy value of " << textOf(report["fuzzy"]) << " mm\n";
}

namespace {

struct Options {
  std::vector<std::string> files;
  std::string output;
  nimbo::RouteOptions route;
  std::string glue = "auto";
};

void printImprint(const json &report, std::ostream &out) {
  Rows rows = {{"part", "solids", "volume", "boundary_faces"}};
  std::size_t solids = 0;
  for (const json &part : report["parts"]) {
    rows.push_back(
        {textOf(part["path"]), joined(part["solids"]), textOf(part["volume"]), textOf(part["boundary_faces"])});
    solids += part["solids"].size();
  }
  printRows(rows, out);
  out << '\n';
  rows = {{"interface", "faces", "area"}};
  std::size_t faces = 0;
  for (const json &interface : report["interfaces"]) {
    rows.push_back({textOf(interface["first"]) + " | " + textOf(interface["second"]), joined(interface["faces"]),
                    textOf(interface["area"])});
    faces += interface["faces"].size();
  }
  for (const json &region : report.value("assigned", json::array())) {
    rows.push_back({"assigned to " + textOf(region["kept"]) + " from " + textOf(region["lost"]), "",
                    "volume " + textOf(region["volume"])});
  }
  printRows(rows, out);
  out << '\n';
  printRouteLines(report, out);
  const json &times = report["times"];
  char summary[320];
  std::snprintf(summary, sizeof summary,
                "wrote %s: %zu solids of %zu parts, %zu shared faces in %zu interfaces, glue %s, %.2f s (fuse %.2f s, "
                "checks %.2f s)",
                report["output"].get<std::string>().c_str(), solids, report["parts"].size(), faces,
                report["interfaces"].size(), report["glue"].get<std::string>().c_str(), report["seconds"].get<double>(),
                times["fuse"].get<double>(), times["checks"].get<double>());
  out << summary << '\n';
}

Outcome imprintFiles(const Options &options) {
  const auto started = std::chrono::steady_clock::now();
  checkImprintOutput(options.output);
  const nimbo::Assembly read = readParts(options.files, OnTerminal(readingLabel(options.files)));
  nimbo::RouteOptions route = options.route;
  route.imprint.glue = *nimbo::glueNamed(options.glue);
  const nimbo::Prepared prepared =
      about(subjectOf(options.files), [&] { return nimbo::prepareParts(read.parts, route, OnTerminal("Imprinting")); });
  writeShapeFile(prepared.imprint.compound, options.output);
  return {imprintReport(options.files, options.output, prepared, read.parts, secondsSince(started)), printImprint,
          textOnlyKeys::imprint};
}

std::function<Plan()> defineImprint(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("FILE", options->files, "Shape files, imprinted together")->required();
  command.add_option("-o,--output", options->output, "The compound to write (.brep)")->required();
  addRouteOptions(command, options->route);
  command.add_option("--size", options->route.mesh.size, "With --heal: the element size to heal for, in mm")
      ->check(CLI::PositiveNumber);
  command.add_option("--fuzzy", options->route.imprint.fuzzy, "Close gaps and overlaps narrower than this, in mm")
      ->check(CLI::NonNegativeNumber);
  command
      .add_option("--glue", options->glue,
                  "auto (chosen from how the parts' faces meet), off, shift (faces coincide in part) or full "
                  "(coincide whole)")
      ->check(CLI::IsMember({"auto", "off", "shift", "full"}));
  return [options] {
    return Plan{
        workSubject(options->files, "imprint"), [options] { return imprintFiles(*options); }, {options->output}};
  };
}

}  // namespace

extern const Subcommand imprint_command{
    "imprint", "Fuse the solid parts of FILE... into one conformal compound whose touching parts share faces", nullptr,
    defineImprint};
