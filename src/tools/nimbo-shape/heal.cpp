// heal: the parts of the files repaired so that they mesh, written as one STEP assembly that keeps
// their paths, names and colours (or as a BREP compound), with what was done to each part.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/heal/Heal.h>

#include <chrono>
#include <cstdio>

namespace {

void addHealOptions(CLI::App &command, nimbo::HealOptions &options) {
  command
      .add_option("--size", options.size,
                  "The element size H to heal for, in mm (default: Gmsh's, the diagonal of the parts' box)")
      ->check(CLI::PositiveNumber);
  command.add_flag("--defeature", options.defeature,
                   "Also remove holes, bosses and fillets narrower than H (changes the volume by what they held)");
}

struct Options {
  std::vector<std::string> files;
  std::string output;
  nimbo::HealOptions heal;
};

std::string beforeAfter(const json &counts) { return textOf(counts["before"]) + " -> " + textOf(counts["after"]); }

void printHeal(const json &report, std::ostream &out) {
  Rows rows = {{"part", "verdict", "faces", "edges", "solids", "volume change", "steps", "undone"}};
  std::size_t changed = 0;
  std::size_t ok = 0;
  for (const json &part : report["parts"]) {
    std::string steps;
    for (const json &step : part["steps"]) steps += (steps.empty() ? "" : ",") + step.get<std::string>();
    if (!part["sewn_into"].is_null()) steps += " into " + textOf(part["sewn_into"]);
    std::string undone;
    for (const json &step : part["undone"]) undone += (undone.empty() ? "" : ",") + step["step"].get<std::string>();
    rows.push_back({textOf(part["path"]), textOf(part["verdict"]), beforeAfter(part["faces"]),
                    beforeAfter(part["edges"]), beforeAfter(part["solids"]), textOf(part["volume"]["change"]), steps,
                    undone});
    changed += !part["steps"].empty();
    ok += part["verdict"] == "ok";
  }
  printRows(rows, out);
  rows = {};
  for (const json &part : report["parts"]) {
    for (const json &step : part["undone"])
      rows.push_back({textOf(part["path"]), "undid " + textOf(step["step"]), textOf(step["why"])});
  }
  if (!rows.empty()) {
    out << '\n';
    printRows(rows, out);
  }
  char summary[320];
  std::snprintf(summary, sizeof summary,
                "wrote %s: healed %zu of %zu parts for an element size of %s mm, %zu now ok (self-intersections "
                "aside: check finds those); %.2f s",
                report["output"].get<std::string>().c_str(), changed, report["parts"].size(),
                textOf(report["size"]).c_str(), ok, report["seconds"].get<double>());
  out << '\n' << summary << '\n';
}

Outcome healFiles(const Options &options) {
  const auto started = std::chrono::steady_clock::now();
  checkWritablePath(options.output);
  const nimbo::Assembly read = readParts(options.files, OnTerminal(readingLabel(options.files)));
  const nimbo::Healing healing =
      about(subjectOf(options.files), [&] { return nimbo::healParts(read.parts, options.heal, OnTerminal("Healing")); });
  about(options.output, [&] { nimbo::writeAssembly({"millimetre", healing.parts, {}}, options.output); });
  bool ok = true;
  for (const nimbo::PartHealing &part : healing.report) ok = ok && part.verdict == nimbo::Verdict::ok;
  return {healReport(options.files, options.output, healing, read.parts, secondsSince(started)), printHeal,
          textOnlyKeys::heal, ok ? 0 : 1};
}

std::function<Plan()> defineHeal(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("FILE", options->files, "Shape files, healed together")->required();
  command.add_option("-o,--output", options->output, "The healed assembly to write (.step, .stp or .brep)")->required();
  addHealOptions(command, options->heal);
  return [options] {
    return Plan{workSubject(options->files, "heal"), [options] { return healFiles(*options); }, {options->output}};
  };
}

}  // namespace

extern const Subcommand heal_command{
    "heal",
    "Repair the parts of FILE... so that they mesh at an element size; write them with their names (exit 1 "
    "unless all end ok)",
    nullptr, defineHeal};
